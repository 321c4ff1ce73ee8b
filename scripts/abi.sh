#!/usr/bin/env bash
# Guards the binary interfaces of libresults_api and libqvres: abidw
# describes each built library (its exported functions and the types they
# reach in include/), and abidiff compares that with the baseline committed
# in abi/, one file per library named after its version
# (abi/libqvres.so.2.2.1.abi).
#
#   scripts/abi.sh [--build-dir DIR]            check (the default)
#   scripts/abi.sh [--build-dir DIR] --update   write the baselines anew
#
# The check fails on any difference from the baseline, and when a library's
# version, SONAME, version macros, baseline and CHANGELOG.md entry do not
# agree. A changed interface is recorded by raising the version (CMake and
# the header's macros), adding its CHANGELOG.md entry and running --update,
# which replaces the library's baseline after checking that the raise fits
# the change: a function or type removed or changed takes a new major
# version (and so a new SONAME), an added function a new minor version.
# libresults_api's 59 exports never change: no raise admits a difference.
# The same rule holds against the baseline this one replaced, found in git
# history, so a baseline updated with too small a raise fails the check too.
#
# The libraries are built in DIR (default build/, configured RelWithDebInfo
# if it is not configured yet), which must carry debug information.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build
mode=check
while [ $# -gt 0 ]; do
  case $1 in
    --update) mode=update ;;
    --check) mode=check ;;
    --build-dir) [ $# -ge 2 ] || { echo "abi.sh: --build-dir needs a directory" >&2; exit 2; }
                 build_dir=$2; shift ;;
    --build-dir=*) build_dir=${1#--build-dir=} ;;
    -h|--help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "abi.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for tool in abidw abidiff; do
  command -v "$tool" >/dev/null || { echo "abi.sh: $tool not found (Debian: abigail-tools)" >&2; exit 2; }
done

abi_dir=$source_dir/abi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRESULTS_API_BUILD_BENCH=OFF >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
case $build_type in
  RelWithDebInfo|Debug) ;;
  *) echo "abi.sh: $build_dir is a $build_type build; abidw needs debug information (RelWithDebInfo or Debug)" >&2
     exit 2 ;;
esac
cmake --build "$build_dir" --target results_api qvres >/dev/null

failures=0
fail() { echo "abi.sh: $*" >&2; failures=$((failures + 1)); }

