#!/usr/bin/env bash
# Speed and memory of sift_runlog, measured side by side with `wc -l` and `cat` on generated
# logs and printed as one Markdown table, followed by the micro benchmarks. From any directory:
#
#   bash bench/run.sh
#
# Settings, from the environment:
#   SIZE=1G          size of the big logs (suffix K, M or G); SIZE=64M for a quick try
#   RUNS=5           samples per figure; the median is taken, after one warm-up round
#   SMALL_LOOPS=200  runs of a command per sample on the small log (one run takes milliseconds)
#   SIFT_BENCH_DIR   keep the logs in this directory instead of a temporary one
#   MICRO=0          skip the micro benchmarks
#   BASELINE_REV=R   also build sift_runlog as of git revision R and compare with it (plain and
#                    -debug on the realistic log)
# The logs take about 5 times SIZE of disk, and as much free memory to stay in the page cache.
# Progress goes to standard error, the results to standard output.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
export LC_ALL=C

big_size=${SIZE:-1G}
runs=${RUNS:-5}
small_loops=${SMALL_LOOPS:-200}
stop_loops=20
micro=${MICRO:-1}
baseline_rev=${BASELINE_REV:-}

build=build/bench
program=$build/sift_runlog
make_log=$build/bench/make_log
timer=$build/bench/time_command
benchmarks=$build/bench/sift_benchmarks

note() { printf '%s\n' "$*" >&2; }
fail() {
  note "run.sh: $*"
  exit 1
}

((runs >= 1)) || fail "RUNS must be at least 1"

note "building the bench preset"
cmake --preset bench >&2
cmake --build --preset bench -j2 >&2

# shellcheck source=bench/timing.sh
source bench/timing.sh

# The program as of BASELINE_REV, built the same way from an export of that revision.
baseline=
if [[ -n $baseline_rev ]]; then
  note "building sift_runlog as of $baseline_rev"
  baseline=$(build_baseline "$baseline_rev" sift_runlog)
fi

if [[ -n ${SIFT_BENCH_DIR:-} ]]; then
  dir=$SIFT_BENCH_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d -t sift_bench.XXXXXX)  # in $TMPDIR, or the system default
  trap 'rm -rf "$dir"' EXIT
fi

# --- The logs -------------------------------------------------------------------------------

realistic=$dir/realistic.log
chatter=$dir/chatter.log
dense=$dir/dense.log
hostile=$dir/hostile.log
medium=$dir/medium.log
small=$dir/small.log
early=$dir/early_stop.log
early_head=$dir/early_stop_head.log

# make_log ARGUMENTS... FILE: writes the log and checks that sift_runlog grades it to the
# result line the generator expects.
make_checked_log() {
  local file=${*: -1}
  local -a arguments=("${@:1:$#-1}")
  note "making $file"
  "$make_log" "${arguments[@]}" "$file"
  check_grade "$file" "${arguments[@]}"
}

check_grade() {
  local file=$1
  shift
  local got expected
  got=$("$program" "$file")
  expected=$("$make_log" "$@" --expect)
  [[ $got == "$expected" ]] || fail "$file: got '$got', expected '$expected'"
}

make_checked_log --kind realistic --size "$big_size" "$realistic"
make_checked_log --kind chatter --size "$big_size" "$chatter"
make_checked_log --kind dense --size "$big_size" "$dense"
make_checked_log --kind hostile --size "$big_size" "$hostile"
make_checked_log --kind realistic --size 1M "$medium"
make_checked_log --kind realistic --size 3K "$small"
make_checked_log --kind early-stop --size "$big_size" "$early"
# The early-stop log cut right after its RH_STOP line.
stop_offset=$(grep -a -b -m1 -x 'RH_STOP' "$early" | cut -d: -f1)
head -c "$((stop_offset + 8))" "$early" >"$early_head"
check_grade "$early_head" --kind early-stop --size "$big_size"

size=$(stat -c %s "$realistic")
head_size=$(stat -c %s "$early_head")

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
note "warming the page cache"
cat "$realistic" "$chatter" "$dense" "$hostile" "$medium" "$small" "$early" "$early_head" \
  >/dev/null

# --- Measuring ------------------------------------------------------------------------------

wc_path=$(command -v wc)
cat_path=$(command -v cat)

rows=()
# row MEASURE SIFT_RUNLOG REFERENCE RATIO TARGET
row() { rows+=("| $1 | $2 | $3 | $4 | $5 |"); }

