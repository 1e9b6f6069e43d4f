#!/usr/bin/env bash
# The README's cluster recipes, run as written on a generated campaign (the manual page must show
# the same blocks):
#   - Slurm: the array script and its chained merge job, on a single-node Slurm started here on
#     localhost (munged, slurmctld, slurmd, with a private socket, key, ports and state folder);
#     then one task made to write no table, so that the merge job must fail and name its part;
#     then the README's command for one task, to grade that part again; and a job asking for more
#     processors than the node has, which must stay pending for the reason the README gives;
#   - GNU parallel on this machine (-S :), whole and with one task writing no table.
# Each merged table must equal one whole run's byte for byte, the failed lists its list, and a
# merge with a part missing must fail with exit 2, naming the part and writing nothing.
# Needs root (the daemons); installs Debian's slurm-wlm, munge and parallel if they are missing.
# Every daemon started here is stopped by its pid when the script ends, whatever the way, and
# nothing it started may be left running. Takes well under a minute once built.
#
#   LOGS  logs in the generated campaign (default 400, 2.5% of them failing; at least 40, so
#         that some task has a failed log)
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
export LC_ALL=C

logs=${LOGS:-400}
scratch=$PWD/build/cluster
work=$scratch/work
lost=5  # the task made to write no table
fail() {
  echo "cluster.sh: $*" >&2
  exit 1
}
note() { echo "cluster.sh: $*"; }

# A code block of the README, found by the comment that names it: the block the README shows is
# the very text run here.
recipe() {
  awk -v name="$1" '
    $0 == "<!-- recipe: " name " -->" { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }
  ' README.md
}
# The same block in the manual page, its escapes undone: the two must not drift apart.
man_recipe() {
  awk -v name="$1" '
    $0 == ".\\\" recipe: " name { found = 1; next }
    found && $0 == ".EX" { inside = 1; next }
    inside && $0 == ".EE" { exit }
    inside { print }
  ' doc/sift_runlog_table.1 | sed -e "s/\\\\(aq/'/g" -e 's/\\-/-/g' -e 's/\\e/\\/g'
}
for name in grade.sh slurm rerun parallel; do
  [ -n "$(recipe "$name")" ] || fail "README.md has no recipe named $name"
  diff <(recipe "$name") <(man_recipe "$name") >&2 ||
    fail "the recipe $name differs between README.md and doc/sift_runlog_table.1 (above)"
done

[ "$(id -u)" = 0 ] || fail "the Slurm and munge daemons need root"

packages=(slurmctld slurmd slurm-client munge parallel)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  note "installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends slurm-wlm munge parallel
fi

note "building sift_runlog_table and make_campaign (preset bench)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j "${JOBS:-2}" --target sift_runlog_table make_campaign >/dev/null

# The recipes call sift_runlog_table by name, as users do once it is installed.
export PATH=$PWD/build/bench:$PATH

# The Slurm of examples/local_slurm.sh, the one the README tells users to start by hand: its
# daemons are stopped by their pids when this script ends, whatever the way.
# shellcheck source=examples/local_slurm.sh
source examples/local_slurm.sh
slurm_folder=$scratch/local_slurm
stop_daemons() { local_slurm_stop "$slurm_folder"; }
check_daemons() { local_slurm_check "$slurm_folder" || fail "a daemon has stopped"; }
trap stop_daemons EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

rm -rf "$work" "$scratch"/whole.*
mkdir -p "$work"
note "starting munged, slurmctld and slurmd on localhost"
local_slurm_start "$slurm_folder" || fail "the local Slurm did not start"

note "making a campaign of $logs logs and grading it whole, for reference"
build/bench/bench/make_campaign "$work/logs" "$logs" >/dev/null
status=0
(cd "$work" && sift_runlog_table -q --failed ../whole.failed -o ../whole.txt logs) \
  2>"$scratch/whole.err" || status=$?
[ "$status" = 1 ] || fail "the whole run ended with $status, not 1: the campaign has failed logs"

