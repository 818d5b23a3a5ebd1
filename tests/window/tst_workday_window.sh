#!/usr/bin/env bash
# A technician's day through the real window (Xvfb), with the real tools and
# simulated devices on loopback in the network namespace of the test's own
# that tests/support/isolated.sh makes,
# keys and clicks sent by xdotool as a keyboard and a mouse send them:
# a second window in the same folder, an address typed and a file picked
# during a flash, a device without an update page after one with it, a MAC
# row that is not the device's, a failing flash, and twenty flashes in a row
# whose update code must reach the device before the flasher's magic packet.
# The flash history and the devices' logs tell what happened; screenshots of
# the moments that matter are left in $ZUDIRUV_SCREENSHOTS if it is set.
# Usage: tst_workday_window.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
need_tools Xvfb xdotool xprop jq import
[ -n "${ZUDIRUV_ISOLATED:-}" ] || { echo "SKIP: port 80 and the boot loader's ports need a network namespace of the test's own: run it as root through tests/support/isolated.sh"; exit $skip; }

program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
bin=$(dirname "$program")
flashes=${ZUDIRUV_FLASHES_IN_A_ROW:-20}

open_scratch
start_test_display plain

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
pass() { echo "PASS: $1"; }
check() { # description, then a command that must succeed
    local description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}
shot() {
    [ -n "${ZUDIRUV_SCREENSHOTS:-}" ] || return 0
    mkdir -p "$ZUDIRUV_SCREENSHOTS"
    import -window root "$ZUDIRUV_SCREENSHOTS/$1.png" 2> /dev/null || true
}

home=$scratch/home
work=$scratch/work
mkdir -p "$home" "$work" "$scratch/other"
ln -s "$bin/arpping.exe" "$work/arpping.exe"
ln -s "$bin/eflash.exe" "$work/eflash.exe"
history=$work/zudiruv-history.jsonl
# 256 KiB with the PoE clock's trailer: long enough to act during the flash
# at 20 ms per block.
image=$home/poe-b.bin
{ head -c 262144 /dev/urandom; printf 'ODLA'; } > "$image"
head -c 262144 "$image" > "$scratch/image-body"

# device NAME ADDRESS OPTIONS...: a simulated PoE clock with its boot loader.
device() {
    local name=$1 address=$2
    shift 2
    "$bin/velquor-sim" --address "$address" --boot-loader --image-out "$scratch/$name-received.bin" \
        --log "$scratch/$name.log" "$@" > "$scratch/$name.out" 2>&1 &
    pids+=($!)
}
device stamped 127.0.0.2 --timestamp 2026-12-07T05:00:00Z --block-write-ms 20
device unstamped 127.0.0.3 --body /var/www/update.html=
device bystander 127.0.0.4
device broken 127.0.0.5 --boot-error-at 3
# Answers the upload late, as a busy device does: a flasher that did not wait
# would take it offline first.
device busy 127.0.0.6 --timestamp 2026-12-07T05:00:00Z --delay /etc/update_code=200
for name in stamped unstamped bystander broken busy; do
    for _ in $(seq 1 100); do grep -q "^listening on" "$scratch/$name.out" && break; sleep 0.1; done
    grep -q "^listening on" "$scratch/$name.out" || { echo "FAIL: the device $name did not start"; cat "$scratch/$name.out"; exit 1; }
done

# events NAME KIND: how many events of that kind the device has logged.
events() { jq -c "select(.event == \"$2\")" "$scratch/$1.log" | wc -l; }
history_lines() { [ -f "$history" ] && wc -l < "$history" || echo 0; }

start_program() { # folder log
    (cd "$1" && HOME=$home exec "$program") > "$2" 2>&1 &
    pids+=($!)
    started=$!
}

start_program "$work" "$scratch/first.log"
first=$started
screen=$(wait_for_window 'ZUDiruv v1.0') || { echo "FAIL: no program window"; exit 1; }
sleep 0.5

