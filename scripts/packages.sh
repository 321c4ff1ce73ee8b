#!/usr/bin/env bash
# Builds the Debian packages into BUILD_DIR/packages (default build-pkg/):
# libresults-api1, libqvres2, libresults-api-dev, qvres-tools and
# python3-qvres, each with its own version. The build is a packager's:
# Release with Debian's build flags, installed under /usr, without tests or
# benchmarks; an existing BUILD_DIR is reused.
# Usage: scripts/packages.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-pkg}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  # Debian's hardening and optimisation flags; the configure takes them from
  # the environment the first time only.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
      -DRESULTS_API_BUILD_TESTS=OFF -DRESULTS_API_BUILD_BENCH=OFF -DRESULTS_API_INSTALL_PYTHON=ON
fi
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"

rm -rf "$dir/packages"
for component in results_api_runtime qvres_runtime development tools python; do
  # Its output only when it fails: it warns of the two control file names
  # that lead nowhere on purpose (cmake/packaging.cmake).
  (cd "$dir" && cpack -G DEB -D RESULTS_API_DEB=$component >"cpack-$component.log" 2>&1) ||
    { cat "$dir/cpack-$component.log" >&2; exit 1; }
done
ls -l "$dir"/packages/*.deb
