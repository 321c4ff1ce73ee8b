#!/usr/bin/env bash
# scripts/abi.sh catches planted interface changes: in a scratch copy of the
# source tree it fails on a widened struct, a changed parameter type and an
# added function without a new version, and admits an added function only
# with a new minor version, its baseline and its CHANGELOG.md entry. A
# removed function is refused with a minor raise, by --update and, when the
# old baseline was deleted by hand, by the check against the committed one;
# a major raise needs its SONAME. The unchanged copy passes first, so each
# failure comes from its plant.
# Usage: tests/abi/planted_change.sh [scratch directory to keep]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -ge 1 ]; then
  work=$1
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
tree=$work/tree
rm -rf "$tree"
mkdir "$tree"
# The sources the libraries need; no build trees, history or fuzz corpora.
(cd "$source_dir" && tar cf - --exclude='./build*' --exclude=./.git --exclude=./fuzz \
   --exclude=./out --exclude=__pycache__ .) | (cd "$tree" && tar xf -)
# Debug: debug information at the least compile time; the description abidw
# writes does not depend on the optimisation.
cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRESULTS_API_BUILD_TESTS=OFF \
  -DRESULTS_API_BUILD_TOOLS=OFF -DRESULTS_API_BUILD_BENCH=OFF -DRESULTS_API_INSTALL_PYTHON=OFF >/dev/null

failures=0
check() {  # check pass|fail "what" [text the output must contain]
  local want=$1 what=$2 text=${3:-} status=0
  "$tree/scripts/abi.sh" --build-dir "$tree/build" "${extra[@]}" >"$work/out" 2>&1 || status=$?
  local got=pass
  [ "$status" -eq 0 ] || got=fail
  if [ "$got" != "$want" ] || { [ -n "$text" ] && ! grep -qF -- "$text" "$work/out"; }; then
    echo "FAILED: $what: expected $want${text:+ with '$text'}, got $got (status $status):"
    sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  else
    echo "ok: $what ($got)"
  fi
}
# Replaces text in a file of the copy, keeping the original to put back; a
# pattern that no longer matches the sources is an error of this test, not
# a pass.
planted=()
plant() {
  local file=$1 from=$2 to=$3
  grep -qF -- "$from" "$tree/$file" || { echo "planted_change.sh: '$from' not in $file" >&2; exit 2; }
  if [ ! -e "$work/saved/$file" ]; then
    mkdir -p "$(dirname "$work/saved/$file")"
    cp "$tree/$file" "$work/saved/$file"
    planted+=("$file")
  fi
  python3 - "$tree/$file" "$from" "$to" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path).read()
open(path, "w").write(text.replace(old, new, 1))
PY
}
# Puts the planted files back as new files, so that the build sees them
# change, and the baselines and CHANGELOG.md as they were.
restore() {
  local file
  for file in "${planted[@]}"; do
    cp "$work/saved/$file" "$tree/$file"
  done
  planted=()
  rm -rf "$work/saved" "$tree/abi" "$tree/CHANGELOG.md" "$tree/results_api/api/qvres_planted.cpp"
  cp -r "$source_dir/abi" "$source_dir/CHANGELOG.md" "$tree/"
}
# The versions the planted changes raise from the one this tree has: V, the
# next minor A and the one after B, and the next major M.
V=$(sed -n 's/^set(QVRES_VERSION \([0-9]*\.[0-9]*\.[0-9]*\))$/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$V" ] || { echo "planted_change.sh: no set(QVRES_VERSION X.Y.Z) in CMakeLists.txt"; exit 1; }
major=${V%%.*}
minor=${V#*.}; minor=${minor%%.*}
A=$major.$((minor + 1)).0
B=$major.$((minor + 2)).0
M=$((major + 1)).0.0
restore
extra=()

check pass "the unchanged copy"

plant include/qvres.h "    double time;     /* seconds */
} qvres_cycle;" "    double time;     /* seconds */
    double planted;
} qvres_cycle;"
check fail "qvres_cycle widened by a member at its end" "type size changed from 128 to 192 (in bits)"
restore

plant include/qvres.h "qvres_get_part(const qvres_analysis *analysis, int64_t part" \
                      "qvres_get_part(const qvres_analysis *analysis, int32_t part"
plant results_api/api/qvres_analysis.cpp "qvres_get_part(const qvres_analysis* a, int64_t part" \
                                         "qvres_get_part(const qvres_analysis* a, int32_t part"
