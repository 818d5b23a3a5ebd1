#!/usr/bin/env bash
# The program in a real X server driven by keyboard alone, keys sent as a
# keyboard sends them (xdotool without --window): the IP row has the focus at
# start and opens on Return, Tab reaches the image area, whose dialog opens on
# Return and space and hands the keyboard back when it closes; the focus ring
# shows after keys and goes at the next mouse press. Screenshots are kept in
# $ZUDIRUV_SHOTS_DIR when that is set.
# Usage: tst_keyboard_window.sh PROGRAM plain|openbox
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mode=$2
need_tools Xvfb xdotool xprop import convert
open_scratch
start_test_display "$mode"

work=$scratch/work
mkdir -p "$work" "$scratch/home"
cat > "$work/arpping.exe" <<'TOOL'
#!/bin/sh
echo "$@" >> arp-calls
TOOL
chmod +x "$work/arpping.exe"

fail() {
    echo "FAIL ($mode): $1"
    exit 1
}

(cd "$work" && HOME=$scratch/home exec "$program") > "$scratch/program.log" 2>&1 &
pids+=($!)
screen=$(wait_for_window 'ZUDiruv v1.0') \
    || fail "no program window"
for _ in $(seq 1 30); do
    [ "$(xdotool getwindowfocus 2> /dev/null)" = "$screen" ] && break
    xdotool windowactivate "$screen" 2> /dev/null || xdotool windowfocus "$screen" 2> /dev/null || true
    sleep 0.2
done
sleep 0.5

# ring_pixels NAME TOP HEIGHT: pixels of the ring's colour in that band of
# the window (logical = device pixels here), the screenshot kept as NAME.
ring_pixels() {
    import -window "$screen" "$scratch/$1.png"
    [ -z "${ZUDIRUV_SHOTS_DIR:-}" ] || cp "$scratch/$1.png" "$ZUDIRUV_SHOTS_DIR/$mode-$1.png"
    convert "$scratch/$1.png" -crop "320x$3+0+$2" +repage -fill black +opaque '#1f4fd1' \
        -fill white -opaque '#1f4fd1' -format '%[fx:round(mean*w*h)]' info:
}

dialog_visible() {
    if [ "$1" = yes ]; then
        wait_for_window 'Please choose a file' 5 > /dev/null
    else
        wait_for_no_window 'Please choose a file'
    fi
}

# The IP row holds the keyboard at start: Return opens it, the address is
# typed, Return closes it and starts the lookup.
xdotool key Return
sleep 0.6
xdotool type --delay 20 127.0.0.9
xdotool key Return
for _ in $(seq 1 50); do grep -qs 127.0.0.9 "$work/arp-calls" && break; sleep 0.1; done
grep -qs 127.0.0.9 "$work/arp-calls" || fail "the keyboard did not reach the IP row at start"
echo "PASS ($mode): the IP row opens and takes the address by keyboard"
sleep 0.4
ring=$(ring_pixels ip-row 70 60)
[ "$ring" -ge 1000 ] || fail "no focus ring on the IP row after keys ($ring pixels)"

# Two Tabs: MAC row, then the image area, whose dialog opens on Return.
xdotool key Tab
xdotool key Tab
sleep 0.3
ring=$(ring_pixels image-area 190 300)
[ "$ring" -ge 2000 ] || fail "no focus ring on the image area ($ring pixels)"
echo "PASS ($mode): the focus ring follows Tab"
for key in Return space; do
    xdotool key "$key"
    dialog_visible yes || fail "$key on the image area opened no dialog"
    sleep 1.5
    xdotool key Escape
    dialog_visible no || fail "Escape did not close the dialog"
    sleep 0.5
done
echo "PASS ($mode): Return and space open the dialog, and the keyboard comes back to the image area"

# A mouse press hides the ring.
xdotool mousemove --window "$screen" 160 35 click 1
sleep 0.3
ring=$(ring_pixels after-click 0 550)
[ "$ring" -eq 0 ] || fail "the focus ring stays after a mouse press ($ring pixels)"
echo "PASS ($mode): no focus ring after a mouse press"