# The recipes' merged table against the whole run, their failed lists against its list, and a
# merge that lacks one part: exit 2, the part named, nothing written.
check_tables() {
  local name=$1 part kept=() missing_status=0
  cmp "$work/campaign.txt" "$scratch/whole.txt" ||
    fail "$name: the merged table differs from the whole run's"
  sort "$work"/tables/failed-*.txt | cmp - <(sort "$scratch/whole.failed") ||
    fail "$name: the failed lists differ from the whole run's"
  for part in "$work"/tables/part-*.txt; do
    [ "$part" = "$work/tables/part-$lost.txt" ] || kept+=("$part")
  done
  [ "${#kept[@]}" = 15 ] || fail "$name: the parts are not part-1.txt to part-16.txt"
  (cd "$work" && sift_runlog_table --merge -o missing.txt "${kept[@]}") \
    2>"$scratch/missing.err" || missing_status=$?
  [ "$missing_status" = 2 ] ||
    fail "$name: a merge without part $lost ended with $missing_status, not 2: $(cat "$scratch/missing.err")"
  grep -q "part $lost of 16 is missing" "$scratch/missing.err" ||
    fail "$name: a merge without part $lost says: $(cat "$scratch/missing.err")"
  [ ! -e "$work/missing.txt" ] || fail "$name: a merge without part $lost wrote its table"
  note "$name: the merged table is the whole run's ($(wc -l <"$work/campaign.txt") lines);" \
    "without part $lost: $(cat "$scratch/missing.err")"
}

wait_for_jobs() {
  for _ in $(seq 600); do
    [ -z "$(squeue -h)" ] && return
    check_daemons
    sleep 0.2
  done
  fail "jobs still queued after 2 minutes: $(squeue)"
}

# The README's Slurm recipe as written, with one line more that tells the checks the array's
# job id; the merge job's is the one sbatch prints. Once the jobs have ended, their states are
# read back: Slurm keeps ended jobs in view for minutes (MinJobAge). Read whole into variables
# before grep -q looks at them: grep -q stops early, and a writer cut off fails a pipeline.
run_slurm_recipe() {
  recipe grade.sh >"$work/grade.sh"
  # shellcheck disable=SC2016 # $array is the recipe's variable, expanded when it runs
  { recipe slurm && echo 'echo "array job $array"'; } >"$scratch/slurm.sh"
  (cd "$work" && sh -e "$scratch/slurm.sh") >"$scratch/slurm.out" 2>&1 ||
    fail "the Slurm recipe's commands failed: $(cat "$scratch/slurm.out")"
  array=$(sed -n 's/^array job //p' "$scratch/slurm.out")
  merge=$(sed -n 's/^Submitted batch job //p' "$scratch/slurm.out")
  if [ -z "$array" ] || [ -z "$merge" ]; then
    fail "no job ids from sbatch: $(cat "$scratch/slurm.out")"
  fi
  wait_for_jobs
  tasks=$(scontrol -o show job "$array")
  merge_state=$(scontrol -o show job "$merge")
  [ "$(grep -c ' ArrayTaskId=' <<<"$tasks")" = 16 ] || fail "not 16 array tasks: $tasks"
}

note "Slurm: the README's array script and merge job"
run_slurm_recipe
# A task with failed logs has written its table, exits 1 and shows FAILED; the merge job runs
# after it all the same.
grep -v -e 'JobState=COMPLETED .* ExitCode=0:0' -e 'JobState=FAILED .* ExitCode=1:0' <<<"$tasks" &&
  fail "array tasks that ended otherwise (above)"
grep -q 'JobState=FAILED' <<<"$tasks" ||
  fail "no task had failed logs: the chaining after a failed task is not shown"
grep -q 'JobState=COMPLETED .* ExitCode=0:0' <<<"$merge_state" || fail "the merge job: $merge_state"
check_tables Slurm

