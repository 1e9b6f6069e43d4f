#!/usr/bin/env bash
# Speed and memory of sift_runlog_report against pandas, printed as one Markdown table: the
# summary and the disagreements of a generated campaign (make_campaign --shared: four tools
# answering the same formulas, some wrong, some "?"), graded into one jsonl table, by
# sift_runlog_report and by bench/report_pandas.py (Debian's python3-pandas) over the same
# table. The two outputs are compared first: the figures are for the same result.
#
#   bash bench/report_run.sh
#
# Settings, from the environment:
#   MODELS=4808     models of the campaign: 52 answers a model and tool, about 1,000,000 in all
#   RUNS=3          samples per figure; the median is taken, after one warm-up round
#   SIFT_BENCH_DIR  keep the campaign in this directory instead of a temporary one
# Wall times mean something only on a quiet machine: the load average before and after is
# printed with the figures. Progress goes to standard error, the results to standard output.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
export LC_ALL=C

models=${MODELS:-4808}
runs=${RUNS:-3}
build=build/bench
report=$PWD/$build/sift_runlog_report
timer=$PWD/$build/bench/time_command
pandas_script=$PWD/bench/report_pandas.py
python=/usr/bin/python3

note() { printf '%s\n' "$*" >&2; }
# shellcheck source=bench/timing.sh
source bench/timing.sh

"$python" -c 'import pandas' 2>/dev/null ||
  { note "needs pandas for $python: apt-get install python3-pandas"; exit 2; }

note "building the bench preset"
cmake --preset bench >&2
cmake --build --preset bench -j2 >&2

if [[ -n ${SIFT_BENCH_DIR:-} ]]; then
  dir=$SIFT_BENCH_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d -t sift_report_bench.XXXXXX)
  trap 'rm -rf "$dir"' EXIT
fi

note "making a campaign of $models models, 4 examinations and 4 tools, and grading it"
rm -rf "$dir/campaign"
"$build/bench/make_campaign" --shared "$dir/campaign" "$models"
# Exit status 1: the campaign has failed logs on purpose.
"$build/sift_runlog_table" -q --format jsonl -o "$dir/campaign.jsonl" "$dir/campaign" 2>/dev/null ||
  [[ $? == 1 ]]
table=$dir/campaign.jsonl
answers=$("$report" answers --format csv "$table" | tail -n +2 | wc -l)

note "checking that both give the same summary and disagreements"
for view in summary disagreements; do
  "$report" "$view" --format csv "$table" | sort >"$dir/report.$view"
  "$python" "$pandas_script" "$view" "$table" | sort >"$dir/pandas.$view"
  cmp -s "$dir/report.$view" "$dir/pandas.$view" ||
    { note "the $view of sift_runlog_report and of pandas differ"; exit 1; }
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
printf '| View, %s answers | sift_runlog_report | pandas | Ratio | Peak memory, report / pandas |\n' \
  "$answers"
printf '|---|---:|---:|---:|---:|\n'
for view in summary disagreements; do
  note "timing the $view"
  side_by_side 1 "$report" "$view" --format csv "$table" -- \
    "$python" "$pandas_script" "$view" "$table"
  sample 1 "$report" "$view" --format csv "$table"
  report_kib=$sample_kib
  sample 1 "$python" "$pandas_script" "$view" "$table"
  pandas_kib=$sample_kib
  printf '| %s | %s | %s | %s times faster | %s / %s |\n' "$view" "$(time_text "$med_a")" \
    "$(time_text "$med_b")" "$(awk -v r="$med_ratio" 'BEGIN { printf "%.0f", 1 / r }')" \
    "$(bytes_text $((report_kib * 1024)))" "$(bytes_text $((pandas_kib * 1024)))"
done
printf '\nLoad average before and after: %s / %s; %s samples a figure, medians.\n' \
  "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)" "$runs"
