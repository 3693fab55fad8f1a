#!/usr/bin/env bash
# Whether two builds give the same bytes: runs the golden cases, both examples and the
# workloads W1 and W2 through each build's clocked program (tests/empricer_clocked) with a
# clock that stands still, on every kernel this processor has and on the default, 1, 3 and 8
# threads, and compares standard output, the exit status, Batch_Result.csv and VelmarTemp.txt.
#
# Usage: bench/same_bytes.sh OLD_CLOCKED NEW_CLOCKED [EXTRA_OPTION...]
#   EXTRA_OPTION... go to both programs after the kernel (for example --std-errors).
#   Prints one line per difference and ends with status 1 if there was any.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[[ $# -ge 2 ]] || { echo "usage: $0 OLD_CLOCKED NEW_CLOCKED [EXTRA_OPTION...]" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
work="$(mktemp -d "${TMPDIR:-/tmp}/empricer-same-XXXXXX")"
trap 'rm -rf "$work"' EXIT

source "$here/workloads.sh"
make_workloads "$work/cases"
rm -rf "$work/cases/W3" "$work/cases/W3P"  # long per row; the chain tests cover them
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

# run BINARY CASE OUT KERNEL THREADS...: the case in a fresh copy, its results kept in OUT.
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
for case in $(ls "$work/cases" | grep -v '\.'); do
  for kernel in "${kernels[@]}"; do
    for threads in default 1 3 8; do
      options=()
      [[ $threads == default ]] || options=(--threads "$threads")
      run "$old" "$case" "$work/old" "$kernel" "${options[@]}" "$@"
      run "$new" "$case" "$work/new" "$kernel" "${options[@]}" "$@"
      for f in stdout status; do
        cmp -s "$work/old.$f" "$work/new.$f" ||
          { echo "DIFFERS: $case $kernel threads $threads: $f"; differences=$((differences + 1)); }
      done
      for f in Batch_Result.csv VelmarTemp.txt; do
        if [[ -e "$work/old/$f" || -e "$work/new/$f" ]]; then
          cmp -s "$work/old/$f" "$work/new/$f" ||
            { echo "DIFFERS: $case $kernel threads $threads: $f"; differences=$((differences + 1)); }
        fi
      done
      compared=$((compared + 1))
    done
  done
done
echo "$compared runs compared on kernels ${kernels[*]}, $differences differences"
[[ $differences -eq 0 ]]
