# What the fuzz scripts share; sourced, not run.

cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)

# Builds, in build directory $1, those of the targets named after it that
# the build has (the differential target needs libdeflate); prints them.
build_targets() {
  local dir=$1 t have=()
  shift
  for t in "$@"; do
    if cmake --build "$dir" --target help | grep -q "^$t:"; then have+=("$t"); fi
  done
  cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target "${have[@]}" >&2
  echo "${have[@]}"
}

# A scratch directory named after $1, on a memory file system where there is
# one (inputs are written to files), open to the unprivileged user the
# run-directory target becomes around its calls.
make_scratch() {
  local base=/tmp dir
  [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
  dir=$(mktemp -d "$base/results_api-$1-XXXXXX")
  chmod 755 "$dir"
  echo "$dir"
}
