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
trap 'exit 1' HUP INT TERM PIPE
# Should this script be killed outright, nothing it started outlives it by long.
limit=(timeout 180)

screen_w=1280 screen_h=1024
"${limit[@]}" Xvfb "$display" -screen 0 "${screen_w}x${screen_h}x24" -dpi 96 -nolisten tcp \
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
    HOME="$work" XDG_CONFIG_HOME="$work/config" "${limit[@]}" openbox >"$work/openbox.log" 2>&1 &
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

# near <measured> <designed> <tolerance>
near() { local d=$(($1 - $2)); ((d >= -$3 && d <= $3)); }

# check <dpi> <main client w> <h> <preview outer w> <h> <size tolerance> [toolkit scaling]
# Starts the probe with the desktop at <dpi> (Xft.dpi, as desktops set it) and measures.
# Without toolkit scaling ("off") the program itself scales its twips by dpi / 96.
check() {
    local dpi=$1 main_w=$2 main_h=$3 want_w=$4 want_h=$5 slack=$6 scaling=${7:-on}
    local run="$work/$dpi-$scaling" main="" preview="" name id probe_pid attempt cx cy
    local -a m p failures
    mkdir -p "$run"
    xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "Xft.dpi:	$dpi"$'\n'
    mkfifo "$run/in" "$run/out"
    local -a toolkit=(-u QT_ENABLE_HIGHDPI_SCALING)
    [ "$scaling" = off ] && toolkit=(QT_ENABLE_HIGHDPI_SCALING=0)
    env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_SCALE_FACTOR_ROUNDING_POLICY \
        "${toolkit[@]}" QT_QPA_PLATFORM=xcb "${limit[@]}" "$probe" <"$run/in" >"$run/out" 2>"$run/probe.log" &
    probe_pid=$!
    pids+=("$probe_pid")
    exec {probe_in}>"$run/in"
    exec {probe_out}<"$run/out"
    while read -r -t 30 name id <&"$probe_out"; do
        case "$name" in
            main) main="$id" ;;
            preview) preview="$id" ;;
        esac
        [ -n "$main" ] && [ -n "$preview" ] && break
    done
    if [ -z "$main" ] || [ -z "$preview" ]; then
        echo "FAIL at $dpi dpi: the probe did not report its windows"
        cat "$run/probe.log"
        return 1
    fi

    # The window manager works asynchronously: measure until everything holds, up to 5 s.
    for attempt in $(seq 50); do
        failures=()
        if m=($(outer "$main")) && p=($(outer "$preview")); then
            ((m[4] + m[5] + m[6] + m[7] > 0)) || failures+=("the main window has no frame")
            ((p[4] + p[5] + p[6] + p[7] > 0)) || failures+=("the preview has no frame")
            local cw=$((m[2] - m[4] - m[5])) ch=$((m[3] - m[6] - m[7]))
            ((cw == main_w && ch == main_h)) ||
                failures+=("main client area ${cw}x${ch}, designed ${main_w}x${main_h}")
            cx=$(((screen_w - m[2]) / 2)) cy=$(((screen_h - m[3]) / 2))
            near "${m[0]}" "$cx" 1 && near "${m[1]}" "$cy" 1 ||
                failures+=("main frame at ${m[0]},${m[1]} (${m[2]}x${m[3]}), centred is $cx,$cy")
            near "${p[1]}" "${m[1]}" 1 ||
                failures+=("preview frame top ${p[1]}, main frame top ${m[1]}")
            near "${p[0]}" "$((m[0] + m[2]))" 1 ||
                failures+=("preview frame left ${p[0]}, main frame right edge $((m[0] + m[2]))")
            near "${p[2]}" "$want_w" "$slack" && near "${p[3]}" "$want_h" "$slack" ||
                failures+=("preview frame ${p[2]}x${p[3]}, designed ${want_w}x${want_h}")
        else
            failures+=("a window could not be measured")
        fi
        ((${#failures[@]} == 0)) && break
        sleep 0.1
    done
    exec {probe_in}>&- {probe_out}<&-

    echo "$dpi dpi, toolkit scaling $scaling, main frame:    ${m[*]:0:4} (extents ${m[*]:4})"
    echo "$dpi dpi, toolkit scaling $scaling, preview frame: ${p[*]:0:4} (extents ${p[*]:4})"
    if ((${#failures[@]} > 0)); then
        printf 'FAIL at %s dpi: %s\n' "$dpi" "${failures[@]}"
        return 1
    fi
}

status=0
# 96 dpi: the main window's client area is 8040 x 6330 twips; the preview's outer frame is
# the 360 x 240 picture plus 300 x 550 twips, 15 twips a pixel, everything within a pixel.
check 96 536 422 $(((360 * 15 + 300 + 7) / 15)) $(((240 * 15 + 550 + 7) / 15)) 1 || status=1
# 144 dpi: the toolkit scales by 1.5, the picture included (540 x 360), and 300 x 550 twips
# are 30 x 55 pixels. It works in whole scaled pixels, so a frame of odd width can cost a
# pixel on each side of the preview's size.
check 144 804 633 $((540 + 30)) $((360 + 55)) 2 || status=1
# 144 dpi, the toolkit not scaling: 10 twips a pixel, the picture at 360 x 240.
check 144 804 633 $(((3600 + 300) / 10)) $(((2400 + 550) / 10)) 1 off || status=1
((status == 0)) && echo "PASS: frames placed as designed under openbox"
exit $status
