#!/usr/bin/env bash
# Builds the library and runs the tests in four legs:
#   tests  every test, as built for users, inflating with libdeflate (build/)
#   asan   every test under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   zlib   the tests of the library (not the tools) with zlib as the inflater (build-zlib/)
#   tsan   the libqvres thread tests under ThreadSanitizer, built with clang
#          (build-tsan/; only that target, to keep the leg short)
# Usage: scripts/test.sh [--no-tsan] [--only tests|asan|zlib|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; }

legs="tests asan zlib tsan"
while [ $# -gt 0 ]; do
  case $1 in
    --no-tsan) legs=${legs/tsan/} ;;
    --only)
      [ $# -ge 2 ] || { usage >&2; exit 2; }
      legs=$2
      shift ;;
    --only=*) legs=${1#--only=} ;;
    -h|--help) usage; exit 0 ;;
    *) echo "test.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
for leg in $legs; do
  case $leg in tests|asan|zlib|tsan) ;; *) echo "test.sh: no leg '$leg'" >&2; exit 2 ;; esac
done
want() { [[ " $legs " == *" $1 "* ]]; }

deps=()
# ParaView for its reader plugin: python3-paraview brings pvpython and VTK's
# Python modules (it replaces python3-vtk9, which it conflicts with); xvfb
# for the application's test.
if want tests || want asan; then deps+=(python3-meshio python3-numpy python3-pytest python3-dask python3-distributed python3-pip
                                        paraview python3-paraview xvfb xauth); fi
want tsan && deps+=(clang-14 libclang-rt-14-dev)
scripts/install-deps.sh "${deps[@]}"

jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

run() {
  local dir=$1; shift
  configure_and_build "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

leg_start() { echo "== $1 =="; SECONDS=0; }
leg_end() { echo "== $1 leg: ${SECONDS}s =="; }

if want tests; then
  leg_start "tests"
  run build -DRESULTS_API_INFLATER=libdeflate
  leg_end tests
fi
if want asan; then
  leg_start "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run build-asan -DRESULTS_API_SANITIZE=ON -DRESULTS_API_BUILD_BENCH=OFF \
      -DRESULTS_API_INFLATER=libdeflate
  leg_end asan
fi
if want zlib; then
  leg_start "tests with the zlib inflater"
  configure_and_build build-zlib -DRESULTS_API_INFLATER=zlib -DRESULTS_API_BUILD_BENCH=OFF
  cmake --build build-zlib -j "$jobs"
  ctest --test-dir build-zlib -j "$jobs" -LE '^(tools|python|paraview)$' --output-on-failure
  leg_end zlib
fi
if want tsan; then
  leg_start "thread tests under ThreadSanitizer"
  configure_and_build build-tsan -DRESULTS_API_SANITIZE=thread \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DRESULTS_API_BUILD_BENCH=OFF -DRESULTS_API_BUILD_TOOLS=OFF
  cmake --build build-tsan -j "$jobs" --target qvres_thread_tests
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan -L '^qvres_threads$' --output-on-failure --no-tests=error
  leg_end tsan
fi
echo "all tests passed"