check fail "qvres_get_part's part an int32_t" "parameter 2 of type 'typedef int64_t' changed"
restore

# An added function: a declaration in the header, its definition in a new
# source file of the library.
plant include/qvres.h "#ifdef __cplusplus
}" "QVRES_EXPORT int32_t QVRES_CALL qvres_planted(void);

#ifdef __cplusplus
}"
cat >"$tree/results_api/api/qvres_planted.cpp" <<'CPP'
#include "qvres.h"
extern "C" QVRES_EXPORT int32_t QVRES_CALL qvres_planted(void) { return 1; }
CPP
check fail "an added function, same version" "qvres_planted"
plant CMakeLists.txt "set(QVRES_VERSION $V)" "set(QVRES_VERSION $A)"
check fail "the version raised in CMake only" "include/qvres.h says version $V"
plant include/qvres.h "#define QVRES_VERSION_MINOR $minor" "#define QVRES_VERSION_MINOR $((minor + 1))"
[ "${V##*.}" = 0 ] || plant include/qvres.h "#define QVRES_VERSION_PATCH ${V##*.}" "#define QVRES_VERSION_PATCH 0"
check fail "the version raised, the baseline not" "no baseline abi/libqvres.so.$A.abi"
extra=(--update)
check pass "--update after a minor raise" "libqvres: $V -> $A (added)"
extra=()
[ ! -e "$tree/abi/libqvres.so.$V.abi" ] || { echo "FAILED: --update kept the old baseline"; failures=$((failures + 1)); }
check fail "the new baseline without a CHANGELOG.md entry" "no '### libqvres $A' entry"
plant CHANGELOG.md "## libqvres (" "### libqvres $A (planted)

- qvres_planted

## libqvres ("
check pass "version, baseline and CHANGELOG.md raised together"

# Removing it again with only a minor raise.
rm "$tree/results_api/api/qvres_planted.cpp"
plant include/qvres.h "QVRES_EXPORT int32_t QVRES_CALL qvres_planted(void);" ""
plant CMakeLists.txt "set(QVRES_VERSION $A)" "set(QVRES_VERSION $B)"
plant include/qvres.h "#define QVRES_VERSION_MINOR $((minor + 1))" "#define QVRES_VERSION_MINOR $((minor + 2))"
extra=(--update)
check fail "--update of a removed function with a minor raise" "takes a new major version"
extra=()
[ -e "$tree/abi/libqvres.so.$A.abi" ] || { echo "FAILED: a refused --update removed the baseline"; failures=$((failures + 1)); }

# The same rule against git history: the $A baseline committed, then
# deleted by hand so that --update has nothing to compare with.
git -C "$tree" init -q
git -C "$tree" add -A
git -C "$tree" -c user.name=test -c user.email=test@localhost commit -qm "$A"
rm "$tree/abi/libqvres.so.$A.abi"
extra=(--update)
check pass "--update once the old baseline is deleted by hand" "wrote abi/libqvres.so.$B.abi"
extra=()
plant CHANGELOG.md "## libqvres (" "### libqvres $B (planted)

- qvres_planted removed

## libqvres ("
check fail "a removed function behind a minor raise, against the committed baseline" \
  "against the baseline of $A in git history, a removed or changed interface takes a new major version"
plant CMakeLists.txt "set(QVRES_VERSION $B)" "set(QVRES_VERSION $M)"
plant include/qvres.h "#define QVRES_VERSION_MAJOR $major" "#define QVRES_VERSION_MAJOR $((major + 1))"
plant include/qvres.h "#define QVRES_VERSION_MINOR $((minor + 2))" "#define QVRES_VERSION_MINOR 0"
extra=(--update)
check fail "a major raise without a new SONAME" "has the SONAME libqvres.so.$major, not libqvres.so.$((major + 1))"
plant CMakeLists.txt "  SOVERSION $major" "  SOVERSION $((major + 1))"
check pass "--update after a major raise with its SONAME" "libqvres: $B -> $M (none)"
extra=()
plant CHANGELOG.md "## libqvres (" "### libqvres $M (planted)

- qvres_planted removed

## libqvres ("
check pass "a removed function with a major raise, a new SONAME, baseline and CHANGELOG.md"
restore

[ "$failures" -eq 0 ] || { echo "$failures planted change(s) not caught as expected"; exit 1; }
echo "every planted change caught"
