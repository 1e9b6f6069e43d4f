#!/bin/sh
# A view in --format latex, put in a document with booktabs alone, must compile under pdflatex.
#   latex_compiles.sh REPORT DATA_FOLDER VIEW [ARGUMENT]...
set -eu
report=$1 data=$2
shift 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Exit status 1: a diff with changes.
(cd "$data" && "$report" "$@" --format latex) > "$dir/view.tex" || [ $? -eq 1 ]
printf '%s\n' '\documentclass{article}' '\usepackage{booktabs}' '\begin{document}' '\tiny' \
  '\input{view}' '\end{document}' > "$dir/page.tex"
cd "$dir"
pdflatex -interaction=nonstopmode -halt-on-error page.tex > /dev/null || { grep '^!' page.log; exit 1; }