# --- a second window in the same folder, and one in another ----------------------
start_program "$work" "$scratch/second.log"
second=$started
notice=$(wait_for_window 'ZUDiruv is already running') || fail "a second start shows no notice"
shot second-window-notice
xdotool mousemove --window "$notice" 180 95
sleep 0.3
xdotool key Return
second_status=running
for _ in $(seq 1 50); do
    kill -0 "$second" 2> /dev/null || { second_status=0; wait "$second" || second_status=$?; break; }
    sleep 0.1
done
check "the notice closes on Return and the second start exits with status 1" [ "$second_status" -eq 1 ]
check "it says on standard error that ZUDiruv already runs in that folder" \
    grep -q "ZUDiruv is already running in $work" "$scratch/second.log"
check "the first window stays" kill -0 "$first"
start_program "$scratch/other" "$scratch/other.log"
other=$started
two_windows() { [ "$(visible_windows "ZUDiruv v1.0" | wc -l)" -eq 2 ]; }
for _ in $(seq 1 100); do two_windows && break; sleep 0.2; done
check "a window in another folder opens beside the first" two_windows
kill "$other"
wait "$other" 2> /dev/null || true

# --- as a user works ---------------------------------------------------------------
click() { xdotool mousemove --window "$screen" "$1" "$2" click 1; }

# What the user sees: the face colour of the IP row (y 100) or the flash
# button (y 520), as RRGGBB.
green=69C56E yellow=D9D926 grey=999999
colour_at() { import -window "$screen" -crop "1x1+5+$1" -depth 8 -format '%[hex:p{0,0}]' info: 2> /dev/null; }
# wait_for_colour Y COLOUR [SECONDS]: until the face at Y shows COLOUR, 10 s at most.
wait_for_colour() {
    for _ in $(seq 1 $((${3:-10} * 5))); do
        [ "$(colour_at "$1")" = "$2" ] && return 0
        sleep 0.2
    done
    return 1
}

# The IP row turns in 250 ms before its text box takes keys.
type_into_row() { # y text
    click 160 "$1"
    sleep 0.6
    xdotool key ctrl+a
    xdotool type --delay 15 "$2"
    xdotool key Return
}

# Types the address and waits out the probe's 3 s window: the IP row turns
# yellow, then green once the device is identified.
identify() {
    type_into_row 100 "$1"
    { wait_for_colour 100 "$yellow" && wait_for_colour 100 "$green"; } \
        || fail "$1 was not identified: the IP row shows $(colour_at 100), the button $(colour_at 520)"
}

pick_image() {
    local dialog width
    click 160 340
    dialog=$(wait_for_window 'Please choose a file') || { fail "no file dialog"; return 1; }
    sleep 1.5
    eval "$(xdotool getwindowgeometry --shell "$dialog" | grep -E '^(WIDTH)=')"
    width=$WIDTH
    xdotool mousemove --window "$dialog" $((width / 2)) 23 click 1
    sleep 0.3
    xdotool key ctrl+a
    xdotool type --delay 10 "$image"
    xdotool key Return
    # The button turns to its green back face once the image is checked, and
    # takes clicks once it has turned.
    { wait_for_no_window 'Please choose a file' && wait_for_colour 520 "$green"; } || fail "the image was not taken"
    sleep 0.3
}

# After "Complete" the screen clears itself for the next device.
wait_until_cleared() { wait_for_colour 520 "$grey" || fail "the screen did not clear after the flash"; }

