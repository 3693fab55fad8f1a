#!/usr/bin/env bash
# The peak memory of a large chain: 2,000,000 trajectories, expiries of 1 to 6 days, strikes
# 95 to 105, winning probabilities on, the example distribution. The read-back terminal
# prices of such a chain do not fit the kept budget, so it runs its trajectories twice.
#
# Usage: bench/chain_memory.sh EMPRICER [OPTION...]
#   Prints the run's maximum resident set size in MB (GNU time's figure) and its time.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[[ $# -ge 1 ]] || { echo "usage: $0 EMPRICER [OPTION...]" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "GNU time is missing (apt-get install time)" >&2; exit 1; }
binary=$(realpath "$1")
shift
work="$(mktemp -d "${TMPDIR:-/tmp}/empricer-memory-XXXXXX")"
trap 'rm -rf "$work"' EXIT
printf '1 RunMode 2\n2 Trajectories 2000000\n3 RiskFreeRate 0.05\n4 StepScale 1\n5 Shifts 1.02 0.98 1.01 0.99\n7 WinningProb 1\n' > "$work/Setup.txt"
cp "$here/../examples/batch/dist.csv" "$work/dist.csv"
{ echo S0,K,Days; for d in 1 2 3 4 5 6; do for k in $(seq 95 105); do echo "100,$k,$d"; done; done; } > "$work/batch.csv"
cd "$work"
/usr/bin/time -f '%M %e' -o time.txt "$binary" --seed 1 --chain --quiet "$@" > /dev/null
read -r kilobytes seconds < time.txt
echo "peak resident memory $((kilobytes / 1024)) MB, $seconds s"
