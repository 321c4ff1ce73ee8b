#!/usr/bin/env bash
# Line coverage of the library (results_api/) by the fuzz corpora: every
# target's replay executable, built with clang's source-based coverage, runs
# over its inputs, and llvm-cov reports per file. CORPUS_ROOT/<target>/ holds
# the inputs (default fuzz/corpus; after a campaign, the grown corpora).
# Usage: scripts/fuzz-coverage.sh [corpus-root] [build-dir]   (default fuzz/corpus build-fuzz-cov)
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath "${1:-fuzz/corpus}")
dir=${2:-build-fuzz-cov}
. scripts/fuzz-common.sh
profdata=$(command -v llvm-profdata-14 || command -v llvm-profdata)
cov=$(command -v llvm-cov-14 || command -v llvm-cov)
flags="-fprofile-instr-generate -fcoverage-mapping"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DRESULTS_API_BUILD_BENCH=OFF >/dev/null
wanted=()
for corpus in "$root"/*/; do wanted+=("$(basename "$corpus")_replay"); done
read -r -a replays <<<"$(build_targets "$dir" "${wanted[@]}")"

scratch=$(make_scratch coverage)
trap 'rm -rf "$scratch"' EXIT
objects=()
for r in "${replays[@]}"; do
  t=${r%_replay}
  mkdir -m 1777 "$scratch/tmp-$t"
  LLVM_PROFILE_FILE="$scratch/$t-%p.profraw" TMPDIR="$scratch/tmp-$t" \
    "$dir/fuzz/$r" "$root/$t" | tail -n 1 | sed "s/^/$t: /"
  objects+=(-object "$dir/fuzz/$r")
done
"$profdata" merge -sparse -o "$scratch/all.profdata" "$scratch"/*.profraw
"$cov" report "${objects[@]:1}" -instr-profile="$scratch/all.profdata" \
  "$PWD/results_api" | sed "s|$PWD/||"
