#!/usr/bin/env bash
# Speed and memory of sift_runlog_report, printed as two Markdown tables. First against pandas:
# the summary and the disagreements of a generated campaign (make_campaign --shared: four tools
# answering the same formulas, some wrong, some "?"), graded into one jsonl table, and the diff of
# that table and a second campaign made from it (some answers changed, given or lost, some logs
# gone), by sift_runlog_report and by bench/report_pandas.py (Debian's python3-pandas) over the
# same tables. The outputs are compared first: the figures are for the same result. Then the
# diff and the sqlite view (a database of the campaign) against the summary of the same table.
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
# The campaign after: every 500th log gone, and in some logs one answer changed, given or lost.
after=$dir/after.jsonl
awk 'NR % 500 == 0 { next }
     NR % 101 == 0 { sub(/"value":"TRUE"/, "\"value\":\"FALSE\"") }
     NR % 103 == 0 { sub(/"value":"[0-9]+"/, "\"value\":\"99999\"") }
     NR % 97 == 0 { sub(/"value":"\?"/, "\"value\":\"1\"") }
     NR % 89 == 0 { sub(/"value":"FALSE"/, "\"value\":\"?\"") }
     { print }' "$table" >"$after"
# diff exits with status 1 when something changed, as here.
diff_command=(sh -c '"$0" diff "$1" "$2"; [ $? = 1 ]' "$report" "$table" "$after")

note "checking that both give the same summary, disagreements and diff"
for view in summary disagreements diff; do
  if [[ $view == diff ]]; then
    "${diff_command[@]}" | sort >"$dir/report.$view"
    "$python" "$pandas_script" diff "$table" "$after" | sort >"$dir/pandas.$view"
  else
    "$report" "$view" --format csv "$table" | sort >"$dir/report.$view"
    "$python" "$pandas_script" "$view" "$table" | sort >"$dir/pandas.$view"
  fi
  cmp -s "$dir/report.$view" "$dir/pandas.$view" ||
    { note "the $view of sift_runlog_report and of pandas differ"; exit 1; }
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
printf '| View, %s answers | sift_runlog_report | pandas | Ratio | Peak memory, report / pandas |\n' \
  "$answers"
printf '|---|---:|---:|---:|---:|\n'
for view in summary disagreements diff; do
  note "timing the $view"
  if [[ $view == diff ]]; then
    ours=("${diff_command[@]}")
    theirs=("$python" "$pandas_script" diff "$table" "$after")
  else
    ours=("$report" "$view" --format csv "$table")
    theirs=("$python" "$pandas_script" "$view" "$table")
  fi
  side_by_side 1 "${ours[@]}" -- "${theirs[@]}"
  sample 1 "${ours[@]}"
  report_kib=$sample_kib
  sample 1 "${theirs[@]}"
  pandas_kib=$sample_kib
  printf '| %s | %s | %s | %s times faster | %s / %s |\n' "$view" "$(time_text "$med_a")" \
    "$(time_text "$med_b")" "$(awk -v r="$med_ratio" 'BEGIN { printf "%.0f", 1 / r }')" \
    "$(bytes_text $((report_kib * 1024)))" "$(bytes_text $((pandas_kib * 1024)))"
done
printf '\n| Against the summary of the same table | sift_runlog_report | summary | Ratio | Peak memory |\n'
printf '|---|---:|---:|---:|---:|\n'
for view in diff sqlite; do
  note "timing the $view against the summary"
  if [[ $view == diff ]]; then
    ours=("${diff_command[@]}")
  else
    ours=("$report" sqlite -o "$dir/campaign.db" "$table")
  fi
  side_by_side 1 "${ours[@]}" -- "$report" summary --format csv "$table"
  sample 1 "${ours[@]}"
  printf '| %s | %s | %s | %s times | %s |\n' "$view" "$(time_text "$med_a")" \
    "$(time_text "$med_b")" "$(ratio_text "$med_ratio")" "$(bytes_text $((sample_kib * 1024)))"
done
printf '\nLoad average before and after: %s / %s; %s samples a figure, medians.\n' \
  "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)" "$runs"
