#!/usr/bin/env bash
# Speed and memory of sift_runlog_table on generated campaigns (bench/make_campaign.cpp), printed
# as one Markdown table:
#   - LOGS small logs (2 to 6 KiB, a campaign's mix of verdicts, 2.5% failures) at -j JOBS with
#     the page cache warm, against the shell companion it replaced at the same -j, and against
#     one `cat` over the same files;
#   - one BIG log among 2000 small ones, against the big log alone;
#   - peak resident memory for a quarter, a half and all of the LOGS logs, with the table's size.
#
#   bash bench/table_run.sh
#
# Settings, from the environment:
#   LOGS=20000  BIG=1G  JOBS=2
#   RUNS=5          samples per figure; the median is taken, after one warm-up round
#   OLD=1           0 skips the shell companion (at 20000 logs it takes half a minute a run)
#   BASELINE_REV=R  also build sift_runlog_table as of git revision R and measure the small logs
#                   with it, against this one and against the same cat
#   SIFT_BENCH_DIR  keep the logs in this directory instead of a temporary one
# Wall times mean something only on a quiet machine: the load average before and after is
# printed with the figures. Progress goes to standard error, the results to standard output.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
export LC_ALL=C

logs=${LOGS:-20000}
big_size=${BIG:-1G}
jobs=${JOBS:-2}
runs=${RUNS:-5}
baseline_rev=${BASELINE_REV:-}
build=build/bench
table=$PWD/$build/sift_runlog_table
timer=$PWD/$build/bench/time_command

note() { printf '%s\n' "$*" >&2; }

note "building the bench preset"
cmake --preset bench >&2
cmake --build --preset bench -j2 >&2

# shellcheck source=bench/timing.sh
source bench/timing.sh

baseline=
if [[ -n $baseline_rev ]]; then
  note "building sift_runlog_table as of $baseline_rev"
  baseline=$(build_baseline "$baseline_rev" sift_runlog_table)
fi

if [[ -n ${SIFT_BENCH_DIR:-} ]]; then
  dir=$SIFT_BENCH_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d -t sift_table_bench.XXXXXX)
  trap 'rm -rf "$dir"' EXIT
fi

note "making $logs logs, and 2000 with a $big_size one"
rm -rf "$dir/campaign" "$dir/mixed"
"$build/bench/make_campaign" "$dir/campaign" "$logs"
"$build/bench/make_campaign" "$dir/mixed" 2000 "$big_size"
big_log=$dir/mixed/big/tool_Big_Reachability_1.log
mapfile -d '' files < <(find "$dir/campaign" -name '*.log' -print0 | sort -z)
for fraction in 4 2 1; do
  printf '%s\n' "${files[@]:0:$((${#files[@]} / fraction))}" >"$dir/list-$fraction"
done

# The shell companion as it was last, with the program beside it, where it looks first.
old=
if [[ ${OLD:-1} != 0 ]]; then
  mkdir -p "$dir/old"
  deleted=$(git rev-list -1 HEAD -- scripts/sift_runlog_table 2>/dev/null || true)
  if git show main:scripts/sift_runlog_table >"$dir/old/sift_runlog_table" 2>/dev/null ||
    { [[ -n $deleted ]] && git show "$deleted^:scripts/sift_runlog_table" >"$dir/old/sift_runlog_table"; }; then
    chmod +x "$dir/old/sift_runlog_table"
    cp "$build/sift_runlog" "$dir/old/"
    old=$dir/old/sift_runlog_table
  else
    note "the shell companion is not in this clone's history: skipped"
  fi
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
note "warming the page cache"
cat "${files[@]}" "$dir"/mixed/*/* >/dev/null

# Runs a command that may end with status 1 (some logs failed) as time_command wants it, its
# failure reports out of the way.
tolerant=(sh -c '"$@" 2>/dev/null; [ $? -le 1 ]' sh)

rows=()
small="$logs logs of 2-6 KiB, \`-j$jobs\`"
new=("${tolerant[@]}" "$table" -q -j "$jobs" "$dir/campaign")
if [[ -n $old ]]; then
  note "measuring $logs logs against the shell companion"
  side_by_side 1 "${new[@]}" -- "${tolerant[@]}" "$old" -j "$jobs" "$dir/campaign"
  rows+=("| $small | $(time_text "$med_a") | shell companion \`-j$jobs\` $(time_text "$med_b") | $(ratio_text "$(awk -v r="$med_ratio" 'BEGIN { print 1 / r }')") times faster | ≥ 20 times faster |")
fi
note "measuring $logs logs against one cat"
side_by_side 1 "${new[@]}" -- cat "${files[@]}"
rows+=("| $small | $(time_text "$med_a") | one \`cat\` over the files $(time_text "$med_b") | $(ratio_text "$med_ratio") | ≤ 0.35 |")
if [[ -n $baseline ]]; then
  old_table=("${tolerant[@]}" "$baseline" -q -j "$jobs" "$dir/campaign")
  note "measuring $logs logs as of $baseline_rev against one cat"
  side_by_side 1 "${old_table[@]}" -- cat "${files[@]}"
  rows+=("| $small, as of \`$baseline_rev\` | $(time_text "$med_a") | one \`cat\` over the files $(time_text "$med_b") | $(ratio_text "$med_ratio") | |")
  note "measuring $logs logs against sift_runlog_table as of $baseline_rev"
  side_by_side 1 "${new[@]}" -- "${old_table[@]}"
  rows+=("| $small, against \`$baseline_rev\` | $(time_text "$med_a") | $baseline_rev $(time_text "$med_b") | $(ratio_text "$med_ratio") | ≤ 1.0 |")
fi

note "measuring the $big_size log among 2000 small ones against it alone"
side_by_side 1 "${tolerant[@]}" "$table" -q -j "$jobs" "$dir/mixed" -- "${tolerant[@]}" "$table" -q -j "$jobs" "$big_log"
rows+=("| one $big_size log among 2000 small ones, \`-j$jobs\` | $(time_text "$med_a") | the $big_size log alone $(time_text "$med_b") | $(ratio_text "$med_ratio") | ≤ 1.10 |")

note "measuring peak memory"
peaks=()
sizes=()
for fraction in 4 2 1; do
  read -r _ kib < <("$timer" -o "$dir/table-$fraction" -- "${tolerant[@]}" "$table" -q -j "$jobs" --from "$dir/list-$fraction")
  peaks+=("$(bytes_text $((kib * 1024)))")
  sizes+=("$(bytes_text "$(stat -c %s "$dir/table-$fraction")")")
done
count() { echo $((${#files[@]} / $1)); }
rows+=("| peak memory, $(count 4) / $(count 2) / $(count 1) logs | ${peaks[0]} / ${peaks[1]} / ${peaks[2]} | the raw table ${sizes[0]} / ${sizes[1]} / ${sizes[2]} |  | < 32 MiB, growing no faster than the table |")

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "Machine: $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) CPUs," \
  "$(uname -sr); load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after."
echo "Tools: sift_runlog_table $(git describe --always --dirty 2>/dev/null || echo unknown) built by" \
  "$("${compiler:-c++}" --version | head -n1). Median of $runs samples after a warm-up round."
echo
echo "| Measure | sift_runlog_table | Reference | Ratio | Target |"
echo "|---|---:|---:|---:|---|"
printf '%s\n' "${rows[@]}"
