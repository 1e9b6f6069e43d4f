#!/usr/bin/env bash
# Builds the fuzz targets (preset `fuzz`, clang) into build/fuzz, replays the kept regressions
# and the seed corpora, then fuzzes each for a bounded time: the analysis, then what
# sift_runlog_table reads that is not a log (--from lists, --merge parts). Without clang or libFuzzer it says so and
# exits 0: fuzzing is an extra where the toolchain has it.
#
#   FUZZ_SECONDS  how long to fuzz the analysis (default 60); a longer campaign: FUZZ_SECONDS=3600
#   TABLE_FUZZ_SECONDS  how long to fuzz the table inputs (default 20)
#   FUZZ_JOBS     parallel fuzzing processes (default 1: the machine may be shared)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
table_seconds="${TABLE_FUZZ_SECONDS:-20}"
jobs="${FUZZ_JOBS:-1}"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found; skipping the fuzz run"
  exit 0
fi
probe_dir="$(mktemp -d)"
trap 'rm -rf "$probe_dir"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe_dir/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" -o "$probe_dir/probe" \
  >/dev/null 2>&1; then
  echo "fuzz: clang++ cannot link libFuzzer with the sanitizers; skipping the fuzz run"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target sift_fuzz_analysis sift_fuzz_table_inputs
fuzzer=build/fuzz/fuzz/sift_fuzz_analysis

# Inputs that once broke a property must keep passing.
shopt -s nullglob
regressions=(fuzz/regressions/*)
if [ "${#regressions[@]}" -gt 0 ]; then
  echo "fuzz: replaying ${#regressions[@]} kept regression inputs"
  if ! "$fuzzer" "${regressions[@]}" >build/fuzz/regressions.log 2>&1; then
    tail -n 60 build/fuzz/regressions.log
    echo "fuzz: FAILED on a kept regression input (see above)"
    exit 1
  fi
fi

# New inputs go to a work corpus in the build directory; the seed corpus in the repository is
# only read.
work="build/fuzz/corpus"
artifacts="build/fuzz/artifacts"
mkdir -p "$work" "$artifacts"
echo "fuzz: ${seconds} s with ${jobs} job(s); findings go to ${artifacts}/"
if [ "$jobs" -gt 1 ]; then
  parallel=(-jobs="$jobs" -workers="$jobs")
else
  parallel=()
fi
# The fuzzer's progress lines go to a log; the summary (or the failure) is shown. An input takes
# milliseconds; the 30 s time limit catches hangs without taking a stall of a loaded machine
# (seen once at 12 s, inside the sanitizer's allocator) for one.
log="build/fuzz/fuzz.log"
status=0
"$fuzzer" "$work" fuzz/corpus \
  -dict=fuzz/log.dict -max_len=8192 -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "${parallel[@]}" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz: FAILED (status $status); the input is in ${artifacts}/, the whole log in ${log}"
  exit "$status"
fi
grep -E '^(Done|stat::)' "$log" || tail -n 5 "$log"
echo "fuzz: corpus now $(find "$work" -type f | wc -l) inputs in ${work}; no failure"

# The table inputs: a smaller space, a shorter run.
table_fuzzer=build/fuzz/fuzz/sift_fuzz_table_inputs
table_work="build/fuzz/table_corpus"
table_log="build/fuzz/table_fuzz.log"
mkdir -p "$table_work"
echo "fuzz: table inputs, ${table_seconds} s; findings go to ${artifacts}/"
status=0
"$table_fuzzer" "$table_work" fuzz/table_corpus \
  -max_len=8192 -max_total_time="$table_seconds" -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" >"$table_log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$table_log"
  echo "fuzz: table inputs FAILED (status $status); the input is in ${artifacts}/, the log in ${table_log}"
  exit "$status"
fi
grep -E '^(Done|stat::)' "$table_log" || tail -n 5 "$table_log"
echo "fuzz: table corpus now $(find "$table_work" -type f | wc -l) inputs in ${table_work}; no failure"
