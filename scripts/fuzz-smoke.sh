#!/usr/bin/env bash
# Short runs of the fuzz targets, built with clang's libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer: each target runs for
# FUZZ_SECONDS (default 60) on a copy of its corpus in fuzz/corpus, two at a
# time; a finding (a crash, a broken promise, a leak, a timeout) fails the
# run and its input is kept under the scratch directory named at the end.
# The committed corpora are not changed.
# Usage: scripts/fuzz-smoke.sh [build-dir] [target...]   (default build-fuzz, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-fuzz}
[ $# -gt 0 ] && shift
seconds=${FUZZ_SECONDS:-60}
. scripts/fuzz-common.sh

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DRESULTS_API_FUZZ=ON -DRESULTS_API_BUILD_BENCH=OFF -DRESULTS_API_WERROR=ON >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi
read -r -a have <<<"$(build_targets "$dir" "${targets[@]}")"
scratch=$(make_scratch smoke)

run_one() {
  local t=$1 work="$scratch/$1"
  # Writable by the unprivileged user the run-directory target becomes
  # around its calls, so that a finding there can still be saved.
  mkdir -p "$work/corpus" "$work/tmp"
  chmod 1777 "$work" "$work/tmp"
  cp fuzz/corpus/"$t"/* "$work/corpus/"
  (cd "$work" && TMPDIR="$work/tmp" "$OLDPWD/$dir/fuzz/$t" -max_total_time="$seconds" \
     -rss_limit_mb=2048 -timeout=20 -max_len=65536 -print_final_stats=1 \
     -artifact_prefix="$work/" corpus >"$work/log" 2>&1)
}

failed=()
for ((i = 0; i < ${#have[@]}; i += 2)); do
  pids=()
  for t in "${have[@]:i:2}"; do
    run_one "$t" & pids+=("$!:$t")
  done
  for p in "${pids[@]}"; do
    if wait "${p%%:*}"; then
      t=${p#*:}
      echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$t/log" | grep -o '[0-9]*$') executions, no finding"
    else
      failed+=("${p#*:}")
    fi
  done
done
for t in "${failed[@]}"; do
  echo "== $t: finding ==" >&2
  tail -n 40 "$scratch/$t/log" >&2
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz smoke run failed: ${failed[*]} (inputs and logs in $scratch)" >&2
  exit 1
fi
rm -rf "$scratch"
