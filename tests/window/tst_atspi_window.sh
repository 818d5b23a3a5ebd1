#!/usr/bin/env bash
# The program as a screen reader finds it over AT-SPI: on a session bus with
# the accessibility bus of at-spi2-core, each row, the image area, the flash
# button and the logo are named objects with their roles; the focus follows
# the keyboard; the Press action opens a row, which then is a text field.
# Skipped (77) where the tools or the buses cannot be had.
# Usage: tst_atspi_window.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
launcher=/usr/libexec/at-spi-bus-launcher
need_tools Xvfb xdotool xprop dbus-launch "$launcher"
/usr/bin/python3 -c 'import pyatspi' 2> /dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit $skip; }

scratch=$(mktemp -d)
pids=()
groups=()
cleanup() {
    for group in "${groups[@]}"; do kill -- "-$group" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# -noreset: the accessibility bus launcher is the first client, and the server
# must not reset when it lets go.
start_xvfb "$scratch/xvfb.log" -noreset || { echo "SKIP: Xvfb did not start"; exit $skip; }
pids+=("$xvfb_pid")
eval "$(dbus-launch --sh-syntax)" || { echo "SKIP: no session bus"; exit $skip; }
pids+=("$DBUS_SESSION_BUS_PID")
setsid "$launcher" --launch-immediately > "$scratch/launcher.log" 2>&1 &
groups+=($!)
for _ in $(seq 1 50); do
    xprop -root AT_SPI_BUS 2> /dev/null | grep -q 'unix:' && break
    sleep 0.1
done
xprop -root AT_SPI_BUS 2> /dev/null | grep -q 'unix:' \
    || { echo "SKIP: the accessibility bus did not start"; exit $skip; }

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QUICK_BACKEND
mkdir -p "$scratch/work"
(cd "$scratch/work" && exec "$program") > "$scratch/program.log" 2>&1 &
pids+=($!)
screen=$(wait_for_window 'ZUDiruv v1.0') \
    || { echo "FAIL: no program window"; exit 1; }
# No window manager gives it the keyboard; the user's click would.
for _ in $(seq 1 30); do
    [ "$(xdotool getwindowfocus 2> /dev/null)" = "$screen" ] && break
    xdotool windowfocus "$screen" 2> /dev/null || true
    sleep 0.2
done
sleep 1

fail() {
    echo "FAIL: $1"
    echo "$2"
    exit 1
}
tree() {
    /usr/bin/python3 "$here/atspi_tree.py" zudiruv list
}
expect_line() {  # tree pattern
    grep -qE "$2" <<< "$1" || fail "no object like: $2" "$1"
}

objects=$(tree)
echo "$objects"
expect_line "$objects" "^frame 'ZUDiruv v1.0'"
expect_line "$objects" "^push button 'IP Address' .*focused"
expect_line "$objects" "^push button 'MAC Address' .*focusable"
expect_line "$objects" "^push button 'Click here or drag and drop a file to flash.' "
expect_line "$objects" "^push button 'Insert valid IP' \[not ready\] "
expect_line "$objects" "^image 'Velquor'"
echo "PASS: the rows, the image area, the flash button and the logo are named objects"

xdotool key Tab
sleep 0.5
objects=$(tree)
expect_line "$objects" "^push button 'MAC Address' .*focused"
grep -qE "^push button 'IP Address' .*focused" <<< "$objects" && fail "the IP row keeps the focus after Tab" "$objects"
echo "PASS: the focus follows the keyboard"

/usr/bin/python3 "$here/atspi_tree.py" zudiruv press "IP Address" || fail "Press on the IP row failed" ""
sleep 0.6
objects=$(tree)
expect_line "$objects" "^text 'Enter IP Address'"
echo "PASS: Press opens the IP row, which is then a text field"
