#!/usr/bin/env bash
# The Slurm job array of docs/many-machines.md, run by a one-node Slurm cluster that this test
# starts in a temporary folder: munged, slurmctld and slurmd on free loopback ports, configured
# from slurm.conf.in. The documented lines cut a small batch into four shards, its job script
# (word for word) runs them with `sbatch --wait`, its merge line joins them, and the result must be
# byte for byte the whole run's under the same seed.
#
# Usage: slurm_array_test.sh EMPRICER
set -euo pipefail
# The deadline of all the test's waits, in seconds: some twelve times the 10 s the test takes
# on an idle two-core machine, for a loaded one. CTest's TIMEOUT is a minute longer.
deadline_seconds=120
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

if [ $# != 1 ] || [ ! -x "$1" ]; then fail "usage: $0 EMPRICER"; fi
empricer="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"

need_package munge munged mungekey
need_package slurm-wlm slurmctld slurmd sbatch sinfo squeue scancel
[ "$(id -u)" = 0 ] || cannot_run "slurmd must run as root to start jobs as their owner"

# The recipe, as users paste it.
# shellcheck disable=SC2016 # the documented text, not an expansion
shard_lines=$(readme_block 'rows=$(')
job_script=$(readme_block '#!/bin/sh')
merge_line=$(readme_block 'head -n 1 shard-1.csv')
seed=$(readme_seed "$job_script")
[ -n "$seed" ] || fail "the documented job script gives no --seed"

# Nothing of a Slurm job this test may itself run in reaches the test's cluster.
for name in $(compgen -e | grep '^SLURM_' || true); do unset "$name"; done

dir=$(mktemp -d "${TMPDIR:-/tmp}/empricer-slurm.XXXXXX")
munged_pid='' slurmctld_pid='' slurmd_pid=''
cleanup() {
  local status=$?
  if [ -n "$slurmctld_pid" ] && kill -0 "$slurmctld_pid" 2> /dev/null; then
    # Jobs still running (after the deadline) are cancelled before their daemons stop; this
    # waits for them 10 s at most.
    local give_up=$((SECONDS + 10))
    timeout -k 1 5 scancel --user="$(id -un)" 2> /dev/null || true
    while [ "$SECONDS" -lt "$give_up" ] && [ -n "$(timeout -k 1 2 squeue -h 2> /dev/null)" ]; do
      sleep 0.2
    done
  fi
  stop_pid "$slurmd_pid"
  stop_pid "$slurmctld_pid"
  stop_pid "$munged_pid"
  # The logs are kept until the folder is gone: writing them may fail (a closed pipe).
  local logs=''
  if [ "$status" != 0 ] && [ "$status" != 77 ]; then
    for log in slurmctld.log slurmd.log; do
      [ ! -f "$dir/$log" ] || logs+="--- the end of $log:
$(tail -n 15 "$dir/$log")
"
    done
  fi
  rm -rf "$dir"
  trap '' PIPE
  printf '%s' "$logs" >&2 || true
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE
# munged needs every folder above its socket to be searchable by all.
chmod 755 "$dir"

# munge: a key for this test only, and a munged whose socket is in the folder.
mkdir -m 700 "$dir/munge"
mkdir -m 755 "$dir/munge-run"
mungekey --create --keyfile="$dir/munge/munge.key"
munged --foreground --socket="$dir/munge-run/munge.socket" --key-file="$dir/munge/munge.key" \
  --pid-file="$dir/munge-run/munged.pid" --log-file="$dir/munge/munged.log" \
  --seed-file="$dir/munge/munged.seed" > "$dir/munged.log" 2>&1 &
munged_pid=$!
wait_for_daemon munged "$munged_pid" "$dir/munged.log" test -S "$dir/munge-run/munge.socket"

# slurm.conf: the template with this host, its node line, free ports and the folder.
host=$(hostname -s)
node_line=$(slurmd -C | grep '^NodeName=') || fail "slurmd -C describes no node"
node=${node_line%% *}
node=${node#NodeName=}
slurmctld_port=$(free_port)
slurmd_port=$(free_port)
while [ "$slurmd_port" = "$slurmctld_port" ]; do slurmd_port=$(free_port); done
mkdir "$dir/slurmctld" "$dir/slurmd"
sed -e "s|@HOST@|$host|g" -e "s|@SLURMCTLD_PORT@|$slurmctld_port|g" \
    -e "s|@SLURMD_PORT@|$slurmd_port|g" -e "s|@USER@|$(id -un)|g" -e "s|@DIR@|$dir|g" \
    -e "s|@NODE_LINE@|$node_line|g" "$cluster_dir/slurm.conf.in" > "$dir/slurm.conf"
! grep -v '^#' "$dir/slurm.conf" | grep '@[A-Z_]*@' || fail "slurm.conf keeps a name to fill in"
export SLURM_CONF="$dir/slurm.conf"

slurmctld -D -i > "$dir/slurmctld.out" 2>&1 &
slurmctld_pid=$!
wait_for_daemon slurmctld "$slurmctld_pid" "$dir/slurmctld.log" sinfo -h
slurmd -D -N "$node" > "$dir/slurmd.out" 2>&1 &
slurmd_pid=$!
# shellcheck disable=SC2016 # expanded by that shell
wait_for_daemon slurmd "$slurmd_pid" "$dir/slurmd.log" \
  bash -c '[ "$(sinfo -h -N -n "$1" -o %T)" = idle ]' node_idle "$node"

# The batch, and the whole run under the recipe's seed.
mkdir "$dir/work"
cd "$dir/work"
make_inputs "$dir/work"
whole_run "$empricer" "$dir/work" "$seed"

# The documented lines: four shards, the job array (empricer on the path the job inherits), the
# merge.
bash -e -c "$shard_lines" || fail "the documented shard lines failed"
[ "$(wc -l < shards.txt)" = 4 ] || fail "the documented shard lines wrote: $(cat shards.txt)"
printf '%s\n' "$job_script" > shards.sh
PATH="$(dirname "$empricer"):$PATH" until_deadline "sbatch --wait shards.sh (the job array)" \
  sbatch.out sbatch --wait shards.sh ||
  fail "sbatch --wait failed: $(cat sbatch.out; tail -n 5 slurm-*.out 2> /dev/null)"
bash -e -c "$merge_line" || fail "the documented merge line failed"
compare_with_whole "$dir/work"
echo "the documented job array over 4 shards gives the whole run's Batch_Result.csv"

# The chain form, as the README gives it: --chain after empricer, in the job and the whole run.
mkdir "$dir/chain"
cd "$dir/chain"
make_inputs "$dir/chain"
# Two S0 whose rows alternate, so that every shard touches both groups.
{
  echo 'S0,K,Days'
  for i in $(seq 1 18); do echo "$((100 + 3 * (i % 2))),$((90 + 2 * (i % 9))),$((1 + i % 7))"; done
} > batch.csv
mkdir whole
cp Setup.txt dist.csv batch.csv whole
cd whole
until_deadline "the whole chain run" console.txt "$empricer" --chain --seed "$seed" --quiet ||
  fail "the whole chain run failed: $(cat console.txt)"
cd ..
bash -e -c "$shard_lines" || fail "the documented shard lines failed"
printf '%s\n' "$job_script" | sed 's/^empricer /empricer --chain /' > shards.sh
grep -q '^empricer --chain ' shards.sh || fail "the job script has no line that starts with empricer"
PATH="$(dirname "$empricer"):$PATH" until_deadline "sbatch --wait shards.sh (the chain's job array)" \
  sbatch.out sbatch --wait shards.sh ||
  fail "sbatch --wait failed for the chain: $(cat sbatch.out; tail -n 5 slurm-*.out 2> /dev/null)"
bash -e -c "$merge_line" || fail "the documented merge line failed"
compare_with_whole "$dir/chain"
echo "the chain form of the job array gives the whole chain run's Batch_Result.csv"
