#!/usr/bin/env bash
# The GNU parallel command over --sshlogin of docs/many-machines.md, run as written against an
# sshd that this test starts on a free loopback port with a host key and a user key of its own.
# The documented host names alpha, beta and gamma are all this machine, through an ssh client
# configuration in the temporary folder; parallel copies the inputs into a fresh remote folder
# for each shard, brings the shard's result back and cleans up. The merged shards must be byte for byte
# the whole run under the same seed.
#
# Usage: ssh_parallel_test.sh EMPRICER
set -euo pipefail
# The deadline of all the test's waits, in seconds: some fifteen times the 13 s the test takes
# on an idle two-core machine (some 60 ssh logins, each job's one after another), and about
# three times the 70 s it has taken on a loaded one. CTest's TIMEOUT is a minute longer.
deadline_seconds=200
# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh"

if [ $# != 1 ] || [ ! -x "$1" ]; then fail "usage: $0 EMPRICER"; fi
empricer="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"

need_package openssh-server sshd
need_package openssh-client ssh ssh-keygen
need_package rsync rsync
need_package parallel parallel

# The recipe, as users paste it.
# shellcheck disable=SC2016 # the documented text, not an expansion
shard_lines=$(readme_block 'rows=$(')
parallel_command=$(readme_block '--sshlogin')
merge_line=$(readme_block 'head -n 1 shard-1.csv')
seed=$(readme_seed "$parallel_command")
[ -n "$seed" ] || fail "the documented parallel command gives no --seed"

# sshd's privilege separation folder, which the system's sshd service would make. It is left
# in place: another sshd may be using it by then.
[ -d /run/sshd ] || mkdir -m 755 /run/sshd 2> /dev/null ||
  cannot_run "sshd needs its privilege separation folder /run/sshd, which cannot be made"

dir=$(mktemp -d "${TMPDIR:-/tmp}/empricer-ssh.XXXXXX")
sshd_pid=''
cleanup() {
  local status=$?
  stop_pid "$sshd_pid"
  # The log is kept until the folder is gone: writing it may fail (a closed pipe).
  local log=''
  if [ "$status" != 0 ] && [ "$status" != 77 ] && [ -f "$dir/sshd.log" ]; then
    log="--- the end of sshd.log:
$(tail -n 15 "$dir/sshd.log")
"
  fi
  rm -rf "$dir"
  trap '' PIPE
  printf '%s' "$log" >&2 || true
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

# Keys for this test only: the server's host key, the user's key it accepts, and the client's
# record of the host key.
ssh-keygen -q -t ed25519 -N '' -C empricer-test-host -f "$dir/ssh_host_ed25519_key"
ssh-keygen -q -t ed25519 -N '' -C empricer-test-user -f "$dir/id_ed25519"
cp "$dir/id_ed25519.pub" "$dir/authorized_keys"
echo "empricer-test-sshd $(cut -d ' ' -f 1,2 "$dir/ssh_host_ed25519_key.pub")" > "$dir/known_hosts"

port=$(free_port)
fill_in() {
  sed -e "s|@PORT@|$port|g" -e "s|@USER@|$(id -un)|g" -e "s|@DIR@|$dir|g" \
      -e "s|@BINDIR@|$(dirname "$empricer")|g" "$1"
}
fill_in "$cluster_dir/sshd_config.in" > "$dir/sshd_config"
fill_in "$cluster_dir/ssh_config.in" > "$dir/ssh_config"
sshd=$(command -v sshd || echo /usr/sbin/sshd)
"$sshd" -t -f "$dir/sshd_config" || fail "sshd rejects $dir/sshd_config"
"$sshd" -D -e -f "$dir/sshd_config" > "$dir/sshd.log" 2>&1 &
sshd_pid=$!
export PARALLEL_SSH="ssh -F $dir/ssh_config"
wait_for_daemon sshd "$sshd_pid" "$dir/sshd.log" ssh -F "$dir/ssh_config" alpha true
until_deadline "ssh alpha to find empricer" "$dir/remote.out" \
  ssh -F "$dir/ssh_config" alpha 'command -v empricer' || true
remote=$(cat "$dir/remote.out")
[ "$remote" = "$empricer" ] || fail "the remote side finds '$remote' as empricer, not $empricer"

# The batch, and the whole run under the recipe's seed.
mkdir "$dir/work"
cd "$dir/work"
make_inputs "$dir/work"
whole_run "$empricer" "$dir/work" "$seed"

# The documented lines: four shards, parallel over the three hosts, the merge. parallel makes
# each job's remote folder (--workdir ...) under the remote user's ~/.parallel/tmp, named
# HOST-PID-JOB; none of them may be left behind.
remote_folders() { (cd ~ && ls -d .parallel/tmp/*-[0-9]*-[0-9]* 2> /dev/null) || true; }
folders_before=$(remote_folders)
bash -e -c "$shard_lines" || fail "the documented shard lines failed"
[ "$(wc -l < shards.txt)" = 4 ] || fail "the documented shard lines wrote: $(cat shards.txt)"
parallel_status=0
until_deadline "the documented parallel command" parallel.out bash -e -c "$parallel_command" ||
  parallel_status=$?
# sshd logs "beginning MaxStartups throttling" and "drop connection ... past MaxStartups" when
# more connections wait to log in than sshd_config's MaxStartups allows.
if grep -q MaxStartups "$dir/sshd.log"; then
  fail "sshd dropped connections beyond its MaxStartups while parallel ran: $(grep MaxStartups "$dir/sshd.log" | head -n 5)
parallel's output: $(cat parallel.out)"
fi
[ "$parallel_status" = 0 ] || fail "the documented parallel command failed: $(cat parallel.out)"
for i in 1 2 3 4; do
  [ -s "shard-$i.csv" ] || fail "parallel brought back no shard-$i.csv: $(cat parallel.out)"
done
[ "$(remote_folders)" = "$folders_before" ] ||
  fail "parallel left remote folders: $(comm -13 <(echo "$folders_before") <(remote_folders))"
bash -e -c "$merge_line" || fail "the documented merge line failed"
compare_with_whole "$dir/work"
echo "the documented parallel command over alpha, beta and gamma gives the whole run's Batch_Result.csv"
