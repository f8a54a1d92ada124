#!/usr/bin/env bash
# Installs the Debian 12 packages Tamberlin needs to build, run and test, when missing.
# Usage: scripts/deps.sh [run|test|ci]
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-image-formats-plugins libgl-dev fonts-liberation
          zlib1g-dev libbrotli-dev libzstd-dev nettle-dev)
case "${1:-run}" in
    test) packages+=(libgtest-dev libgmock-dev libmsiecf-utils xvfb openbox x11-utils) ;;
    ci) packages+=(libgtest-dev libgmock-dev libmsiecf-utils xvfb openbox x11-utils clang libclang-rt-14-dev
                   clang-format clang-tidy python3 chromium) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