# "1.2.3" -> its parts, for comparisons.
major() { echo "${1%%.*}"; }
minor() { local v=${1#*.}; echo "${v%%.*}"; }

# Describes a library as the baselines do: exported interfaces and the types
# of the public headers only, no paths or line numbers of this machine.
describe() {
  abidw --exported-interfaces-only --headers-dir "$source_dir/include" --drop-private-types \
    --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash "$1" |
    sed -E "s|(<abi-instr [^>]*path=')[^']*/(results_api/)|\1\2|"
}

# abidiff's verdict on old -> new: none, added (functions or variables added
# only) or incompatible (anything removed or changed). The report is left
# in $work/report.
classify() {
  local status=0
  abidiff "$1" "$2" >"$work/report" 2>&1 || status=$?
  if [ $((status & 3)) -ne 0 ]; then
    cat "$work/report" >&2
    echo "abi.sh: abidiff could not compare $1 with $2" >&2
    exit 2
  fi
  [ "$status" -eq 0 ] && { echo none; return; }
  # "Functions changes summary: 0 Removed, 1 Changed (...), 2 Added functions";
  # a new SONAME or DT_NEEDED alone changes nothing a host calls.
  local summary
  summary=$(grep -E 'changes summary: ' "$work/report" || true)
  if grep -Eq '[1-9][0-9]* (Removed|Changed)' <<<"$summary"; then
    echo incompatible
  elif grep -Eq '[1-9][0-9]* Added' <<<"$summary"; then
    echo added
  else
    echo none
  fi
}

# Whether `version` may follow `previous` given the change between them.
bump_fits() {
  local library=$1 previous=$2 version=$3 change=$4
  [ "$change" = none ] && return 0
  if [ "$library" = results_api ]; then
    echo "libresults_api's 59 exports never change ($change between $previous and $version)"
    return 1
  fi
  if [ "$change" = incompatible ] && [ "$(major "$version")" -le "$(major "$previous")" ]; then
    echo "a removed or changed interface takes a new major version, not $previous -> $version"
    return 1
  fi
  if [ "$change" = added ] && [ "$(major "$version")" -eq "$(major "$previous")" ] &&
     [ "$(minor "$version")" -le "$(minor "$previous")" ]; then
    echo "an added function takes a new minor version, not $previous -> $version"
    return 1
  fi
  return 0
}

# The baseline this library's current one replaced, from git history: the
# one in HEAD when the working tree has moved on, else the last one a commit
# removed. Prints "version<TAB>path of a copy", or nothing.
previous_baseline() {
  local library=$1 current=$2 name commit
  git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1 || return 0
  name=$(git -C "$source_dir" ls-tree --name-only HEAD -- "abi/" 2>/dev/null |
         grep -E "^abi/lib$library\.so\.[0-9.]+\.abi$" | grep -vF "lib$library.so.$current.abi" | head -1 || true)
  if [ -n "$name" ]; then
    commit=HEAD
  else
    commit=$(git -C "$source_dir" log -1 --format=%H --diff-filter=D -- "abi/lib$library.so.*.abi" 2>/dev/null || true)
    [ -n "$commit" ] || return 0
    name=$(git -C "$source_dir" show --format= --name-only --diff-filter=D "$commit" -- "abi/lib$library.so.*.abi" |
           head -1)
    commit=$commit^
  fi
  git -C "$source_dir" show "$commit:$name" >"$work/previous-$library.abi" 2>/dev/null || return 0
  local version=${name#abi/lib$library.so.}
  printf '%s\t%s\n' "${version%.abi}" "$work/previous-$library.abi"
}

check_library() {
  local library=$1 header=$2 macro=$3
  local file so_file version soname failed_before=$failures
  file=$build_dir/lib$library.so
  [ -e "$file" ] || { fail "$file was not built"; return; }
  so_file=$(basename "$(readlink -f "$file")")
  version=${so_file#lib$library.so.}
  soname=$(objdump -p "$file" | sed -n 's/^ *SONAME *//p')
  echo "lib$library $version, SONAME $soname"

  # One version everywhere: the file, the SONAME, the header's macros.
  [ "$soname" = "lib$library.so.$(major "$version")" ] ||
    fail "lib$library $version has the SONAME $soname, not lib$library.so.$(major "$version")"
  local in_header
  in_header=$(for part in MAJOR MINOR PATCH; do
                sed -n "s/^#define ${macro}_VERSION_$part \([0-9]*\).*/\1/p" "$source_dir/include/$header"
              done | paste -sd.)
  [ "$in_header" = "$version" ] ||
    fail "include/$header says version $in_header, the built lib$library is $version"
  [ "$library" != results_api ] || [ "$soname" = libresults_api.so.1 ] ||
    fail "libresults_api's SONAME is libresults_api.so.1 for good, not $soname"

  # A baseline is written only for a library whose version agrees everywhere.
  [ "$mode" = check ] || [ "$failures" -eq "$failed_before" ] || return 0
  describe "$file" >"$work/lib$library.abi"
  local baselines=("$abi_dir"/lib$library.so.*.abi)
  [ -e "${baselines[0]}" ] || baselines=()
  local baseline="$abi_dir/lib$library.so.$version.abi"

  if [ "$mode" = update ]; then
    if [ ${#baselines[@]} -gt 1 ]; then
      fail "more than one baseline of lib$library in abi/: ${baselines[*]##*/}"
      return
    fi
    if [ ${#baselines[@]} -eq 1 ]; then
      local old=${baselines[0]} old_version change reason
      old_version=${old##*/lib$library.so.}
      old_version=${old_version%.abi}
      change=$(classify "$old" "$work/lib$library.abi")
      if ! reason=$(bump_fits "$library" "$old_version" "$version" "$change"); then
        cat "$work/report"
        fail "lib$library: $reason; baseline left as it is"
        return
      fi
      if [ "$change" = none ] && [ "$old_version" = "$version" ]; then
        echo "lib$library: no change from abi/${old##*/}"
        return
      fi
      [ "$old" = "$baseline" ] || rm -f "$old"
      echo "lib$library: $old_version -> $version ($change)"
    fi
    cp "$work/lib$library.abi" "$baseline"
    echo "wrote abi/${baseline##*/}"
    grep -Eq "^#+ lib$library ${version//./\\.}( |$)" "$source_dir/CHANGELOG.md" ||
      echo "abi.sh: now add a '### lib$library $version' entry to CHANGELOG.md" >&2
    return
  fi

  # The check.
  if [ ${#baselines[@]} -ne 1 ] || [ "${baselines[0]}" != "$baseline" ]; then
    fail "lib$library $version has no baseline abi/${baseline##*/} (found: ${baselines[*]##*/});" \
         "a changed interface takes a new version, its CHANGELOG.md entry and scripts/abi.sh --update"
  else
    local change
    change=$(classify "$baseline" "$work/lib$library.abi")
    if [ "$change" != none ]; then
      cat "$work/report"
      fail "lib$library $version differs from abi/${baseline##*/} ($change);" \
           "a changed interface takes a new version, its CHANGELOG.md entry and scripts/abi.sh --update"
    fi
  fi
  grep -Eq "^#+ lib$library ${version//./\\.}( |$)" "$source_dir/CHANGELOG.md" ||
    fail "CHANGELOG.md has no '### lib$library $version' entry"
  local previous
  previous=$(previous_baseline "$library" "$version")
  if [ -n "$previous" ] && [ -e "$baseline" ]; then
    local previous_version=${previous%%$'\t'*} previous_file=${previous#*$'\t'} change reason
    change=$(classify "$previous_file" "$baseline")
    reason=$(bump_fits "$library" "$previous_version" "$version" "$change") ||
      fail "lib$library: against the baseline of $previous_version in git history, $reason"
  fi
}

check_library results_api results_api.h RESULTS_API
check_library qvres qvres.h QVRES

if [ "$failures" -gt 0 ]; then
  echo "abi.sh: $failures problem(s)" >&2
  exit 1
fi
[ "$mode" = update ] && echo "baselines up to date" || echo "both libraries match their baselines"
