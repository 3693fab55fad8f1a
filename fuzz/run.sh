#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time under AddressSanitizer and
# UndefinedBehaviorSanitizer, starting from the seed corpora in fuzz/corpus/. Fails on any
# crash, sanitizer report, failed check, timeout or memory blow-up.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]   (default 30 seconds, every target)
# New corpus entries and crash artifacts go to a temporary directory, never into the sources;
# set FUZZ_KEEP=DIR to keep them in DIR instead.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
seconds="${1:-30}"
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(line_reader fields number_text console_input settings distribution runs engine check dist
           quotes)
fi

if ! command -v "${CLANGXX:-clang++}" >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzzing skipped"
  exit 0
fi
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
"$here/build.sh" "$build" || { echo "fuzz: build failed"; exit 1; }

work="${FUZZ_KEEP:-$(mktemp -d "${TMPDIR:-/tmp}/empricer-fuzz-run-XXXXXX")}"
mkdir -p "$work"
[[ -n "${FUZZ_KEEP:-}" ]] || trap 'rm -rf "$work"' EXIT

# Larger inputs where the target needs them: whole files, runs and the three files of a check.
declare -A max_len=([line_reader]=20000 [distribution]=20000 [settings]=4096 [runs]=8192
                    [check]=8192 [quotes]=12000)

status=0
summary=""
for target in "${targets[@]}"; do
  exe="$build/${target}_fuzz"
  corpus="$work/corpus/$target"
  artifacts="$work/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  log="$work/$target.log"
  echo "fuzz: $target for ${seconds}s"
  ( cd "$work" && ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1" \
      UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -max_len="${max_len[$target]:-4096}" -print_final_stats=1 \
        -artifact_prefix="$artifacts" "$corpus" "$here/corpus/$target" \
        </dev/null >"$log" 2>&1 )
  rc=$?
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)"
  if [[ $rc -ne 0 ]]; then
    status=1
    echo "fuzz: $target FAILED (exit $rc); the end of its log:"
    tail -n 60 "$log"
    ls -l "$artifacts"
    summary+="$(printf '%-14s %12s runs  FAILED' "$target" "${runs:-?}")"$'\n'
  else
    summary+="$(printf '%-14s %12s runs  ok' "$target" "${runs:-?}")"$'\n'
  fi
done
echo "fuzz: ${seconds}s per target"
printf '%s' "$summary"
exit $status
