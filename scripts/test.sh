#!/usr/bin/env bash
# Builds the library and runs every test three times: as built for users,
# under AddressSanitizer and UndefinedBehaviorSanitizer, and with zlib as
# the inflater instead of libdeflate.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh python3-meshio python3-numpy

jobs=$(nproc 2>/dev/null || echo 2)

run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "== tests =="
run build -DRESULTS_API_INFLATER=libdeflate
echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run build-asan -DRESULTS_API_SANITIZE=ON -DRESULTS_API_BUILD_BENCH=OFF -DRESULTS_API_INFLATER=libdeflate
echo "== tests with the zlib inflater =="
run build-zlib -DRESULTS_API_INFLATER=zlib -DRESULTS_API_BUILD_BENCH=OFF
echo "all tests passed"
