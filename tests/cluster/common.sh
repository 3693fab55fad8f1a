# shellcheck shell=bash
# Helpers shared by the many-machine tests; sourced by slurm_array_test.sh and
# ssh_parallel_test.sh, which run the recipes of docs/many-machines.md with real daemons.
#
# Exit status 77 means "skipped" (SKIP_RETURN_CODE in tests/CMakeLists.txt). Outside CI a
# missing package or a machine that cannot host the daemons skips; with CI=true it fails.

cluster_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$cluster_dir/../.." && pwd)
readme="$source_dir/docs/many-machines.md"
readme_section='## A batch over many machines'

# Every wait of a test is measured against the test's own deadline: deadline_seconds, set by
# the test before it sources this file and counted from here. The test then ends by itself, with
# its daemons stopped, before CTest's TIMEOUT (a minute longer, tests/CMakeLists.txt) would kill
# it and leave them running.
[[ "${deadline_seconds:-}" =~ ^[1-9][0-9]*$ ]] || {
  echo "FAIL: the test sets no deadline_seconds before it sources common.sh" >&2
  exit 1
}
deadline_start=$SECONDS
deadline=$((deadline_start + deadline_seconds))

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Skips outside CI; fails under CI=true.
cannot_run() {
  if [ "${CI:-}" = true ]; then
    fail "$* (CI=true: install the prerequisites in README.md)"
  fi
  echo "SKIP: $*" >&2
  exit 77
}

# need_package PACKAGE COMMAND...: every COMMAND must be found, or the package is missing.
need_package() {
  local package=$1 command
  shift
  for command in "$@"; do
    command -v "$command" > /dev/null || [ -x "/usr/sbin/$command" ] ||
      cannot_run "Debian package $package is missing (no '$command')"
  done
}

# A TCP port that nothing on the loopback answers on (nor holds, as far as `ss` shows, if it is
# there), outside the ephemeral range so that no outgoing connection takes it meanwhile.
# Names it on standard output.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 12000))
    if ! ss -Htan "( sport = :$port )" 2> /dev/null | grep -q . &&
       ! (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then
      echo "$port"
      return 0
    fi
  done
  fail "no free loopback port found"
}

# readme_block TEXT: the fenced block of the many-machine section of docs/many-machines.md that
# contains TEXT, without its fences. Exactly one block must contain it.
readme_block() {
  local count
  count=$(awk -v section="$readme_section" -v text="$1" -v count_only=1 \
          -f "$cluster_dir/readme_block.awk" "$readme") || fail "cannot read $readme"
  [ "$count" = 1 ] ||
    fail "docs/many-machines.md: $count fenced blocks under '$readme_section' contain '$1'," \
         "expected one"
  awk -v section="$readme_section" -v text="$1" -f "$cluster_dir/readme_block.awk" "$readme"
}

# Seconds left before the deadline (at least 1), for `timeout`.
time_left() {
  local left=$((deadline - SECONDS))
  [ "$left" -gt 0 ] || left=1
  echo "$left"
}

# out_of_time WHAT: fails, saying that the deadline ran out, after how long, and what the test
# was waiting for.
out_of_time() {
  fail "time ran out after $((SECONDS - deadline_start)) s (deadline $deadline_seconds s) waiting for $*"
}

# until_deadline WHAT OUTPUT COMMAND...: runs COMMAND (not a shell function), its standard
# output and error in the file OUTPUT, and stops it when the deadline comes: `timeout` sends
# TERM, then KILL 5 s later, to COMMAND and everything it started. When time runs out (COMMAND
# stopped, or failing once the deadline has passed), the test fails saying so, with the end of
# OUTPUT; otherwise COMMAND's status is returned, for the caller to report a failure.
until_deadline() {
  local what=$1 output=$2 status=0
  shift 2
  [ "$SECONDS" -lt "$deadline" ] || out_of_time "$what (not started)"
  # (The braces keep bash from reporting a KILLed `timeout` on the test's standard error.)
  { timeout -k 5 "$(time_left)" "$@" > "$output" 2>&1; } 2> /dev/null || status=$?
  if [ "$status" != 0 ] && { [ "$status" = 124 ] || [ "$SECONDS" -ge "$deadline" ]; }; then
    out_of_time "$what; the end of its output:
$(tail -n 20 "$output" 2> /dev/null)"
  fi
  return "$status"
}

