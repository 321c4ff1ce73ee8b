#!/usr/bin/env bash
# Builds the library and runs the tests in these legs, all of them unless told
# otherwise; --only LEG runs one alone:
#   tests    every test, as built for users, inflating with libdeflate (build/)
#   asan     every test under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   zlib     the tests of the library (not the tools) with zlib as the inflater (build-zlib/)
#   tsan     the libqvres thread tests under ThreadSanitizer, built with clang
#            (build-tsan/; only that target, to keep the leg short)
#   windows  both DLLs cross-built with mingw-w64, the tests run under wine (build-win/)
#   fuzz     a 60-second run of every fuzz target under ASan/UBSan (build-fuzz/,
#            scripts/fuzz-smoke.sh)
#   abi      both libraries' binary interfaces against the baselines in abi/
#            (scripts/abi.sh on build/), and planted changes that must fail
#            the check (tests/abi/planted_change.sh)
#   packages the Debian packages (scripts/packages.sh, build-pkg/) checked by
#            lintian (errors fail, warnings are listed), installed with
#            apt-get, used, and purged again (tests/packages/installed_test.sh;
#            needs root or sudo); the Windows zip is made by the windows leg
# Usage: scripts/test.sh [--no-tsan] [--no-fuzz] [--only LEG]
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,/^# Usage/p' "$0" | sed 's/^# \{0,1\}//'; }

legs="tests abi asan zlib tsan windows fuzz packages"
while [ $# -gt 0 ]; do
  case $1 in
    --no-tsan) legs=${legs/tsan/} ;;
    --no-fuzz) legs=${legs/fuzz/} ;;
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
  case $leg in tests|abi|asan|zlib|tsan|windows|fuzz|packages) ;; *) echo "test.sh: no leg '$leg'" >&2; exit 2 ;; esac
done
want() { [[ " $legs " == *" $1 "* ]]; }

deps=()
# ParaView for its reader plugin: python3-paraview brings pvpython and VTK's
# Python modules (it replaces python3-vtk9, which it conflicts with); xvfb
# for the application's test.
if want tests || want asan; then deps+=(python3-meshio python3-numpy python3-pytest python3-dask python3-distributed python3-pip
                                        paraview python3-paraview xvfb xauth); fi
if want tsan || want fuzz; then deps+=(clang-14 libclang-rt-14-dev); fi
want abi && deps+=(abigail-tools python3)
want packages && deps+=(dpkg-dev lintian python3)
want windows && deps+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 googletest)
scripts/install-deps.sh "${deps[@]}"

jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESULTS_API_WERROR=ON "$@"
}

run() {
  local dir=$1; shift
  configure_and_build "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

leg_start() { echo "== $1 =="; SECONDS=0; }
leg_end() { echo "== $1 leg: ${SECONDS}s =="; }

# Both DLLs and the tests they need, cross-built with mingw-w64 and run
# under wine64: headless, quiet, with wine's prefix inside the build tree.
# The wine server is started here with its output sent away (one holding
# ctest's output pipe would keep ctest waiting), stopped at the end, and the
# run is bounded by a timeout.
windows_leg() {
  local dir=build-win status=0
  # Optimised as the other legs, without debug information: it would only
  # slow down the static links.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRESULTS_API_WERROR=ON \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DRESULTS_API_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$jobs"
  # The zip a Windows host developer takes (cmake/packaging.cmake).
  (cd "$dir" && cpack -G ZIP >/dev/null)
  python3 tests/packages/windows_zip_test.py "$dir"/packages/*.zip
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  export WINEPREFIX="$PWD/$dir/wine" WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  "$server" -p </dev/null >/dev/null 2>&1
  # A new prefix is made once, before tests run side by side.
  timeout 300 "$dir/wine_run.sh" wineboot --init </dev/null >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    # A test is run a second time only when it failed: wine now and then
    # fails to start a program (no output, an exit within 0.05 s), which
    # says nothing of the code. A test that fails on its own fails twice.
    timeout 1200 ctest --test-dir "$dir" -j "$jobs" --timeout 300 --output-on-failure \
      --repeat until-pass:2 || status=$?
  else
    echo "wine could not set up its prefix in $WINEPREFIX" >&2
  fi
  "$server" -k </dev/null >/dev/null 2>&1 || true
  return "$status"
}

if want tests; then
  leg_start "tests"
  run build -DRESULTS_API_INFLATER=libdeflate
  leg_end tests
fi
if want abi; then
  leg_start "binary interfaces against abi/"
  # The tests leg's build: its libraries carry the debug information abidw
  # reads, and after that leg nothing is left to build.
  configure_and_build build -DRESULTS_API_INFLATER=libdeflate
  scripts/abi.sh --build-dir build
  tests/abi/planted_change.sh
  leg_end abi
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
  # Built as a user's plain Release build is (-O3), so that warnings only
  # the optimiser finds fail here rather than in a user's build.
  configure_and_build build-zlib -DCMAKE_BUILD_TYPE=Release -DRESULTS_API_INFLATER=zlib -DRESULTS_API_BUILD_BENCH=OFF
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
if want windows; then
  leg_start "Windows: DLLs cross-built with mingw-w64, tests under wine"
  windows_leg
  leg_end windows
fi
if want fuzz; then
  leg_start "fuzz targets, $((${FUZZ_SECONDS:-60})) s each under ASan/UBSan"
  scripts/fuzz-smoke.sh build-fuzz
  leg_end fuzz
fi
if want packages; then
  leg_start "Debian packages: lintian, installed, used, removed"
  scripts/packages.sh build-pkg
  status=0
  lintian --fail-on error build-pkg/packages/*.deb >build-pkg/packages/lintian.txt 2>&1 || status=$?
  grep -v '^running with root' build-pkg/packages/lintian.txt || true
  [ "$status" -eq 0 ] || { echo "lintian found errors" >&2; exit 1; }
  tests/packages/installed_test.sh build-pkg/packages
  leg_end packages
fi
echo "all tests passed"
