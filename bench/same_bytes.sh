#!/usr/bin/env bash
# Whether two builds give the same bytes: runs the golden cases, both examples and the
# workloads W1, W2, W3 and W3P through each build's clocked program (tests/empricer_clocked)
# with a clock that stands still, on every kernel this processor has and on the default, 1, 3
# and 8 threads, each once as it is and once with --std-errors --results r.csv, and compares
# standard output, the exit status, Batch_Result.csv, VelmarTemp.txt and r.csv.
#
# W3P runs with --chain only; W3 with --chain and also row by row. Row by row, W3 takes from
# 15 s to a minute a run on two cores, so it runs only with --std-errors --results r.csv (the
# values themselves are in r.csv) and only on the threads in SAME_BYTES_W3_THREADS (default:
# "default", every CPU): the whole comparison then took 11 minutes on a busy 2-core machine,
# and each further thread count there adds about 5. SAME_BYTES_W3_THREADS="" leaves it out.
#
# SAME_BYTES_RESULTS_COLUMNS=N compares only the first N columns of r.csv (and the rest of
# its lines as they are), for builds whose results files differ by columns added at the end.
#
# Usage: bench/same_bytes.sh OLD_CLOCKED NEW_CLOCKED [EXTRA_OPTION...]
#   EXTRA_OPTION... go to both programs after the kernel, threads and case options.
#   Prints one line per difference and ends with status 1 if there was any.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[[ $# -ge 2 ]] || { echo "usage: $0 OLD_CLOCKED NEW_CLOCKED [EXTRA_OPTION...]" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
work="$(mktemp -d "${TMPDIR:-/tmp}/empricer-same-XXXXXX")"
trap 'rm -rf "$work"' EXIT
started=$SECONDS

source "$here/workloads.sh"
make_workloads "$work/cases"
for c in "$here"/../tests/golden/case*/; do
  name=$(basename "$c")
  mkdir -p "$work/cases/$name"
  cp -r "$c/input/." "$work/cases/$name/"
  [[ -f "$c/stdin.txt" ]] && cp "$c/stdin.txt" "$work/cases/$name.stdin"
  cp "$c/clock" "$work/cases/$name.clock"
done
cp -r "$here/../examples/batch" "$work/cases/example-batch"
cp -r "$here/../examples/manual" "$work/cases/example-manual"
printf '100\n95\n30\n' > "$work/cases/example-manual.stdin"
rm -f "$work/cases"/example-*/Batch_Result.csv "$work/cases"/example-*/VelmarTemp.txt

kernels=(reference scalar)
grep -qw avx2 /proc/cpuinfo && kernels+=(avx2)
grep -qw avx512f /proc/cpuinfo && kernels+=(avx512)

# What runs: "CASE|CASE OPTIONS|THREADS...|VARIANTS..." an entry, a variant being plain (the
# options as they are) or stats (with --std-errors --results r.csv).
all_threads="default 1 3 8"
plan=()
for dir in "$work/cases"/*/; do
  case=$(basename "$dir")
  # W3 runs below; W5 and W6 are W3 with a market file, valued only with --calibrate.
  [[ $case == W3* || $case == W5 || $case == W6 ]] || plan+=("$case||$all_threads|plain stats")
done
plan+=("W3P|--chain|$all_threads|plain stats" "W3|--chain|$all_threads|plain stats")
w3_threads=${SAME_BYTES_W3_THREADS-default}
[[ -n $w3_threads ]] && plan+=("W3||$w3_threads|stats")

# run BINARY CASE OUT KERNEL OPTION...: the case in a fresh copy, its results kept in OUT.
run() {
  local binary=$1 case=$2 out=$3 kernel=$4
  shift 4
  rm -rf "$out" && cp -r "$work/cases/$case" "$out"
  local clock="1700000000 0"
  [[ -f "$work/cases/$case.clock" ]] && clock=$(cat "$work/cases/$case.clock")
  local stdin=/dev/null
  [[ -f "$work/cases/$case.stdin" ]] && stdin="$work/cases/$case.stdin"
  local status=0
  # shellcheck disable=SC2086
  (cd "$out" && "$binary" $clock "--kernel=$kernel" "$@" < "$stdin" > "$out.stdout" 2> /dev/null) ||
    status=$?
  echo "$status" > "$out.status"
}

differences=0
compared=0
for entry in "${plan[@]}"; do
  IFS='|' read -r case case_options threads_list variants <<< "$entry"
  for variant in $variants; do
    if [[ $variant == plain ]]; then variant=""; else variant="--std-errors --results r.csv"; fi
    for kernel in "${kernels[@]}"; do
      for threads in $threads_list; do
        # shellcheck disable=SC2206
        options=($case_options $variant)
        [[ $threads == default ]] || options+=(--threads "$threads")
        what="$case, kernel $kernel, threads $threads"
        what+="${case_options:+, $case_options}${variant:+, $variant}"
        run "$old" "$case" "$work/old" "$kernel" "${options[@]}" "$@"
        run "$new" "$case" "$work/new" "$kernel" "${options[@]}" "$@"
        for f in stdout status; do
          cmp -s "$work/old.$f" "$work/new.$f" ||
            { echo "DIFFERS: $what: $f"; differences=$((differences + 1)); }
        done
        if [[ -n ${SAME_BYTES_RESULTS_COLUMNS:-} ]]; then
          for side in old new; do
            [[ -e "$work/$side/r.csv" ]] &&
              cut -d, -f"1-$SAME_BYTES_RESULTS_COLUMNS" "$work/$side/r.csv" > "$work/$side/r.cut" &&
              mv "$work/$side/r.cut" "$work/$side/r.csv"
          done
        fi
        for f in Batch_Result.csv VelmarTemp.txt r.csv; do
          if [[ -e "$work/old/$f" || -e "$work/new/$f" ]]; then
            cmp -s "$work/old/$f" "$work/new/$f" ||
              { echo "DIFFERS: $what: $f"; differences=$((differences + 1)); }
          fi
        done
        compared=$((compared + 1))
      done
    done
  done
done
echo "$compared runs compared on kernels ${kernels[*]}, $differences differences," \
  "$((SECONDS - started)) s"
[[ $differences -eq 0 ]]
