#!/usr/bin/env bash
# Builds the library and runs every test twice: once as built for users and
# once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh python3-meshio python3-numpy python3-pytest python3-dask python3-distributed python3-pip

jobs=$(nproc 2>/dev/null || echo 2)

run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== tests =="
run build
echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run build-asan -DRESULTS_API_SANITIZE=ON -DRESULTS_API_BUILD_BENCH=OFF
echo "all tests passed"
