#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, apart from the main build.
# Usage: fuzz/build.sh [BUILD_DIR]   (default: build-fuzz beside the sources)
# Exits 0 without building, and says so, when clang++ is not installed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build-fuzz}"
clang="${CLANGXX:-$(command -v clang++ || true)}"
if [[ -z "$clang" ]]; then
  echo "fuzz: clang++ not found, fuzz targets not built"
  exit 0
fi
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="$clang" >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}"