# Waits until the history has N lines, for S seconds at most.
wait_for_history() { # lines seconds
    local tries=0
    until [ "$(history_lines)" -ge "$1" ] || [ $tries -ge $(($2 * 10)) ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    [ "$(history_lines)" -ge "$1" ]
}
line() { sed -n "${1}p" "$history"; }
# The boot loader keeps the image once its session has wound down.
received_by() { # device name
    for _ in $(seq 1 50); do
        cmp -s "$scratch/image-body" "$scratch/$1-received.bin" && return 0
        sleep 0.1
    done
    return 1
}

# --- an address typed and a file picked during a flash ------------------------------
identify 127.0.0.2
pick_image
shot ready-to-flash
click 160 520
sleep 1.5
type_into_row 100 127.0.0.4
click 160 340
sleep 1
shot typed-and-clicked-during-flash
check "no file dialog opens during a flash" \
    no_window 'Please choose a file'
wait_for_history 1 60 || fail "the flash did not end"
sleep 0.2
shot after-first-flash
check "the address typed during the flash was not probed" [ "$(events bystander request)" -eq 0 ]
check "the device got the image that was checked" received_by stamped
check "the history shows the flash complete, with the device's answer to its code" \
    eval '[ "$(line 1 | jq -r "[.result, .address, .code_uploaded, .code_status, .image] | join(\" \")")" = "complete 127.0.0.2 true 200 poe-b.bin" ]'
check "the history keeps the image's SHA-256" \
    eval '[ "$(line 1 | jq -r .image_sha256)" = "$(sha256sum "$image" | cut -c1-64)" ]'
wait_until_cleared

# --- a device without an update page after one with a timestamp ----------------------
identify 127.0.0.3
pick_image
click 160 520
wait_for_history 2 60 || fail "the flash of the device without an update page did not end"
check "no update code went to the device without an update page" [ "$(events unstamped update_code)" -eq 0 ]
check "it was flashed all the same" received_by unstamped
check "the history shows a flash without a code" \
    eval '[ "$(line 2 | jq -r "[.result, .code_uploaded, .code_status] | join(\" \")")" = "complete false " ]'
wait_until_cleared

# --- a MAC row that is not the device's -----------------------------------------------
uploads_before=$(events stamped update_code)
identify 127.0.0.2
type_into_row 160 02:00:00:00:00:07
pick_image
click 160 520
sleep 0.4
shot mac-refused
sleep 2.5
check "a MAC row other than the device's MAC page starts nothing" \
    eval '[ "$(events stamped update_code)" -eq "$uploads_before" ] && [ "$(events stamped offline)" -eq 1 ] && [ "$(history_lines)" -eq 2 ]'

# --- a failing flash ---------------------------------------------------------------------
identify 127.0.0.5
pick_image
click 160 520
wait_for_history 3 60 || fail "the failing flash did not end"
shot failed-flash
check "the history shows the failure with the flasher's exit status and ERROR lines" \
    eval '[ "$(line 3 | jq -r "[.result, .exit_status, (.errors | length > 0)] | join(\" \")")" = "failed 1 true" ]'
check "the first ERROR line also went to standard error" \
    eval 'grep -q "^zudiruv: flash failed: ERROR: $(line 3 | jq -r ".errors[0]" | sed "s/^ERROR: //" | cut -c1-30)" "$scratch/first.log"'
# The failure and its reason stay until the next step, past the old 2 s
# notice; the staged image stays for another try.
sleep 2.5
check "the failure stays on the button, and the image stays for another try" \
    eval '[ "$(colour_at 520)" = F73E3E ] && [ -s "$work/flashfile.tmp" ]'

# --- flashes in a row: the code always arrives before the magic packet -----------------
done_before=$(history_lines)
for n in $(seq 1 "$flashes"); do
    identify 127.0.0.6
    pick_image
    click 160 520
    wait_for_history $((done_before + n)) 60 || { fail "flash $n of $flashes did not end"; break; }
    wait_until_cleared
    # As a technician waits for the clock to restart: on a busy machine the
    # screen may clear before the device's web interface is back.
    for _ in $(seq 1 100); do [ "$(events busy online)" -ge "$n" ] && break; sleep 0.1; done
done
order=$(jq -r 'select(.event == "update_code" or .event == "offline") | .event' "$scratch/busy.log" | paste -sd' ')
expected=$(for _ in $(seq 1 "$flashes"); do printf 'update_code offline '; done)
check "in $flashes flashes in a row every update code reached the device before the flasher woke it" \
    [ "$order " = "$expected" ]
check "and every one of them is in the history as complete" \
    eval '[ "$(tail -n "$flashes" "$history" | jq -r "select(.result == \"complete\" and .code_status == 200 and .address == \"127.0.0.6\") | .address" | wc -l)" -eq "$flashes" ]'

[ "$failures" -eq 0 ] || {
    echo "--- program output"; cat "$scratch/first.log"
    echo "--- history"; cat "$history" 2> /dev/null || true
}
echo "$failures failed"
[ "$failures" -eq 0 ]
