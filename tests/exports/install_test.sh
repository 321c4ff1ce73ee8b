#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds the example
# hosts of both interfaces against the installed copy, once with
# find_package and once with pkg-config: what a host project does.
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/host"
cp "$source/examples/host.c" "$source/examples/qvres_host.c" "$work/host/"
cat > "$work/host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(host C)
set(CMAKE_C_STANDARD 99)
find_package(results_api 1 REQUIRED)
add_executable(host host.c)
target_link_libraries(host PRIVATE results_api::results_api)
add_executable(qvres_host qvres_host.c)
target_link_libraries(qvres_host PRIVATE results_api::qvres)
CMAKE
cmake -S "$work/host" -B "$work/host/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host/build" >/dev/null

pc_dir=$(dirname "$(find "$work/prefix" -name results_api.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs results_api)
cc -std=c99 "$work/host/host.c" $flags -o "$work/host/host-pc"
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs qvres)
cc -std=c99 "$work/host/qvres_host.c" $flags -o "$work/host/qvres_host-pc"

# All run and reach their library: without arguments a host prints its usage.
for host in "$work/host/build/host" "$work/host/host-pc" "$work/host/build/qvres_host" \
            "$work/host/qvres_host-pc"; do
  status=0
  LD_LIBRARY_PATH=$(dirname "$(find "$work/prefix" -name 'libresults_api.so.1')") "$host" \
    >/dev/null 2>&1 || status=$?
  [ "$status" -eq 2 ] || { echo "$host exited with $status"; exit 1; }
done
echo "installed libraries found by find_package and pkg-config"
