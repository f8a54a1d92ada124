#!/usr/bin/env bash
# Runs the normal suite (scripts/test.sh) as an ordinary user, in a copy of this work tree
# whose test caches (tests/data) are read-only, as a user's own caches may be: a test that
# writes where it should not, or that only passes because root ignores permission bits, fails
# here. Run as root, it makes the user tamberlin-ci when missing and copies the tree into its
# home; run as anyone else, it copies the tree into a temporary folder and runs as that user.
# The packages scripts/test.sh needs must be installed already (scripts/deps.sh test, as root).
# Usage: scripts/test-as-user.sh
set -Eeuo pipefail
trap 'echo "$0: failed (line $LINENO: $BASH_COMMAND)" >&2' ERR
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
    user=tamberlin-ci
    id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
    home=$(getent passwd "$user" | cut -d: -f6)
else
    user=$(id -un)
    home=$(mktemp -d "${TMPDIR:-/tmp}/tamberlin-as-user-XXXXXX")
fi
copy=$home/tamberlin
if [ -e "$copy" ]; then # the previous run's, build included
    chmod -R u+w "$copy"
    rm -rf "$copy"
fi
mkdir -p "$copy" "$home/tmp"

# The tree as it is, edits included, without build folders or anything else ignored.
git -c safe.directory="$PWD" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null --files-from=- -cf - | tar -xf - -C "$copy"
if [ "$(id -u)" -eq 0 ]; then
    chown -R "$user:" "$copy" "$home/tmp"
fi
chmod -R a-w "$copy/tests/data"
echo "as $user (uid $(id -u "$user")), in $copy, with tests/data read-only"

cmd=(env -i HOME="$home" USER="$user" LOGNAME="$user" PATH="$PATH" LANG=C.UTF-8 TMPDIR="$home/tmp"
     bash -c 'cd "$1" && scripts/test.sh' - "$copy")
status=0
if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$user" -- "${cmd[@]}" || status=$?
else
    "${cmd[@]}" || status=$?
fi
if [ "$status" -ne 0 ]; then
    echo "$0: the suite failed as $user; the copy and its build stay in $copy" >&2
elif [ "$(id -u)" -ne 0 ]; then
    chmod -R u+w "$home"
    rm -rf "$home"
fi
exit "$status"