# stop_pid PID: stops a process this test started and waits for it, killing it after 5 s.
stop_pid() {
  local pid=$1 i
  [ -n "$pid" ] || return 0
  kill "$pid" 2> /dev/null || return 0
  for i in $(seq 1 25); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.2
  done
  kill -KILL "$pid" 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
}

# make_inputs FOLDER: the inputs of a small batch in FOLDER. The example's Setup.txt (winning
# probabilities on, so every shard also writes and reads its own scratch file) with fewer
# trajectories, the example's dist.csv, and 18 rows with an empty line among them, so that
# the four shards are uneven (4, 5, 4 and 5 rows) and the row count must skip the empty line.
make_inputs() {
  local folder=$1 i
  sed 's/^2 Trajectories .*/2 Trajectories 2000/' "$source_dir/examples/batch/Setup.txt" \
    > "$folder/Setup.txt"
  grep -qx '2 Trajectories 2000' "$folder/Setup.txt" || fail "examples/batch/Setup.txt has no key 2"
  cp "$source_dir/examples/batch/dist.csv" "$folder/dist.csv"
  {
    echo 'S0,K,Days'
    for i in $(seq 1 18); do
      echo "$((80 + 3 * i)),$((90 + 2 * (i % 9))),$((1 + i % 7))"
      [ "$i" != 9 ] || echo
    done
  } > "$folder/batch.csv"
}

# whole_run EMPRICER FOLDER SEED: the whole batch in FOLDER/whole, the reference for the shards.
whole_run() {
  local empricer=$1 folder=$2 seed=$3 here=$PWD lines
  mkdir "$folder/whole"
  cp "$folder/Setup.txt" "$folder/dist.csv" "$folder/batch.csv" "$folder/whole"
  cd "$folder/whole" || fail "cannot enter $folder/whole"
  until_deadline "the whole run" console.txt "$empricer" --seed "$seed" --quiet ||
    fail "the whole run failed: $(cat console.txt)"
  cd "$here" || fail "cannot return to $here"
  lines=$(wc -l < "$folder/whole/Batch_Result.csv")
  [ "$lines" = $((1 + 5 * 18)) ] ||
    fail "the whole run wrote $lines lines, expected a header and five lines for each of 18 rows"
}

# compare_with_whole FOLDER: the merged Batch_Result.csv in FOLDER must be the whole run's.
compare_with_whole() {
  cmp "$1/whole/Batch_Result.csv" "$1/Batch_Result.csv" ||
    fail "the merged shards differ from the whole run: $(diff "$1/whole/Batch_Result.csv" "$1/Batch_Result.csv" | head -20)"
}

# The seed the documented recipes use; the whole run uses the same.
readme_seed() {
  grep -o -- '--seed [0-9]*' <<< "$1" | head -n 1 | cut -d ' ' -f 2
}

# wait_for_daemon NAME PID LOG COMMAND...: waits until COMMAND (not a shell function) succeeds
# while the daemon NAME (started by the test as PID, writing LOG) runs; each try is stopped at
# the deadline. A daemon that stops or does not come up in time fails the test, with the end of
# its log.
wait_for_daemon() {
  local name=$1 pid=$2 log=$3
  shift 3
  until { timeout -k 1 "$(time_left)" "$@"; } > /dev/null 2>&1; do
    kill -0 "$pid" 2> /dev/null ||
      fail "$name stopped before it came up; the end of $log:
$(tail -n 20 "$log" 2> /dev/null)"
    [ "$SECONDS" -lt "$deadline" ] ||
      out_of_time "$name to come up; the end of $log:
$(tail -n 20 "$log" 2> /dev/null)"
    sleep 0.2
  done
}