note "Slurm: task $lost writes no table (its failed list is a folder); the merge job must fail"
rm -rf "$work/tables"
mkdir -p "$work/tables/failed-$lost.txt"
run_slurm_recipe
task=$(grep " ArrayTaskId=$lost " <<<"$tasks") || true
grep -q 'JobState=FAILED .* ExitCode=2:0' <<<"$task" || fail "task $lost: $task"
grep -q 'JobState=FAILED .* ExitCode=2:0' <<<"$merge_state" || fail "the merge job: $merge_state"
grep -q "part $lost of 16 is missing" "$work/slurm-$merge.out" ||
  fail "the merge job says: $(cat "$work/slurm-$merge.out")"
cmp "$work/campaign.txt" "$scratch/whole.txt" || fail "the failed merge job changed campaign.txt"
note "Slurm: the merge job without part $lost: $(cat "$work/slurm-$merge.out")"

note "Slurm: part $lost graded again by the README's command for one task, then merged"
rmdir "$work/tables/failed-$lost.txt"
rm "$work/campaign.txt"
recipe rerun >"$scratch/rerun.sh"
(cd "$work" && sh -e "$scratch/rerun.sh") >>"$scratch/slurm.out" 2>&1 ||
  fail "the README's command for one task failed: $(cat "$scratch/slurm.out")"
wait_for_jobs
(cd "$work" && sift_runlog_table --merge -o campaign.txt tables/part-*.txt) \
  2>>"$scratch/slurm.out" || fail "the merge after part $lost again failed: $(cat "$scratch/slurm.out")"
check_tables "Slurm, part $lost again"

# The README's word on --cpus-per-task: more than any node has leaves the job pending, and
# squeue --me shows why.
note "Slurm: a job asking for more processors than the node has"
big=$(sbatch --parsable --cpus-per-task=$(($(nproc) + 1)) --wrap true)
reason=
for _ in $(seq 50); do
  reason=$(squeue --me -h -j "$big" -o %r)
  [ "$reason" = PartitionConfig ] && break
  sleep 0.2
done
scancel "$big"
wait_for_jobs
[ "$reason" = PartitionConfig ] || fail "a job asking for more processors is pending for '$reason'"

note "GNU parallel: the README's recipe on this machine"
rm -rf "$work/tables" "$work/campaign.txt"
recipe parallel >"$scratch/parallel.sh"
[ -s "$scratch/parallel.sh" ] || fail "README.md has no GNU parallel recipe"
# Not sh -e: parallel's exit status counts the tasks with failed logs, and the merge runs anyway.
(cd "$work" && sh "$scratch/parallel.sh" </dev/null) >"$scratch/parallel.out" 2>&1 ||
  fail "the GNU parallel recipe's merge failed: $(tail -n 20 "$scratch/parallel.out")"
check_tables "GNU parallel"

note "GNU parallel: task $lost writes no table; the recipe's merge must fail"
rm -rf "$work/tables"
mkdir -p "$work/tables/failed-$lost.txt"
status=0
(cd "$work" && sh "$scratch/parallel.sh" </dev/null) >"$scratch/parallel.out" 2>&1 || status=$?
[ "$status" = 2 ] || fail "the recipe's merge ended with $status: $(tail -n 20 "$scratch/parallel.out")"
grep -q "part $lost of 16 is missing" "$scratch/parallel.out" ||
  fail "the recipe's merge says: $(tail -n 20 "$scratch/parallel.out")"
cmp "$work/campaign.txt" "$scratch/whole.txt" || fail "the failed merge changed campaign.txt"

stop_daemons
# What could outlive the daemons: a process whose command names the scratch folder (a daemon) or
# that runs in it (a task). Read from /proc by the shell itself, so that no probe matches itself.
leftovers() {
  local proc cwd args
  for proc in /proc/[0-9]*; do
    args=()
    mapfile -d '' args 2>/dev/null <"$proc/cmdline" || continue
    cwd=$(readlink "$proc/cwd" 2>/dev/null) || cwd=
    if [[ "${args[*]}" == *"$scratch"* || $cwd == "$scratch"* ]]; then
      echo "${proc#/proc/} ${args[*]}"
    fi
  done
}
rest=$(leftovers)
[ -z "$rest" ] || fail "still running after the daemons were stopped: $rest"
note "all good in $SECONDS s; every daemon is stopped, nothing is left running"