big=$(bytes_text "$size")

# against_wc LOG LABEL TARGET: sift_runlog and wc -l on the log, side by side.
against_wc() {
  note "measuring the $2 against wc -l"
  side_by_side 1 "$program" "$1" -- "$wc_path" -l "$1"
  row "$2" "$(time_text "$med_a")" "\`wc -l\` $(time_text "$med_b")" \
    "$(ratio_text "$med_ratio")" "$3"
}

against_wc "$chatter" "$big realistic chatter" "≤ 1.0"
against_wc "$realistic" "$big realistic log" "≤ 0.7"
against_wc "$hostile" "$big dense hostile log (\`Out of memory\` words)" "≤ 2.0"
against_wc "$dense" "$big dense log (12 short words a line)" "≤ 1.5"

note "measuring -debug on the $big realistic log against cat"
side_by_side 1 "$program" "$realistic" -debug -- "$cat_path" "$realistic"
row "$big realistic log, \`-debug\` to /dev/null" "$(time_text "$med_a")" \
  "\`cat\` to /dev/null $(time_text "$med_b")" "$(ratio_text "$med_ratio")" "≤ 1.5"

if [[ -n $baseline ]]; then
  note "measuring the $big realistic log against sift_runlog as of $baseline_rev"
  side_by_side 1 "$program" "$realistic" -- "$baseline" "$realistic"
  row "$big realistic log, against \`$baseline_rev\`" "$(time_text "$med_a")" \
    "$baseline_rev $(time_text "$med_b")" "$(ratio_text "$med_ratio")" "≤ 1.0"
  note "measuring -debug on the $big realistic log against sift_runlog as of $baseline_rev"
  side_by_side 1 "$program" "$realistic" -debug -- "$baseline" "$realistic" -debug
  row "$big realistic log, \`-debug\`, against \`$baseline_rev\`" "$(time_text "$med_a")" \
    "$baseline_rev $(time_text "$med_b")" "$(ratio_text "$med_ratio")" "≤ 1.0"
fi

note "measuring the small log against cat ($small_loops runs a sample)"
side_by_side "$small_loops" "$program" "$small" -- "$cat_path" "$small"
row "$(bytes_text "$(stat -c %s "$small")") log, one run" "$(time_text "$med_a")" \
  "\`cat\` $(time_text "$med_b")" "$(ratio_text "$med_ratio")" "≤ 1.0"

note "measuring the early-stop log against its head ($stop_loops runs a sample)"
side_by_side "$stop_loops" "$program" "$early" -- "$program" "$early_head"
row "$big log with \`RH_STOP\` after $(bytes_text "$head_size")" "$(time_text "$med_a")" \
  "its first $(bytes_text "$head_size") alone $(time_text "$med_b")" \
  "$(ratio_text "$med_ratio")" "≈ 1.0"

note "measuring peak resident memory"
for log in "$medium" "$realistic"; do
  sample 1 "$program" "$log"
  ours=$sample_kib
  sample 1 "$cat_path" "$log"
  row "Peak resident memory, $(bytes_text "$(stat -c %s "$log")") log" \
    "$(bytes_text "$((ours * 1024))")" "\`cat\` $(bytes_text "$((sample_kib * 1024))")" "" \
    "≤ 8 MiB, the same"
done

# --- The report -----------------------------------------------------------------------------

cpu=$(grep -m1 -E '^(model name|Model|cpu model)' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
revision=$(git describe --always --dirty 2>/dev/null || echo unknown)

echo "Machine: ${cpu:-unknown CPU}, $(nproc) CPUs, $(uname -sr); load average $load_before" \
  "before the measurements."
echo "Tools: sift_runlog $revision built by $("${compiler:-c++}" --version | head -n1)," \
  "$("$wc_path" --version | head -n1)."
echo "Method: logs made by \`bench/make_log\` (seed 1), in the page cache; each figure is the" \
  "median of $runs sample(s) after a warm-up round, the two commands of a row alternating;" \
  "ratios are medians of the per-sample ratios. Output goes to /dev/null."
echo
echo "| Measure | sift_runlog | Reference | Ratio | Target |"
echo "|---|---:|---:|---:|---|"
printf '%s\n' "${rows[@]}"

if [[ $micro != 0 ]]; then
  note "running the micro benchmarks"
  echo
  echo "Micro benchmarks (\`$benchmarks\`):"
  echo
  echo '```'
  "$benchmarks" --benchmark_min_time=0.1
  echo '```'
fi
