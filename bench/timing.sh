# Side-by-side timing for the benchmark scripts (sourced by run.sh and table_run.sh). Needs
# $timer (build/bench/bench/time_command) and $runs (samples per figure) set by the caller.

# build_baseline REVISION TARGET: builds TARGET as of REVISION, the way the bench preset builds
# it, from an export of that revision into build/bench-baseline, and prints the program's path.
build_baseline() {
  local dir=build/bench-baseline
  if [[ ! -d $dir/source || $(cat "$dir/revision" 2>/dev/null) != "$1" ]]; then
    rm -rf "$dir"
    mkdir -p "$dir/source"
    git archive "$1" | tar -x -C "$dir/source"
    printf '%s\n' "$1" >"$dir/revision"
  fi
  cmake -S "$dir/source" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DSIFT_STATIC_PROGRAM=ON \
    -DSIFT_BUILD_TESTS=OFF >&2
  cmake --build "$dir/build" -j2 --target "$2" >&2
  # The companion is built beside the program or in its own folder, as the revision had it.
  if [[ -x $dir/build/$2 ]]; then
    printf '%s\n' "$PWD/$dir/build/$2"
  else
    find "$PWD/$dir/build" -name "$2" -type f -perm -u+x -print -quit
  fi
}

# sample LOOPS COMMAND...: runs the command LOOPS times (output to /dev/null) and sets
# sample_ns, the mean wall time of one run in nanoseconds, and sample_kib, its peak memory.
sample() {
  local loops=$1
  shift
  local out
  out=$("$timer" -n "$loops" -- "$@")
  read -r sample_ns sample_kib <<<"$out"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# side_by_side LOOPS COMMAND_A... -- COMMAND_B...
# Alternates the two commands (A first in even rounds, B first in odd ones), drops round 0 as a
# warm-up, and sets med_a and med_b (median nanoseconds) and med_ratio (median of A/B).
side_by_side() {
  local loops=$1
  shift
  local -a a=() b=() times_a=() times_b=() ratios=()
  while [[ $1 != -- ]]; do
    a+=("$1")
    shift
  done
  shift
  b=("$@")
  local round ta tb
  for ((round = 0; round <= runs; round++)); do
    if ((round % 2 == 0)); then
      sample "$loops" "${a[@]}"
      ta=$sample_ns
      sample "$loops" "${b[@]}"
      tb=$sample_ns
    else
      sample "$loops" "${b[@]}"
      tb=$sample_ns
      sample "$loops" "${a[@]}"
      ta=$sample_ns
    fi
    ((round > 0)) || continue
    times_a+=("$ta")
    times_b+=("$tb")
    ratios+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { print a / b }')")
  done
  med_a=$(median "${times_a[@]}")
  med_b=$(median "${times_b[@]}")
  med_ratio=$(median "${ratios[@]}")
}

time_text() {
  awk -v ns="$1" 'BEGIN {
    if (ns >= 1e9) printf "%.2f s", ns / 1e9
    else if (ns >= 1e8) printf "%.0f ms", ns / 1e6
    else if (ns >= 1e7) printf "%.1f ms", ns / 1e6
    else if (ns >= 1e6) printf "%.2f ms", ns / 1e6
    else printf "%.0f µs", ns / 1e3 }'
}

bytes_text() {
  awk -v b="$1" 'BEGIN {
    split("B KiB MiB GiB TiB", unit, " ")
    for (u = 1; b >= 1024 && u < 5; u++) b /= 1024
    printf (b == int(b)) ? "%d %s" : "%.1f %s", b, unit[u] }'
}

ratio_text() { awk -v r="$1" 'BEGIN { printf "%.2f", r }'; }
