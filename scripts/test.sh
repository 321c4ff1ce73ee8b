#!/usr/bin/env bash
# Builds the library and runs every test: once as built for users, once
# under AddressSanitizer and UndefinedBehaviorSanitizer, and once as Windows
# DLLs cross-built with mingw-w64 and run under wine.
#   scripts/test.sh                  every leg
#   scripts/test.sh --only windows   the Windows leg alone
set -euo pipefail
cd "$(dirname "$0")/.."

only=""
if [ $# -gt 0 ]; then
  case "$1 ${2:-}" in
    "--only windows") only=windows ;;
    *) echo "usage: $0 [--only windows]" >&2; exit 2 ;;
  esac
fi

jobs=$(nproc 2>/dev/null || echo 2)

run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

# Both DLLs and the tests they need, cross-built with mingw-w64 and run
# under wine64: headless, quiet, with wine's prefix inside the build tree.
# The wine server is started here with its output sent away (one holding
# ctest's output pipe would keep ctest waiting), stopped at the end, and the
# run is bounded by a timeout.
windows_leg() {
  local dir=build-win start=$SECONDS status=0
  echo "== Windows: DLLs cross-built with mingw-w64, tests under wine =="
  scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    libz-mingw-w64-dev wine64 googletest
  # Optimised as the other legs, without debug information: it would only
  # slow down the static links.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DRESULTS_API_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$jobs"
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  export WINEPREFIX="$PWD/$dir/wine" WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  "$server" -p </dev/null >/dev/null 2>&1
  # A new prefix is made once, before tests run side by side.
  timeout 300 "$dir/wine_run.sh" wineboot --init </dev/null >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    timeout 1200 ctest --test-dir "$dir" -j "$jobs" --timeout 300 --output-on-failure \
      || status=$?
  else
    echo "wine could not set up its prefix in $WINEPREFIX" >&2
  fi
  "$server" -k </dev/null >/dev/null 2>&1 || true
  echo "Windows leg: $((SECONDS - start)) s"
  return "$status"
}

if [ "$only" = windows ]; then
  windows_leg
  exit
fi

scripts/install-deps.sh python3-meshio python3-numpy

echo "== tests =="
run build
echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run build-asan -DRESULTS_API_SANITIZE=ON -DRESULTS_API_BUILD_BENCH=OFF
windows_leg
echo "all tests passed"
