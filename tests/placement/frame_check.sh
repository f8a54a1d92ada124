#!/usr/bin/env bash
# Places the main window and the preview under a real window manager (Xvfb + openbox) and
# measures their outer frames from outside the program: xwininfo for the client areas,
# _NET_FRAME_EXTENTS for the frames the window manager drew.
#   frame_check.sh <placement_probe>
# Exits 77 (skipped) when Xvfb, openbox or the X tools are missing.
set -uo pipefail
probe="$1"
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in Xvfb openbox xwininfo xprop; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# A free display, from TAMBERLIN_TEST_DISPLAY on (40 by default).
first="${TAMBERLIN_TEST_DISPLAY:-40}"
display=""
for ((n = first; n < first + 40; n++)); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || skip "no free X display from :$first on"

work="$(mktemp -d)"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

screen_w=1280 screen_h=1024
Xvfb "$display" -screen 0 "${screen_w}x${screen_h}x24" -dpi 96 -nolisten tcp \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
waited=0
until xwininfo -root >/dev/null 2>&1; do
    sleep 0.1
    ((++waited < 100)) || { cat "$work/xvfb.log"; skip "Xvfb did not start on $display"; }
done

# A fresh server can refuse its first clients for a moment: openbox gets three tries.
for try in 1 2 3; do
    HOME="$work" XDG_CONFIG_HOME="$work/config" openbox >"$work/openbox.log" 2>&1 &
    wm=$!
    waited=0
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
        kill -0 "$wm" 2>/dev/null || break
        sleep 0.1
        ((++waited < 100)) || break
    done
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        pids+=("$wm")
        break
    fi
    kill "$wm" 2>/dev/null
    wait "$wm" 2>/dev/null
    [ "$try" = 3 ] && { cat "$work/openbox.log"; skip "openbox did not start"; }
    sleep 0.5
done

mkfifo "$work/in" "$work/out"
QT_QPA_PLATFORM=xcb "$probe" <"$work/in" >"$work/out" 2>"$work/probe.log" &
pids+=($!)
exec {probe_in}>"$work/in"
exec {probe_out}<"$work/out"
main="" preview=""
while read -r -t 30 name id <&"$probe_out"; do
    case "$name" in
        main) main="$id" ;;
        preview) preview="$id" ;;
    esac
    [ -n "$main" ] && [ -n "$preview" ] && break
done
if [ -z "$main" ] || [ -z "$preview" ]; then
    echo "FAIL: the probe did not report its windows"
    cat "$work/probe.log"
    exit 1
fi

# Outer frame of a window: "x y width height" and its extents "left right top bottom".
outer() {
    local info extents x y w h l r t b
    info="$(xwininfo -id "$1")" || return 1
    x="$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")"
    y="$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")"
    w="$(sed -n 's/^ *Width: *//p' <<<"$info")"
    h="$(sed -n 's/^ *Height: *//p' <<<"$info")"
    extents="$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')"
    IFS=, read -r l r t b <<<"$extents"
    [ -n "$b" ] || return 1
    echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b)) $l $r $t $b"
}

near() { local d=$(($1 - $2)); ((d >= -1 && d <= 1)); }

# The designed figures at 96 dpi: the picture plus 300 x 550 twips, 15 twips a pixel.
want_w=$(((360 * 15 + 300 + 7) / 15))
want_h=$(((240 * 15 + 550 + 7) / 15))

# The window manager works asynchronously: measure until everything holds, for up to 5 s.
for attempt in $(seq 50); do
    failures=()
    if m=($(outer "$main")) && p=($(outer "$preview")); then
        ((m[4] + m[5] + m[6] + m[7] > 0)) || failures+=("the main window has no frame")
        ((p[4] + p[5] + p[6] + p[7] > 0)) || failures+=("the preview has no frame")
        cx=$(((screen_w - m[2]) / 2)) cy=$(((screen_h - m[3]) / 2))
        near "${m[0]}" "$cx" && near "${m[1]}" "$cy" ||
            failures+=("main frame at ${m[0]},${m[1]} (${m[2]}x${m[3]}), centred is $cx,$cy")
        near "${p[1]}" "${m[1]}" ||
            failures+=("preview frame top ${p[1]}, main frame top ${m[1]}")
        near "${p[0]}" "$((m[0] + m[2]))" ||
            failures+=("preview frame left ${p[0]}, main frame right edge $((m[0] + m[2]))")
        near "${p[2]}" "$want_w" && near "${p[3]}" "$want_h" ||
            failures+=("preview frame ${p[2]}x${p[3]}, designed ${want_w}x${want_h}")
    else
        failures+=("a window could not be measured")
    fi
    ((${#failures[@]} == 0)) && break
    sleep 0.1
done

echo "main frame:    ${m[*]:0:4} (extents ${m[*]:4})"
echo "preview frame: ${p[*]:0:4} (extents ${p[*]:4})"
if ((${#failures[@]} > 0)); then
    printf 'FAIL: %s\n' "${failures[@]}"
    exit 1
fi
echo "PASS: frames placed as designed under openbox"
