#!/usr/bin/env bash
# The chunks under a real single-node Slurm started here: munged, slurmctld and slurmd with their
# state, spool, sockets and logs in a scratch folder and ports of their own, stopped by their process
# ids at the end. scripts/farm/slurm.sh submits the array and the assembly after it; every task
# starts an X display of its own. The assembled frames and audio must be the one-machine capture's;
# a failing task must cancel the assembly. Skips (status 77) when not root or Slurm is missing.
#   farm_slurm_test.sh VELMORA SOURCE_DIR
set -euo pipefail
velmora="$1"
source_dir="$2"
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: starting munged, slurmctld and slurmd needs root"
    exit 77
fi
for program in munged slurmctld slurmd sbatch squeue sinfo Xvfb; do
    if ! command -v "$program" >/dev/null; then
        echo "SKIP: $program is not installed (scripts/install-deps.sh installs slurmctld slurmd slurm-client munge)"
        exit 77
    fi
done
scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-slurm.XXXXXX")"
chmod 755 "$scratch"
pids=()
stop() {
    for pidfile in "$scratch/slurmd.pid" "$scratch/slurmctld.pid" "$scratch/munge/munged.pid"; do
        if [ -s "$pidfile" ]; then
            pid="$(cat "$pidfile")"
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 1 100); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.05
            done
        fi
    done
    rm -rf "$scratch"
}
trap stop EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in "$scratch"/*.log "$scratch"/farm*/slurm-*.out; do
        [ -f "$log" ] && { echo "== $log" >&2; tail -20 "$log" >&2; }
    done
    exit 1
}
# munged as munge, on a socket of its own.
mkdir -p /run/munge && chown munge:munge /run/munge
mkdir -p "$scratch/munge" && chown munge:munge "$scratch/munge" && chmod 755 "$scratch/munge"
runuser -u munge -- /usr/sbin/munged --socket="$scratch/munge/munge.sock" --pid-file="$scratch/munge/munged.pid" \
    --log-file="$scratch/munge/munged.log" --seed-file="$scratch/munge/seed" || fail "munged did not start"
# Ports of our own, so that a Slurm already running here is left alone.
base=$((20000 + RANDOM % 20000))
mkdir -p "$scratch/state" "$scratch/spool"
cat >"$scratch/slurm.conf" <<CONF
ClusterName=velmora-test
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$base
SlurmdPort=$((base + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$scratch/munge/munge.sock
CredType=cred/munge
NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
CONF
export SLURM_CONF="$scratch/slurm.conf"
slurmctld -f "$SLURM_CONF" || fail "slurmctld did not start"
slurmd -f "$SLURM_CONF" -N localhost || fail "slurmd did not start"
for _ in $(seq 1 200); do
    sinfo -h -o %t 2>/dev/null | grep -q idle && break
    sleep 0.1
done
sinfo -h -o %t | grep -q idle || fail "the node did not become idle"

cd "$scratch"
ln -s "$source_dir/data" data
export VELMORA="$velmora"
unset VELMORA_USE_DISPLAY
export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
wait_for_jobs() { # SECONDS JOB...
    local limit="$1"
    shift
    for _ in $(seq 1 $((limit * 5))); do
        [ -z "$(squeue -h -j "$(
            IFS=,
            echo "$*"
        )" 2>/dev/null)" ] && return 0
        sleep 0.2
    done
    return 1
}
span=(--size 48x28 --from 10 --to 12)
read -r render assembly < <("$source_dir/scripts/farm/slurm.sh" --chunks 3 --dir farm --output joined/ -- \
    "${span[@]}" --preroll 10 --overlap 10) || fail "submitting failed"
echo "render job $render, assembly job $assembly"
wait_for_jobs 300 "$render" "$assembly" || fail "the jobs did not finish in 300 s"
[ -f joined/audio.wav ] || fail "the assembly did not write its output"
[ "$(ls farm/slurm-"$render"_*.out | wc -l)" = 3 ] || fail "not three array tasks"
"$source_dir/scripts/farm/with-display.sh" "$velmora" "${span[@]}" --capture one/ >/dev/null 2>&1 || fail "the one-machine capture failed"
diff -r -x .velmora-capture joined one >/dev/null || fail "the Slurm render differs from the one-machine capture"

# A task that fails cancels the assembly instead of leaving it waiting forever.
read -r render assembly < <("$source_dir/scripts/farm/slurm.sh" --chunks 2 --dir farm2 --output joined2/ -- \
    --size 48x28 --from 10 --to 12 --fps 0) || fail "submitting failed"
wait_for_jobs 120 "$render" "$assembly" || fail "the assembly after a failed task was not cancelled"
[ -e joined2 ] && fail "the assembly ran after a failed task"
echo "PASS"
