#!/usr/bin/env bash
# Installs the build and test dependencies that are missing on a Debian 12
# machine. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake g++ gcc ninja-build zlib1g-dev libdeflate-dev libgtest-dev libbenchmark-dev pkg-config binutils)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
