#!/usr/bin/env bash
# A Slurm of one machine, to try the README's cluster recipes by hand: munged, slurmctld and
# slurmd on localhost, with a socket, a key, ports and a state folder of their own, so that a
# Slurm or a munge already running is left alone. Needs root and Debian's slurm-wlm and munge
# (apt-get install slurm-wlm munge). .ci/cluster.sh starts and stops the same Slurm with the
# functions below.
#
#   examples/local_slurm.sh start [FOLDER]   start the daemons, their files in FOLDER
#                                            (default build/local_slurm), and print the line
#                                            that points sbatch, squeue and sinfo at them
#   examples/local_slurm.sh stop [FOLDER]    cancel the jobs left, stop the daemons by their pids
#
# Every daemon's pid is in FOLDER/pids, one a line in the order of starting; stop ends them in
# reverse order, with SIGKILL for one still running ten seconds after SIGTERM.

# The configuration: ports away from Slurm's defaults; batch jobs scheduled at once
# (batch_sched_delay=0), so that an array's tasks run one after the other without a pause.
local_slurm_conf() {
  local folder=$1 cpus
  cpus=$(nproc)
  cat <<EOF
ClusterName=local
SlurmctldHost=localhost
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$folder/munge/socket
StateSaveLocation=$folder/slurm/state
SlurmdSpoolDir=$folder/slurm/spool
SlurmctldPidFile=$folder/slurm/slurmctld.pid
SlurmdPidFile=$folder/slurm/slurmd.pid
SlurmctldLogFile=$folder/slurm/slurmctld.log
SlurmdLogFile=$folder/slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerParameters=batch_sched_delay=0
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
NodeName=localhost CPUs=$cpus State=UNKNOWN
PartitionName=local Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
}

# Fails with the daemons' logs when one of them has stopped on its own.
local_slurm_check() {
  local folder=$1 pid
  while read -r pid; do
    kill -0 "$pid" 2>/dev/null && continue
    tail -n 20 "$folder"/munge/munged.log "$folder"/slurm/*.log >&2 2>/dev/null || true
    echo "local_slurm: a daemon (pid $pid) has stopped; its log is above" >&2
    return 1
  done <"$folder/pids"
}

# Starts munged, slurmctld and slurmd and waits until the node is idle. The munge key stays from
# one start to the next; the Slurm state starts afresh.
local_slurm_start() {
  local folder=$1 key state
  rm -rf "$folder/slurm"
  mkdir -p "$folder/munge" "$folder/slurm/state" "$folder/slurm/spool"
  chmod 755 "$folder/munge"
  : >"$folder/pids"
  key=$folder/munge/munge.key
  [ -s "$key" ] || mungekey --create --keyfile="$key"
  setsid munged --foreground --force --socket="$folder/munge/socket" --key-file="$key" \
    --pid-file="$folder/munge/munged.pid" --log-file="$folder/munge/munged.log" \
    --seed-file="$folder/munge/seed" </dev/null >/dev/null 2>&1 &
  echo $! >>"$folder/pids"
  for _ in $(seq 50); do
    munge -n -S "$folder/munge/socket" 2>/dev/null |
      unmunge -S "$folder/munge/socket" >/dev/null 2>&1 && break
    sleep 0.1
  done
  local_slurm_check "$folder" || return 1
  local_slurm_conf "$folder" >"$folder/slurm/slurm.conf"
  export SLURM_CONF=$folder/slurm/slurm.conf
  setsid slurmctld -D -f "$SLURM_CONF" </dev/null >"$folder/slurm/slurmctld.out" 2>&1 &
  echo $! >>"$folder/pids"
  setsid slurmd -D -N localhost -f "$SLURM_CONF" </dev/null >"$folder/slurm/slurmd.out" 2>&1 &
  echo $! >>"$folder/pids"
  for _ in $(seq 100); do
    local_slurm_check "$folder" || return 1
    state=$(sinfo -h -n localhost -o %t 2>/dev/null || true)
    [ "$state" = idle ] && return 0
    sleep 0.3
  done
  echo "local_slurm: the node is '$state', not idle, after 30 s; logs in $folder/slurm" >&2
  return 1
}

# Cancels the jobs still queued or running, so that no task goes on without its slurmd, then
# stops the daemons by their pids, the last started first.
local_slurm_stop() {
  local folder=$1 pid pids=()
  [ -s "$folder/pids" ] || return 0
  mapfile -t pids <"$folder/pids"
  export SLURM_CONF=$folder/slurm/slurm.conf
  if [ "${#pids[@]}" -ge 2 ] && kill -0 "${pids[1]}" 2>/dev/null; then
    scancel --partition=local 2>/dev/null || true
    for _ in $(seq 50); do
      [ -z "$(squeue -h 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  for ((index = ${#pids[@]} - 1; index >= 0; index--)); do
    pid=${pids[index]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  : >"$folder/pids"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  folder=$(realpath -m "${2:-build/local_slurm}")
  case ${1:-} in
    start)
      [ "$(id -u)" = 0 ] || { echo "local_slurm: the daemons need root" >&2; exit 2; }
      local_slurm_stop "$folder"
      local_slurm_start "$folder" || { local_slurm_stop "$folder"; exit 1; }
      echo "export SLURM_CONF=$folder/slurm/slurm.conf"
      ;;
    stop)
      local_slurm_stop "$folder"
      ;;
    *)
      echo "usage: $0 start|stop [FOLDER]" >&2
      exit 2
      ;;
  esac
fi
