#!/usr/bin/env bash
# Folds a campaign's grown corpora into fuzz/corpus, minimised: for each
# target, the committed seed-, regress- and found- inputs stay as they are,
# and of the rest (the committed inputs named by their hash and the grown
# corpus in CAMPAIGN_ROOT/<target>/) libFuzzer's merge keeps only the inputs
# that add coverage to what is kept already. Needs a build with
# -DRESULTS_API_FUZZ=ON (scripts/fuzz-smoke.sh makes one).
# Usage: scripts/fuzz-merge.sh CAMPAIGN_ROOT [build-dir] [target...]   (default build-fuzz, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -ge 1 ] || { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
root=$(realpath "$1")
dir=${2:-build-fuzz}
[ $# -gt 1 ] && shift 2 || shift
. scripts/fuzz-common.sh

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in "$root"/*/; do targets+=("$(basename "$corpus")"); done
fi
read -r -a have <<<"$(build_targets "$dir" "${targets[@]}")"
scratch=$(make_scratch merge)
trap 'rm -rf "$scratch"' EXIT

for t in "${have[@]}"; do
  kept="$scratch/$t/kept" grown="$scratch/$t/grown"
  mkdir -p "$kept" "$grown" "$scratch/$t/tmp"
  chmod -R 1777 "$scratch/$t"
  for f in fuzz/corpus/"$t"/*; do
    case $(basename "$f") in
      seed-*|regress-*|found-*) cp "$f" "$kept/" ;;
      *) cp "$f" "$grown/" ;;
    esac
  done
  cp "$root/$t"/* "$grown/" 2>/dev/null || true
  before=$(ls "$kept" | wc -l)
  TMPDIR="$scratch/$t/tmp" "$dir/fuzz/$t" -merge=1 -rss_limit_mb=2048 -timeout=20 -max_len=65536 \
    "$kept" "$grown" >"$scratch/$t/log" 2>&1 || { tail -n 20 "$scratch/$t/log" >&2; exit 1; }
  find fuzz/corpus/"$t" -type f ! -name 'seed-*' ! -name 'regress-*' ! -name 'found-*' -delete
  for f in "$kept"/*; do
    [ -e "fuzz/corpus/$t/$(basename "$f")" ] || cp "$f" fuzz/corpus/"$t"/
  done
  echo "$t: $(( $(ls "$kept" | wc -l) - before )) inputs kept of $(ls "$grown" | wc -l) grown"
done
