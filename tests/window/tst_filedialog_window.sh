#!/usr/bin/env bash
# The program in a real X server (Xvfb), driven with xdotool as a user would:
# for every way of closing the file dialog, the keyboard focus must return to
# the program's window, and the first click on the IP row must open it for
# typing. A typed address shows up as the MAC lookup that the screen starts
# with it (a fake arpping.exe records it).
# Usage: tst_filedialog_window.sh PROGRAM plain|openbox
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mode=$2
need_tools Xvfb xdotool xprop
open_scratch
start_test_display "$mode"

home=$scratch/home
work=$scratch/work
mkdir -p "$home" "$work"
image=$home/firmware.bin
printf 'firmware bodyODLA' > "$image"
cat > "$work/arpping.exe" <<'EOF'
#!/bin/sh
echo "$@" >> arp-calls
EOF
chmod +x "$work/arpping.exe"
address=127.0.0.9

fail() {
    echo "FAIL ($mode, $1): $2"
    exit 1
}

dialog_gone() { wait_for_no_window 'Please choose a file'; }

focus_returns_to() {
    for _ in $(seq 1 20); do
        [ "$(xdotool getwindowfocus 2> /dev/null)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# One fresh program for each way of closing the dialog.
run_case() {
    local how=$1 pid screen dialog width height x y
    rm -f "$work/arp-calls"
    (cd "$work" && HOME=$home exec "$program") > "$scratch/program-$how.log" 2>&1 &
    pid=$!
    pids+=($pid)
    screen=$(wait_for_window 'ZUDiruv v1.0') || fail "$how" "no program window"
    sleep 0.5

    xdotool mousemove --window "$screen" 160 400 click 1
    dialog=$(wait_for_window 'Please choose a file') || fail "$how" "no dialog after a click on the image"
    # The file list fills in after the dialog shows.
    sleep 1.5
    eval "$(xdotool getwindowgeometry --shell "$dialog" | grep -E '^(WIDTH|HEIGHT)=')"
    width=$WIDTH height=$HEIGHT
    case $how in
    enter)
        xdotool mousemove --window "$dialog" $((width / 2)) 23 click 1
        sleep 0.3
        xdotool key ctrl+a
        xdotool type --delay 20 "$image"
        xdotool key Return
        ;;
    double-click)
        xdotool mousemove --window "$dialog" 120 76 click --repeat 2 --delay 80 1
        ;;
    open)
        xdotool mousemove --window "$dialog" 120 76 click 1
        sleep 0.3
        xdotool mousemove --window "$dialog" $((width - 42)) $((height - 17)) click 1
        ;;
    escape)
        xdotool mousemove --window "$dialog" $((width / 2)) $((height / 2))
        xdotool key Escape
        ;;
    cancel)
        xdotool mousemove --window "$dialog" $((width - 124)) $((height - 17)) click 1
        ;;
    esac
    dialog_gone || fail "$how" "the dialog did not close"
    # Typing must reach the program again before any click on it.
    focus_returns_to "$screen" || fail "$how" "the keyboard focus did not return to the program's window"

    # The IP row turns in 250 ms before its text box shows.
    xdotool mousemove --window "$screen" 160 100 click 1
    sleep 0.6
    xdotool type --delay 20 "$address"
    xdotool key Return
    for _ in $(seq 1 80); do
        grep -qs -- "$address" "$work/arp-calls" && break
        sleep 0.1
    done
    grep -qs -- "$address" "$work/arp-calls" \
        || fail "$how" "the IP row did not take the typed address after the dialog closed"
    kill "$pid"
    wait "$pid" 2> /dev/null || true
    echo "PASS ($mode, $how)"
}

for how in enter double-click open escape cancel; do
    run_case "$how"
done
