#!/usr/bin/env bash
# Installs the Debian packages in PACKAGES_DIR on this machine with apt-get,
# uses them as a host developer and a user would, and removes them again:
# the example hosts built against the installed headers with pkg-config and
# with the installed CMake package, run on a sample written by the installed
# qvres-sample; qvres-inspect from /usr/bin; qvres imported by /usr/bin/python3
# from the system's path. Needs root (or sudo). The machine is left as it was
# found: a package of ours installed already stops the test before anything
# is changed, and whatever the install brought in (the packages and any
# dependency they pulled) is purged on the way out, pass or fail.
# Usage: tests/packages/installed_test.sh PACKAGES_DIR
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
packages_dir=$(cd "$1" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq)

debs=("$packages_dir"/*.deb)
[ -e "${debs[0]}" ] || { echo "no .deb files in $packages_dir" >&2; exit 1; }
names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
for name in "${names[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$name" 2>/dev/null | grep -qv '^unknown ok not-installed$'; then
    echo "$name is on this machine already (dpkg: $(dpkg-query -W -f='${Status}' "$name"));" \
         "this test would replace and then remove it, so it stops here" >&2
    exit 1
  fi
done

installed() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 ~ /^.i/ {print $2}' | sort; }
work=$(mktemp -d)
installed >"$work/before"

failures=0
cleanup() {
  local status=$?
  installed >"$work/after"
  # Ours and what came with them, nothing that was here before.
  mapfile -t added < <(comm -13 "$work/before" "$work/after")
  if [ ${#added[@]} -gt 0 ]; then
    echo "removing: ${added[*]}"
    "${apt[@]}" purge "${added[@]}" >/dev/null
  fi
  installed >"$work/removed"
  if ! cmp -s "$work/before" "$work/removed"; then
    echo "FAILED: the installed packages differ from before:"; diff "$work/before" "$work/removed" || true
    status=1
  fi
  for left in /usr/lib/python3/dist-packages/qvres /usr/share/results_api /usr/include/qvres.h \
              /usr/bin/qvres-inspect /usr/lib/x86_64-linux-gnu/cmake/results_api; do
    if [ -e "$left" ]; then
      echo "FAILED: $left is left after the packages were purged"
      $sudo rm -rf "$left"
      status=1
    fi
  done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

check() {  # check "what" command...: a failing step is reported, the rest still run
  local what=$1; shift
  if "$@" >"$work/out" 2>&1; then
    echo "ok: $what"
  else
    echo "FAILED: $what:"; sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  fi
}

"${apt[@]}" install --no-install-recommends "${debs[@]}" >/dev/null
echo "installed: ${names[*]}"

cp "$source_dir/examples/host.c" "$source_dir/examples/qvres_host.c" "$work/"
cd "$work"
check "qvres-sample from /usr/bin writes the sample" /usr/bin/qvres-sample "$work/sample"
check "host.c built with pkg-config results_api" \
  sh -c 'cc -std=c99 -Wall -Werror host.c $(pkg-config --cflags --libs results_api) -o host'
check "qvres_host.c built with pkg-config qvres" \
  sh -c 'cc -std=c99 -Wall -Werror qvres_host.c $(pkg-config --cflags --libs qvres) -o qvres_host'
check "the hosts use the installed headers and libraries" sh -c '
  for p in results_api qvres; do
    [ "$(realpath "$(pkg-config --variable=includedir $p)")" = /usr/include ] || exit 1
  done &&
  ldd host | grep -Eq "libresults_api.so.1 => (/usr)?/lib/" &&
  ldd qvres_host | grep -Eq "libqvres.so.2 => (/usr)?/lib/"'
# Both print one line per cycle with its peak pressure: 12 cycles.
check "host on the sample" sh -c '
  ./host sample/sample_run_0.qvres sample >host.out && [ "$(grep -c "peak pressure" host.out)" -eq 12 ]'
check "qvres_host on the sample" sh -c '
  ./qvres_host sample >qvres_host.out && [ "$(grep -c "peak pressure" qvres_host.out)" -eq 12 ]'
cat >CMakeLists.txt <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(hosts C)
find_package(results_api 1 REQUIRED)
add_executable(host host.c)
target_link_libraries(host PRIVATE results_api::results_api)
add_executable(qvres_host qvres_host.c)
target_link_libraries(qvres_host PRIVATE results_api::qvres)
CMAKE
check "both hosts built with the installed CMake package" \
  sh -c 'cmake -S . -B cmake-build -G Ninja && cmake --build cmake-build && ./cmake-build/qvres_host sample'
check "qvres-inspect from /usr/bin" sh -c '
  /usr/bin/qvres-inspect summary sample/sample_run.qvres_base | grep -q . &&
  /usr/bin/qvres-inspect --version | grep -q "libqvres.so.2)"'
# Run away from the source tree and without the variables that name another
# package or library: the system's python3 finds both by itself.
check "/usr/bin/python3 imports qvres from the system" \
  env -u PYTHONPATH -u QVRES_LIBRARY /usr/bin/python3 -c '
import os, sys, qvres
assert qvres.__file__ == "/usr/lib/python3/dist-packages/qvres/__init__.py", qvres.__file__
with qvres.open(sys.argv[1]) as a:
    assert len(a.cycles) == 12, len(a.cycles)
library = qvres._lib.library()._name
assert library == "libqvres.so.2", library  # found by the loader, not by a path
print(qvres.__version__, qvres.library_version())
' "$work/sample"

[ "$failures" -eq 0 ] || { echo "$failures check(s) of the installed packages failed"; exit 1; }
echo "the installed packages work"
