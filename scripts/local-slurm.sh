#!/usr/bin/env bash
# A one-node Slurm cluster on 127.0.0.1 for the cluster tests and benchmarks.
# Usage: scripts/local-slurm.sh start|stop|status
#
# Everything lives in one folder (ZYL_SLURM_DIR, default /tmp/zyl-slurm): the munge key and
# socket, slurm.conf, the daemons' state, logs and process ids. Nothing is written to /etc.
# Clients find the cluster through SLURM_CONF; `status` prints the line to export, and the
# tests look in the default folder by themselves.
# Needs root (slurmd runs jobs as their owners) and the packages slurm-wlm and munge.
set -euo pipefail

dir=${ZYL_SLURM_DIR:-/tmp/zyl-slurm}
ctld_port=${ZYL_SLURM_PORT:-6817}
node=zylnode
partition=zyl
conf=$dir/slurm.conf
export SLURM_CONF=$conf

say() { echo "local-slurm: $*" >&2; }

pid_alive() { [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

running() { pid_alive "$dir/munged.pid" && pid_alive "$dir/slurmctld.pid" && pid_alive "$dir/slurmd.pid"; }

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 5))
    for ((i = 0; i < tries; i++)); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

node_idle() { [ "$(sinfo -h -n "$node" -o %T 2>/dev/null)" = idle ]; }

write_config() {
    local cpus=${ZYL_SLURM_CPUS:-$(nproc)}
    local mem_mib=$(($(awk '/^MemTotal:/ {print $2}' /proc/meminfo) / 1024 * 8 / 10))
    cat >"$conf" <<EOF
# Written by scripts/local-slurm.sh: one node on the loopback, no accounting, no cgroups.
ClusterName=zyl
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$((ctld_port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge.socket
CredType=cred/munge
StateSaveLocation=$dir/ctld
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobContainerType=job_container/none
MpiDefault=none
SwitchType=switch/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
# Start a task the moment it is submitted or a CPU frees, not on the next periodic pass.
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0,bf_interval=1
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU_Memory
# Without a default a job would claim the node's whole memory and run alone.
DefMemPerCPU=256
MailProg=/bin/true
ReturnToService=2
KillWait=2
MinJobAge=300
InactiveLimit=0
Waittime=0
MessageTimeout=20
NodeName=$node NodeAddr=127.0.0.1 NodeHostname=$(hostname -s) CPUs=$cpus RealMemory=$mem_mib State=UNKNOWN
PartitionName=$partition Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
}

start() {
    if running; then
        say "already running ($dir)"
        return 0
    fi
    for program in munged mungekey slurmctld slurmd sinfo; do
        command -v "$program" >/dev/null || { say "$program is missing (install slurm-wlm and munge)"; return 1; }
    done
    stop_daemons
    mkdir -p "$dir/ctld" "$dir/spool"
    chmod 700 "$dir"
    [ -s "$dir/munge.key" ] || mungekey --create --keyfile="$dir/munge.key"
    chmod 600 "$dir/munge.key"
    write_config

    munged --force --key-file="$dir/munge.key" --socket="$dir/munge.socket" \
        --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munged.seed"
    wait_for 10 test -S "$dir/munge.socket" || { say "munged did not start, see $dir/munged.log"; return 1; }

    # -c: a fresh controller, without the jobs of an earlier cluster in this folder.
    slurmctld -c -f "$conf"
    wait_for 30 scontrol ping || { say "slurmctld did not answer, see $dir/slurmctld.log"; return 1; }
    slurmd -f "$conf" -N "$node"
    wait_for 60 node_idle || { say "node $node did not become idle, see $dir/slurmd.log"; return 1; }
    say "running: export SLURM_CONF=$conf"
}

# Ends one daemon by the id in its pid file: TERM, then KILL when it lingers.
stop_one() {
    local pidfile=$1
    pid_alive "$pidfile" || { rm -f "$pidfile"; return 0; }
    local pid
    pid=$(cat "$pidfile")
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pidfile"
}

stop_daemons() {
    stop_one "$dir/slurmd.pid"
    stop_one "$dir/slurmctld.pid"
    stop_one "$dir/munged.pid"
}

stop() {
    # Jobs first: their step daemons would outlive slurmd.
    if pid_alive "$dir/slurmctld.pid"; then
        scancel --partition="$partition" >/dev/null 2>&1 || true
        wait_for 20 test -z "$(squeue -h -o %i 2>/dev/null)" || say "jobs still listed at stop"
    fi
    stop_daemons
    say "stopped"
}

case "${1:-}" in
start) start ;;
stop) stop ;;
status)
    if running && scontrol ping >/dev/null 2>&1; then
        echo "running: export SLURM_CONF=$conf"
        sinfo -N -o '%N %T %c %m'
    else
        echo "not running"
        exit 1
    fi
    ;;
*)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
