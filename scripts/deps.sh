#!/usr/bin/env bash
# Installs the Debian 12 packages Tamberlin needs to build, run and test, when missing.
# Usage: scripts/deps.sh [run|test|tidy|package|check-package|ci]
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-image-formats-plugins libgl-dev fonts-liberation
          zlib1g-dev libbrotli-dev libzstd-dev libsqlite3-dev nettle-dev libtsk-dev)
case "${1:-run}" in
    run) ;;
    test) packages+=(libgtest-dev libgmock-dev libmsiecf-utils xvfb openbox x11-utils chromium
                     e2fsprogs dosfstools mtools ntfs-3g wimtools fdisk ewf-tools qemu-utils) ;;
    tidy) packages+=(libgtest-dev libgmock-dev clang-tidy) ;;
    package) packages+=(dpkg-dev file lintian) ;;
    check-package) packages=(debootstrap) ;;
    ci) packages+=(libgtest-dev libgmock-dev libmsiecf-utils xvfb openbox x11-utils clang libclang-rt-14-dev
                   clang-format clang-tidy python3 dpkg-dev file lintian chromium
                   e2fsprogs dosfstools mtools ntfs-3g wimtools fdisk ewf-tools qemu-utils) ;;
    *) echo "usage: $0 [run|test|tidy|package|check-package|ci]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
# sudo drops the environment, so the frontend setting goes through env, after sudo.
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
