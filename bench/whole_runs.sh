#!/usr/bin/env bash
# Whole-run timings of the workloads of workloads.sh, for one or more builds of empricer, with
# hyperfine.
#
# Usage: bench/whole_runs.sh [-r RUNS] [-w W1|W2|W3|W3P|W4|W5|W6] COMMAND...
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
[[ $# -ge 1 ]] || { echo "usage: $0 [-r RUNS] [-w W1|W2|W3|W3P|W4|W5|W6] COMMAND..." >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/empricer-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT

source "$here/workloads.sh"
make_workloads "$work"

for w in W1 W2 W3 W3P W4 W5 W6; do
  # Without -w, the chain workloads W3, W3P, W4, W5 and W6 run only when asked for.
  if [[ -n "$only" ]]; then [[ "$only" == "$w" ]] || continue; else [[ $w == W1 || $w == W2 ]] || continue; fi
  echo "== $w"
  commands=()
  for c in "$@"; do commands+=("cd $work/$w && $c $(workload_options $w) > /dev/null"); done
  hyperfine --runs "$runs" --warmup 1 --style basic --export-json "$work/$w.json" "${commands[@]}"
  # The medians, in the order of the commands, and their ratios to the first.
  grep -o '"median": *[0-9.e+-]*' "$work/$w.json" | grep -o '[0-9.e+-]*$' |
    awk -v names="$(printf '%s\n' "$@")" 'BEGIN { n = split(names, name, "\n") }
      { if (NR == 1) first = $1;
        printf "%s median %.3f s, %.3f of the first: %s\n", "'"$w"'", $1, $1 / first, name[NR] }'
done
