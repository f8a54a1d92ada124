#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root (debootstrap, minbase) and checks it
# there as a user would meet it: `apt-get install ./tamberlin_*.deb` pulls every dependency,
# `tamberlin --version`, `tamberlin --list` over the Firefox fixture home, `man -w tamberlin`,
# the window starts under Xvfb, and removing then purging the package takes away its own files
# and leaves nothing else changed.
# The bare root is made once and kept as a tarball in .cache/check-package/ (ignored by git),
# with the downloaded .debs, so that reruns take a minute or two. Needs root (chroot, mounts).
# Usage: scripts/check-package.sh [package.deb]   (default: build-package/tamberlin_*.deb)
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
export LC_ALL=C # one collation for the sorted file lists
cd "$(dirname "$0")/.."
repo=$PWD
start=$SECONDS

deb=${1:-$(ls build-package/tamberlin_*_amd64.deb 2>/dev/null | tail -n 1 || true)}
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    echo "$0: no package to check; scripts/package.sh builds one" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root for debootstrap, chroot and mounts (try: sudo $0)" >&2
    exit 1
fi
scripts/deps.sh check-package

# The Debian mirror this machine uses, else Debian's own.
mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources \
    2>/dev/null | grep -v security | head -n 1 || true)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb[[:space:]]\+\(http[^[:space:]]*\)[[:space:]]\+bookworm[[:space:]].*/\1/p' \
    /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

