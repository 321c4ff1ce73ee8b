#!/usr/bin/env bash
# Long fuzzing runs under AddressSanitizer and UndefinedBehaviorSanitizer,
# kept in a campaign directory ROOT: each target grows its own corpus in
# ROOT/corpus/<target> (first copied from fuzz/corpus), a finding is saved in
# ROOT/findings/<target>/, and every run writes ROOT/logs/<target>.<time>.log.
# Runs go on in the background after the script returns.
# Usage:
#   scripts/fuzz-campaign.sh start ROOT TARGET [RUNS] [build-dir]   one run of RUNS executions (default 10 million, build-fuzz)
#   scripts/fuzz-campaign.sh stop ROOT [TARGET...]                  ends the runs (every target by default)
#   scripts/fuzz-campaign.sh count ROOT                             executions per target over all logs, findings, runs going on
# Afterwards scripts/fuzz-merge.sh ROOT/corpus folds the grown corpora into fuzz/corpus.
set -euo pipefail

usage() { sed -n '7,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
mkdir -p "$2/logs"
root=$(realpath "$2")
shift 2
cd "$(dirname "$0")/.."

# Whether the run of pid file $1 goes on: its process is still the fuzz
# target it was (a finished run's process id may have been given again).
running() {
  local pid t
  pid=$(cat "$1") t=$(basename "$1"); t=${t%%.*}
  [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "/fuzz/$t "
}

# Executions of one log: libFuzzer's final count, or, for a run that is
# going on or ended without one, the count of its last progress line.
executions() {
  local n
  n=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$1" | grep -o '[0-9]*$' || true)
  [ -n "$n" ] || n=$(grep -o '^#[0-9]*' "$1" | tail -n 1 | tr -d '#')
  echo "${n:-0}"
}

case $command in
start)
  [ $# -ge 1 ] || usage
  t=$1 runs=${2:-10000000} dir=${3:-build-fuzz}
  . scripts/fuzz-common.sh
  # A build directory made before (by fuzz-smoke.sh, or by hand) is kept
  # as it was configured.
  [ -e "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DRESULTS_API_FUZZ=ON -DRESULTS_API_BUILD_BENCH=OFF >/dev/null
  [ "$(build_targets "$dir" "$t")" = "$t" ] || { echo "no fuzz target $t" >&2; exit 2; }
  binary=$(realpath "$dir/fuzz/$t")
  if [ ! -d "$root/corpus/$t" ]; then
    mkdir -p "$root/corpus/$t"
    cp fuzz/corpus/"$t"/* "$root/corpus/$t/"
  fi
  # Open to the unprivileged user the run-directory target becomes around
  # its calls, so that it can read the corpus and save a finding.
  mkdir -p "$root/findings/$t"
  chmod -R a+rwX "$root/corpus/$t" "$root/findings/$t"
  log="$root/logs/$t.$(date +%Y%m%d-%H%M%S).log"
  scratch=$(make_scratch "campaign-$t")
  chmod 1777 "$scratch"
  echo "$scratch" >"$log.scratch"
  # The run writes its own process id (setsid may fork) before it becomes
  # the fuzzer, in a session of its own so that it outlives this shell.
  (cd "$scratch" && TMPDIR="$scratch" nohup setsid bash -c 'echo $$ >"$0"; exec "$@"' "$log.pid" \
     "$binary" -runs="$runs" -max_len=65536 -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
     -artifact_prefix="$root/findings/$t/" "$root/corpus/$t" >"$log" 2>&1 &)
  while [ ! -s "$log.pid" ]; do sleep 0.1; done
  echo "$t: running, log $log"
  ;;
stop)
  for pidfile in "$root"/logs/*.pid; do
    [ -e "$pidfile" ] || continue
    t=$(basename "$pidfile"); t=${t%%.*}
    if [ $# -gt 0 ] && [[ " $* " != *" $t "* ]]; then continue; fi
    # An interrupt, so that libFuzzer ends the run and prints its totals.
    pid=$(cat "$pidfile")
    if running "$pidfile"; then
      kill -INT "$pid" 2>/dev/null || true
      while running "$pidfile"; do sleep 1; done
    fi
    rm -rf "$(cat "${pidfile%.pid}.scratch")"
    rm -f "$pidfile" "${pidfile%.pid}.scratch"
    echo "$t: stopped"
  done
  ;;
count)
  declare -A total=()
  for log in "$root"/logs/*.log; do
    [ -e "$log" ] || continue
    t=$(basename "$log"); t=${t%%.*}
    total[$t]=$(( ${total[$t]:-0} + $(executions "$log") ))
  done
  for t in $(printf '%s\n' "${!total[@]}" | sort); do
    findings=$(find "$root/findings/$t" -type f 2>/dev/null | wc -l)
    going=0
    for pidfile in "$root/logs/$t".*.pid; do
      [ -e "$pidfile" ] && running "$pidfile" && going=$((going + 1))
    done
    printf '%-18s %12d executions  %d findings  %d running\n' "$t" "${total[$t]}" "$findings" "$going"
  done
  ;;
*) usage ;;
esac
