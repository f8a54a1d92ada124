#!/bin/sh
# Runs the installed-style `tamberlin` binary with no display at all, over the fixture caches.
# Usage: cli_check.sh <tamberlin> <fixtures folder>. Exit 77: skipped.
set -u
bin=$1
fixtures=$2
firefox=$fixtures/browser-caches/firefox/home
chromium=$fixtures/browser-caches/chromium/home
if [ ! -d "$firefox" ] || [ ! -d "$chromium" ]; then
    echo "skipped: the browser-cache test caches are not at $fixtures"
    exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tamberlin-cli-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# An empty home of our own: the user's real caches and settings are never read.
mkdir -p "$tmp/home"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_CACHE_HOME="$tmp/home/.cache"
unset WINEPREFIX

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
run() {
    env -u DISPLAY -u WAYLAND_DISPLAY "$bin" "$@" >"$tmp/out" 2>"$tmp/err"
    status=$?
}
# The number of listable bodies in a fixture's expected.tsv.
listable() {
    awk -F'\t' '!/^#/ && $7 != "" && $5 ~ /^(jpg|png|gif|bmp|ico|webp|mp4)$/' "$1/expected.tsv" | wc -l
}
rows_ff=$(listable "$fixtures/browser-caches/firefox")
rows_cr=$(listable "$fixtures/browser-caches/chromium")

run --list "$firefox"
[ "$status" -eq 0 ] || fail "--list exited $status: $(cat "$tmp/err")"
[ "$(head -n 1 "$tmp/out")" = "$(printf 'URL\tFilename(s)\tSize\tFile Path')" ] ||
    fail "--list header: $(head -n 1 "$tmp/out")"
[ "$(tail -n +2 "$tmp/out" | wc -l)" -eq "$rows_ff" ] ||
    fail "--list printed $(tail -n +2 "$tmp/out" | wc -l) rows, not $rows_ff"
awk -F'\t' 'NF != 4 { bad = 1 } END { exit bad }' "$tmp/out" || fail "--list rows without 4 fields"

if command -v python3 >/dev/null 2>&1; then
    run --list --json "$firefox" "$chromium"
    [ "$status" -eq 0 ] || fail "--list --json exited $status"
    n=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1], encoding="utf-8"))))' \
        "$tmp/out") || fail "--list --json is not JSON"
    [ "${n:-0}" -eq $((rows_ff + rows_cr)) ] || fail "--list --json gave ${n:-none} objects"
fi

run --save "$tmp/out-files" "$firefox" "$chromium"
[ "$status" -eq 0 ] || fail "--save exited $status: $(cat "$tmp/err")"
[ "$(ls "$tmp/out-files" | wc -l)" -eq $((rows_ff + rows_cr)) ] ||
    fail "--save wrote $(ls "$tmp/out-files" | wc -l) files"
# Every saved file is a body the site served.
for f in "$tmp/out-files"/*; do
    sum=$(sha256sum "$f" | cut -d' ' -f1)
    grep -q "$sum" "$fixtures/browser-caches/firefox/expected.tsv" \
        "$fixtures/browser-caches/chromium/expected.tsv" || fail "unexpected content in $f"
done

run --list "$tmp/no such folder"
[ "$status" -eq 2 ] || fail "a missing folder exited $status"
grep -q "$tmp/no such folder" "$tmp/err" || fail "the missing folder is not named: $(cat "$tmp/err")"

run --help
[ "$status" -eq 0 ] && grep -q -- "--list" "$tmp/out" || fail "--help exited $status"
run --version
[ "$status" -eq 0 ] && grep -q "^tamberlin " "$tmp/out" || fail "--version exited $status"
run --frobnicate
[ "$status" -eq 2 ] || fail "an unknown option exited $status"

# Without an option the window program beside it is started; alone, it says it cannot.
mkdir "$tmp/alone"
cp "$bin" "$tmp/alone/tamberlin"
env -u DISPLAY -u WAYLAND_DISPLAY "$tmp/alone/tamberlin" >"$tmp/out" 2>"$tmp/err"
status=$?
[ "$status" -eq 2 ] || fail "without the window program beside it exited $status"
grep -q "cannot start the window" "$tmp/err" || fail "no word about the window: $(cat "$tmp/err")"

# The command line loads no window library.
if ldd "$bin" | grep -q "libQt6"; then
    fail "tamberlin links Qt: $(ldd "$bin" | grep libQt6 | head -n 1)"
fi
# Nor does it write settings.
[ ! -e "$XDG_CONFIG_HOME/Varnholt.ini" ] || fail "the command line wrote the settings file"

[ "$failures" -eq 0 ] || exit 1
echo "all command-line checks passed"
