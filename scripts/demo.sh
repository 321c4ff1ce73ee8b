#!/usr/bin/env bash
# Builds everything, writes the sample analysis, shows its model, plots the
# pressure history of one element of the Euler block and exports every
# cycle for ParaView. BUILD_DIR (default build) and OUT_DIR (default out)
# choose where.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
out=${OUT_DIR:-out}

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

tools="$build/tools"
rm -rf "$out/sample" "$out/vtk"
mkdir -p "$out"

echo "== the sample analysis =="
"$tools/qvres-sample" "$out/sample"

echo "== its model =="
"$tools/qvres-inspect" summary "$out/sample/sample_run.qvres_base"

# Element 283 is the cell of the block whose highest corner is node
# (11, 4, 4): halfway along the block, next to the charge's axis.
echo "== pressure history of element 283 =="
"$tools/qvres-inspect" history "$out/sample/sample_run.qvres_base" PRESSURE --element 283 \
  --csv "$out/pressure_history.csv" --svg "$out/pressure_history.svg"

echo "== every cycle for ParaView =="
"$tools/qvres-to-vtk" "$out/sample/sample_run.qvres_base" "$out/vtk"

cat <<MSG

outputs:
  $out/sample/                  the sample analysis (base file and 12 cycle files)
  $out/pressure_history.svg     pressure at element 283 over time (open in a browser)
  $out/pressure_history.csv     the same as a table
  $out/vtk/sample_run.pvd       every cycle for ParaView (File > Open, then Apply)
MSG
