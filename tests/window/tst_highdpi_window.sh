#!/usr/bin/env bash
# The program on X servers of 96, 144 and 192 dpi, with no scaling variable
# set: the window is 320 x 550 logical pixels, so 640 x 1100 device pixels at
# 192 dpi (and 1.5 rounds down to whole pixels), and at 2x the logo comes from
# its @2x file: its smoothed edge pixels grow with the edge length (2x the 1x
# count), not with the area as an upscaled 1x picture's do. That upscale is
# run too, so the measure is shown to tell the two apart.
# Usage: tst_highdpi_window.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
need_tools Xvfb xdotool xwininfo import convert python3
open_scratch
export QT_QPA_PLATFORM=xcb
unset QT_QUICK_BACKEND QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING

fail() {
    echo "FAIL: $1"
    exit 1
}

# shot DPI NAME [VARIABLE=VALUE...]: the program's window on a fresh server of
# DPI; prints its size and leaves the screenshot in $scratch/NAME.png.
shot() {
    local dpi=$1 name=$2 pid window size
    shift 2
    xvfb_screen=1400x1200x24 start_xvfb "$scratch/xvfb-$name.log" -dpi "$dpi" \
        || { echo "SKIP: Xvfb did not start"; exit $skip; }
    local xvfb=$xvfb_pid
    pids+=("$xvfb")
    mkdir -p "$scratch/work"
    (cd "$scratch/work" && exec env "$@" "$program") > "$scratch/program-$name.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    window=$(wait_for_window 'ZUDiruv v1.0') \
        || fail "no window at $dpi dpi"
    # Drawn once the logo band's corner shows the white ground.
    for _ in $(seq 1 50); do
        import -window "$window" "$scratch/$name.png" 2> /dev/null \
            && [ "$(convert "$scratch/$name.png" -format '%[hex:p{2,2}]' info:)" = FFFFFF ] && break
        sleep 0.2
    done
    size=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
    kill "$pid" "$xvfb" 2> /dev/null || true
    wait "$pid" "$xvfb" 2> /dev/null || true
    echo "$size"
}

expect_size() {
    [ "$2" = "$3" ] || fail "window at $1: $3, expected $2"
    echo "PASS: window at $1 is $3"
}

expect_size "96 dpi" 320x550 "$(shot 96 one)"
expect_size "144 dpi" 320x550 "$(shot 144 one-and-a-half)"
expect_size "192 dpi" 640x1100 "$(shot 192 two)"
expect_size "192 dpi without @2x images" 640x1100 "$(shot 192 upscaled QT_HIGHDPI_DISABLE_2X_IMAGE_LOADING=1)"

one=$(python3 "$here/logo_edges.py" "$scratch/one.png" 1)
two=$(python3 "$here/logo_edges.py" "$scratch/two.png" 2)
upscaled=$(python3 "$here/logo_edges.py" "$scratch/upscaled.png" 2)
echo "smoothed logo pixels: 1x $one, 2x $two, 2x upscaled from 1x $upscaled"
[ "$one" -gt 100 ] || fail "the 1x logo shows hardly any edge ($one pixels): not drawn?"
# Twice the 1x count for edges twice as long; a quarter more for the rasterizer.
limit=$((one * 2 * 5 / 4))
[ "$two" -le "$limit" ] || fail "the 2x logo is smoothed: $two in-between pixels, at most $limit"
[ "$upscaled" -gt "$limit" ] || fail "the measure does not see an upscaled logo ($upscaled <= $limit)"
echo "PASS: the 2x logo is as sharp as the 1x one"
