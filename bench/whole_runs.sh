#!/usr/bin/env bash
# Whole-run timings of two workloads, for one or more builds of empricer, with hyperfine.
#
#   W1  one big valuation: 20,000 trajectories x 30 days, probabilities off, the 201-row
#       example distribution
#   W2  a long batch of small rows: 2,000 rows x 100 trajectories x 1 day, a 5,000-row
#       distribution, probabilities on
#
# Usage: bench/whole_runs.sh [-r RUNS] [-w W1|W2] COMMAND...
#   Each COMMAND is a binary with its options, quoted as one word ("build/empricer --threads 1").
#   Prints hyperfine's summary per workload, then each command's median and its ratio to the
#   first command's median.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
runs=5
only=""
while getopts "r:w:" flag; do
  case $flag in
    r) runs=$OPTARG ;;
    w) only=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ $# -ge 1 ]] || { echo "usage: $0 [-r RUNS] [-w W1|W2] COMMAND..." >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/empricer-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT

settings() {  # trajectories, probabilities
  printf '# workload\n1 RunMode 2\n2 Trajectories %s\n3 RiskFreeRate 0.05\n4 StepScale 1\n5 Shifts 1.02 0.98 1.01 0.99\n6 PauseAtEnd 0\n7 WinningProb %s\n' "$1" "$2"
}

mkdir -p "$work/W1" "$work/W2"
settings 20000 0 > "$work/W1/Setup.txt"
cp "$here/../examples/batch/dist.csv" "$work/W1/dist.csv"
printf 'S0,K,Days\n100,100,30\n' > "$work/W1/batch.csv"

settings 100 1 > "$work/W2/Setup.txt"
# A bell of 5,000 rows over -4 to 4 standard deviations of 0.0015, returns at the upper edge of
# each row's bin.
awk 'BEGIN { n = 5000; for (i = 0; i < n; i++) { x = (i - (n - 1) / 2) / (n / 8);
       w = int(1000 * exp(-x * x / 2) + 0.5); if (w < 1) w = 1;
       printf "%.7f,%d\n", 0.0015 * x + 0.0015 * 4 / n, w } }' > "$work/W2/dist.csv"
awk 'BEGIN { print "S0,K,Days"; for (i = 0; i < 2000; i++) printf "100,%d,1\n", 90 + i % 21 }' \
  > "$work/W2/batch.csv"

for w in W1 W2; do
  [[ -z "$only" || "$only" == "$w" ]] || continue
  echo "== $w"
  commands=()
  for c in "$@"; do commands+=("cd $work/$w && $c > /dev/null"); done
  hyperfine --runs "$runs" --warmup 1 --style basic --export-json "$work/$w.json" "${commands[@]}"
  # The medians, in the order of the commands, and their ratios to the first.
  grep -o '"median": *[0-9.e+-]*' "$work/$w.json" | grep -o '[0-9.e+-]*$' |
    awk -v names="$(printf '%s\n' "$@")" 'BEGIN { n = split(names, name, "\n") }
      { if (NR == 1) first = $1;
        printf "%s median %.3f s, %.3f of the first: %s\n", "'"$w"'", $1, $1 / first, name[NR] }'
done