cache=$repo/.cache/check-package
base=$cache/bookworm-minbase.tar
mkdir -p "$cache/archives/partial"
if [ ! -f "$base" ]; then
    echo "Making the bare Debian 12 root once (debootstrap minbase from $mirror)"
    fresh=$(mktemp -d /var/tmp/tamberlin-debootstrap-XXXXXX)
    debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$cache/debootstrap.log" 2>&1 || {
        tail -n 30 "$cache/debootstrap.log" >&2
        rm -rf "$fresh"
        echo "$0: debootstrap failed (log: $cache/debootstrap.log)" >&2
        exit 1
    }
    rm -f "$fresh"/var/cache/apt/archives/*.deb
    tar -C "$fresh" -cf "$base.part" . && mv "$base.part" "$base"
    rm -rf "$fresh"
fi

root=$(mktemp -d /var/tmp/tamberlin-check-XXXXXX)
chmod 755 "$root" # its "/": users other than root (man-db's) must get through
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
    done
    # Only once nothing is mounted below it any more.
    if ! grep -q " $root/" /proc/mounts; then
        rm -rf "$root"
    else
        echo "$0: $root still has mounts; left in place" >&2
    fi
}
trap cleanup EXIT
mount_in() { # type-or-bind source target
    mkdir -p "$root$3"
    if [ "$1" = bind ]; then mount --bind "$2" "$root$3"; else mount -t "$1" "$2" "$root$3"; fi
    mounts+=("$root$3")
}

echo "Unpacking a fresh root in $root"
tar -C "$root" -xf "$base"
mount_in proc proc /proc
mount_in sysfs sysfs /sys
mount_in bind /dev /dev
mount_in bind /dev/pts /dev/pts
mount_in bind "$cache/archives" /var/cache/apt/archives
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The same suites as this machine (updates and security too), so that the versions the
# package was built against are there.
rm -f "$root/etc/apt/sources.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ] && grep -q 'debian' "$f"; then cp "$f" "$root/etc/apt/${f#/etc/apt/}"; fi
done
[ -n "$(ls "$root"/etc/apt/sources.list* "$root"/etc/apt/sources.list.d/* 2>/dev/null)" ] ||
    echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/unsafe-io" # a throw-away root
echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$root/etc/apt/apt.conf.d/keep-debs"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }
apt_in_root() { in_root apt-get -q -y -o Dpkg::Use-Pty=0 "$@" >>"$root/tmp/apt.log" 2>&1 || {
    tail -n 40 "$root/tmp/apt.log" >&2
    echo "$0: apt-get $* failed in the fresh root" >&2
    return 1
}; }
# Every file and folder of the root but what the system writes as it runs, and the caches
# other packages' dpkg triggers rebuild (the icon cache goes with the last icon of hicolor).
snapshot() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp \
        -o -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/log \
        -o -path ./root -o -path ./run \) -prune -o \
        ! -name icon-theme.cache ! -name mimeinfo.cache -print | sort)
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

echo "apt-get update; man-db, to look the manual page up"
apt_in_root update
apt_in_root install --no-install-recommends man-db

echo "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
t=$SECONDS
apt_in_root install "./tmp/$(basename "$deb")"
ok "installed with its dependencies in $((SECONDS - t)) s ($(grep -c '^Setting up' "$root/tmp/apt.log") packages set up)"

version=$(in_root tamberlin --version 2>&1) || fail "tamberlin --version: $version"
[[ $version == *"$(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')"* ]] &&
    ok "tamberlin --version: $version" || fail "tamberlin --version printed: $version"

fixture=$repo/tests/data/browser-caches/firefox
if [ -d "$fixture/home" ]; then
    mkdir -p "$root/tmp/user"
    cp -a "$fixture/home/." "$root/tmp/user/"
    rows=$(awk -F'\t' '!/^#/ && $7 != "" && $5 ~ /^(jpg|png|gif|bmp|ico|webp|mp4)$/' \
        "$fixture/expected.tsv" | wc -l)
    in_root env HOME=/tmp/user tamberlin --list --types jpg,bmp,gif,png,ico,webp,videos \
        >"$root/tmp/list.txt" 2>"$root/tmp/list.err" ||
        fail "tamberlin --list exited $?: $(cat "$root/tmp/list.err")"
    got=$(($(wc -l <"$root/tmp/list.txt") - 1))
    [ "$got" -eq "$rows" ] && ok "tamberlin --list over the Firefox fixture home: $got rows" ||
        fail "tamberlin --list printed $got rows, not $rows"
else
    echo "skipped: tamberlin --list (the test caches are not at $repo/tests/data)"
fi

page=$(in_root man -w tamberlin 2>&1) && ok "man -w tamberlin: $page" || fail "man -w tamberlin: $page"

# The window, through the command line as the menu entry starts it, on an X server of its
# own; installed only now, so that the package alone had to pull what the window needs.
echo "Installing Xvfb and x11-utils for the window check"
apt_in_root install --no-install-recommends xvfb x11-utils
in_root sh -c 'Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 & xvfb=$!
    for i in $(seq 50); do xdpyinfo -display :7 >/dev/null 2>&1 && break; sleep 0.1; done
    mkdir -p /tmp/wuser
    HOME=/tmp/wuser DISPLAY=:7 tamberlin >/tmp/window.log 2>&1 & pid=$!
    found=1
    for i in $(seq 100); do
        if xwininfo -display :7 -root -tree 2>/dev/null | grep -q "\"Tamberlin\""; then found=0; break; fi
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
    kill $xvfb; wait $xvfb 2>/dev/null
    exit $found' && ok "the window opened under Xvfb (a window named \"Tamberlin\" on the display)" ||
    fail "the window did not open: $(cat "$root/tmp/window.log")"
# The hand pointer, found in the data folder by the window.
[ -f "$root/usr/share/tamberlin/HAND-M.CUR" ] && [ ! -e "$root/usr/bin/HAND-M.CUR" ] &&
    ok "HAND-M.CUR in /usr/share/tamberlin, nothing but programs in /usr/bin" ||
    fail "HAND-M.CUR is not where expected"

# Removal: with the dependencies still there, remove then purge the package alone; what goes
# must be the package's own files and folders, and nothing may be left or added.
echo "apt-get remove tamberlin, then dpkg --purge tamberlin"
snapshot >"$root/tmp/before.txt"
in_root dpkg-query -L tamberlin | sed 's|^|.|' | sort >"$root/tmp/own.txt"
apt_in_root remove tamberlin
left=""
for f in $(sed 's|^\.||' "$root/tmp/own.txt"); do
    if [ -f "$root$f" ] || [ -L "$root$f" ]; then left+=" $f"; fi
done
[ -z "$left" ] && ok "apt-get remove left none of the package's files" ||
    fail "apt-get remove left:$left"
# Without conffiles, remove leaves nothing to purge and apt no longer knows the package.
in_root dpkg --purge tamberlin >>"$root/tmp/apt.log" 2>&1
snapshot >"$root/tmp/after.txt"
added=$(comm -13 "$root/tmp/before.txt" "$root/tmp/after.txt")
gone_not_own=$(comm -23 "$root/tmp/before.txt" "$root/tmp/after.txt" | comm -23 - "$root/tmp/own.txt")
if [ -z "$added$gone_not_own" ]; then
    ok "purged: $(comm -23 "$root/tmp/before.txt" "$root/tmp/after.txt" | wc -l) files and folders gone, all the package's own; nothing else changed"
else
    fail "after the purge, new: ${added:-none}; gone but not the package's: ${gone_not_own:-none}"
fi

echo "== $((SECONDS - start)) s in all, $failures failure(s)"
[ "$failures" -eq 0 ]
