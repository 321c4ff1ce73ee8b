# What the fuzz scripts share; sourced, not run.

cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)

# Builds, in build directory $1, those of the targets named after it that
# the build has (the differential target needs libdeflate); prints them.
build_targets() {
  local dir=$1 t help have=()
  shift
  # The whole listing first, then looked up: `grep -q` on a pipe from the
  # listing stops reading at the first match, the listing dies of SIGPIPE,
  # and under pipefail a target the build has read as missing.
  help=$(cmake --build "$dir" --target help)
  for t in "$@"; do
    case $'\n'"$help" in
      *$'\n'"$t:"*) have+=("$t") ;;
      *) echo "$t: not in this build, not run" >&2 ;;
    esac
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
