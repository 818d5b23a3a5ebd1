#!/usr/bin/env bash
# ZUDiruv.exe as a Windows user gets it, under Wine on a real X server (Xvfb),
# driven with xdotool: the installer installs silently and per user; the
# Start-menu entry opens the 320 x 550 window in the user's working folder;
# a simulated device across a veth link (network namespaces of the test's own)
# is identified over HTTP, an image picked through the file dialog from a
# folder named with spaces and umlauts is checked and staged, and the click
# flashes it through the Windows eflash.exe; a boot loader that never answers
# ends in the error with the image kept; no tool opens a console window; a
# second start in the folder is refused, a start after a crash is not; every
# DLL deployed is loaded; the uninstaller leaves nothing but the history.
# With ZUDIRUV_SCREENSHOT=FILE it saves three moments side by side there.
# Usage: tst_wine_program.sh WINDOWS_BUILD_DIR   (ZUDIRUV_WINE_PREFIX: a prefix
# made once by tests/tools/make_wine_prefix.sh, copied here)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
windows_build=$(cd "$1" && pwd)
setup=$windows_build/ZUDiruv-1.0-setup.exe
source "$here/../support/xvfb.sh"
need_tools Xvfb xdotool xprop xev import wine jq
[ -f "$setup" ] || { echo "SKIP: no $setup (scripts/build-windows.sh makes it with a Qt for Windows and nsis)"; exit 77; }
# The DLLs name the prefix Qt was built for; where that exists, Wine would
# find a missing module there through drive Z:.
[ ! -e /opt/qt5-mingw64 ] || { echo "FAIL: /opt/qt5-mingw64 exists and could stand in for missing modules"; exit 1; }

# The tools lie beside the program in the deployed folder.
ZUDIRUV_WINE_TOOLS=$windows_build/ZUDiruv
source "$here/../tools/linklib.sh"
make_link
# A second link, on which no boot loader listens.
silent_ip=198.18.1.2
silent_mac=02:5a:00:00:01:02
ip link add "${host_if}s" netns "$host_ns" type veth peer name "${device_if}s" netns "$device_ns" \
    address "$silent_mac" || skip "cannot create a second veth pair here"
in_host ip addr add 198.18.1.1/24 dev "${host_if}s"
in_device ip addr add "$silent_ip/24" dev "${device_if}s"
in_host ip link set "${host_if}s" up
in_device ip link set "${device_if}s" up

start_xvfb "$work/xvfb.log" || skip "Xvfb did not start"
background_pids+=("$xvfb_pid")
unset QT_QPA_PLATFORM QT_QUICK_BACKEND
# Wine's server opens its sockets in the namespace it starts in.
windows() { in_host "${wine_run[@]}" "$@"; }
winepath_of() { windows winepath -w "$1" 2> /dev/null | tr -d '\r'; }

# --- the devices ---------------------------------------------------------------------
# Started straight, not through a function, so that the end of the test ends them.
# Slow enough to watch the progress: 128 blocks of 40 ms.
ip netns exec "$device_ns" "$bin/velquor-sim" --address "$device_ip" --boot-loader --boot-mac "$device_mac" --block-write-ms 40 \
    --image-out "$work/received.bin" --log "$work/device.log" > "$work/device.out" 2>&1 &
background_pids+=($!)
# Answers its web interface; no boot loader listens behind it.
ip netns exec "$device_ns" "$bin/velquor-sim" --address "$silent_ip" --mac "$silent_mac" --log "$work/silent.log" \
    > "$work/silent.out" 2>&1 &
background_pids+=($!)
wait_for_line "$work/device.out" '^listening on' && wait_for_line "$work/silent.out" '^listening on' \
    || { cat "$work"/*.out; echo "FAIL: the simulated devices did not start"; exit 1; }

# --- install ------------------------------------------------------------------------
# Into a folder an administrator picked, named with spaces and umlauts.
# NSIS takes /D= unquoted and last, as only a command line written out whole
# through cmd keeps it.
windows cmd /c "$(winepath_of "$setup") /S /D=C:\Programme für Uhren\ZUDiruv" > "$work/setup.log" 2>&1
check "the installer installs silently, without asking" test $? -eq 0
in_host env WINEPREFIX="$wine_prefix" wineserver --wait
user_dir=$(ls -d "$wine_prefix"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)
programs="$wine_prefix/drive_c/Programme für Uhren/ZUDiruv"
folder=$user_dir/ZUDiruv
shortcut=$(dirname "$user_dir")/Roaming/Microsoft/Windows/Start\ Menu/Programs/ZUDiruv.lnk
check "into the folder given, with the tools in the user's own working folder" \
    test -f "$programs/ZUDiruv.exe" -a -f "$folder/arpping.exe" -a -f "$folder/eflash.exe"
check "with a Start-menu entry" test -f "$shortcut"
windows reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZUDiruv' /v QuietUninstallString \
    > "$work/uninstall-key" 2>&1
check "and an entry among the user's programs that uninstalls silently" grep -q 'Uninstall.exe" /S' "$work/uninstall-key"

# --- the window, started as the Start menu starts it --------------------------------
# Every window mapped from now on, by class: a tool started with a console
# would show one of class conhost.exe.
mkfifo "$work/xev.fifo"
while read -r line; do
    [[ $line == MapNotify* ]] || continue
    read -r line
    xprop -id "$(sed -n 's/.*window \(0x[0-9a-f]*\), override.*/\1/p' <<< "$line")" WM_CLASS >> "$work/mapped" 2>&1
done < "$work/xev.fifo" &
background_pids+=($!)
stdbuf -oL xev -root -event substructure > "$work/xev.fifo" 2> /dev/null &
background_pids+=($!)
sleep 0.5

# Starts the program as its Start-menu entry does; the loader's messages go
# to wine.err.
start_program() {
    in_host env LANG=C.UTF-8 WINEPREFIX="$wine_prefix" WINEDEBUG=+loaddll WINEDLLOVERRIDES="mscoree,mshtml=" \
        wine start "$(winepath_of "$shortcut")" > /dev/null 2>> "$work/wine.err"
}
# A first start under Wine on a busy machine can take a minute before the
# window maps; Wine's own short-lived windows come and go meanwhile, which
# the shared helper rides out.
window_named() { wait_for_window "$1" 180; }
# What Wine said last, for a window that never came.
window_missing() {
    echo "FAIL: no window titled \"$1\""
    grep -v ':trace:loaddll:' "$work/wine.err" | tail -n 20
    exit 1
}

start_program
screen=$(window_named 'ZUDiruv v1.0')
[ -n "$screen" ] || window_missing 'ZUDiruv v1.0'
eval "$(xdotool getwindowgeometry --shell "$screen")"
check "the window is 320 x 550" test "${WIDTH}x${HEIGHT}" = 320x550
check "it shows the program's icon group" eval 'xprop -id "$screen" _NET_WM_ICON | grep -q "Icon (32 x 32)"'
check "the Start-menu entry started it in the user's working folder" test -f "$folder/zudiruv.lock"

# pixel X Y: the colour the window shows there, as #RRGGBB.
pixel() { import -window "$screen" -crop "1x1+$1+$2" -depth 8 txt:- 2> /dev/null | grep -o '#[0-9A-F]\{6\}' | head -n 1; }
# until_colour X Y COLOUR SECONDS
until_colour() {
    local tries=0
    until [ "$(pixel "$1" "$2")" = "$3" ] || [ $tries -ge $(($4 * 10)) ]; do sleep 0.1; tries=$((tries + 1)); done
    [ "$(pixel "$1" "$2")" = "$3" ]
}
green='#69C56E' red='#F73E3E' grey='#999999'
ip_row=(6 75) mac_row=(6 135) button=(6 545)
click() { xdotool mousemove --window "$screen" "$1" "$2" click 1; }
type_into_row() { # y text
    click 160 "$1"
    sleep 0.6
    xdotool key ctrl+a
    xdotool type --delay 20 "$2"
    xdotool key Return
}
# The arrow of the drop picture, a GIF: drawn only with the GIF plugin.
check "it shows the drop picture" until_colour 160 330 '#7B8591' 3
shots=()
shot() { [ -z "${ZUDIRUV_SCREENSHOT:-}" ] || { import -window "$screen" "$work/shot-$1.png" && shots+=("$work/shot-$1.png"); }; }
shot start

# A folder with spaces and umlauts for the image.
image_dir="$wine_prefix/drive_c/Firmware für Uhren"
mkdir -p "$image_dir"
image="$image_dir/poe b ä.bin"
head -c 65536 /dev/urandom > "$work/body"
{ cat "$work/body"; printf ODLA; } > "$image"
# Picks the image as a user does in Wine's file dialog: to C:\ by typing,
# then into the folder and onto the file by double clicks (xdotool's typing
# of letters beyond ASCII does not reach Wine reliably).
pick_image() {
    local dialog
    click 160 340
    dialog=$(window_named 'Please choose a file')
    [ -n "$dialog" ] || { echo "no file dialog"; return 1; }
    sleep 1
    xdotool type --delay 20 'C:\'
    xdotool key Return
    sleep 1
    # The first entry: the folder, then in it the image, the only .bin file.
    xdotool mousemove --window "$dialog" 223 48 click --repeat 2 --delay 80 1
    sleep 1
    xdotool mousemove --window "$dialog" 223 48 click --repeat 2 --delay 80 1
    wait_for_no_window 'Please choose a file' && return 0
    import -window root "$work/dialog-left-open.png"
    return 1
}
history=$folder/zudiruv-history.jsonl
history_lines() { [ -f "$history" ] && wc -l < "$history" || echo 0; }
until_history() { # lines seconds
    local tries=0
    until [ "$(history_lines)" -ge "$1" ] || [ $tries -ge $(($2 * 10)) ]; do sleep 0.1; tries=$((tries + 1)); done
    [ "$(history_lines)" -ge "$1" ]
}

# identify ADDRESS MAC: types the address; where the lookup found no MAC
# address, types it.
identify() {
    type_into_row 100 "$1"
    check "$1 is identified over HTTP" until_colour "${ip_row[@]}" "$green" 8
    if until_colour "${mac_row[@]}" "$green" 4; then
        echo "note - arpping.exe found the MAC address of $1"
    else
        # Wine has no SendARP; its neighbour table may not hold the device yet.
        echo "note - arpping.exe found no MAC address of $1 under Wine; typed"
        type_into_row 160 "$2"
    fi
    check "the MAC row holds a valid MAC address" until_colour "${mac_row[@]}" "$green" 3
}

# --- a flash ---------------------------------------------------------------------------
identify "$device_ip" "$device_mac"
check "the image is picked through the file dialog by keyboard" pick_image
check "it is checked and staged" eval 'sleep 0.5; cmp -s "$work/body" "$folder/flashfile.tmp"'
check "the button offers the flash" until_colour "${button[@]}" "$green" 3
shot ready
click 160 520
# The green fill grows from the left while the grey rest shrinks: both ends
# of the button's bottom line, read at once.
filling() {
    [ "$(import -window "$screen" -crop 320x1+0+545 -depth 8 txt:- 2> /dev/null \
        | awk '/^6,0:|^314,0:/ { print $3 }' | xargs)" = "$green $grey" ]
}
check "the button fills with the flash's progress" eval 'for _ in $(seq 1 100); do filling && break; sleep 0.1; done; filling'
shot flashing
check "the flash ends" until_history 1 60
check "as complete in the history, with the image's name beyond ASCII" \
    eval '[ "$(head -n 1 "$history" | jq -r "[.result, .image] | join(\" \")")" = "complete poe b ä.bin" ]'
# The boot loader writes what it received once its session has wound down.
received() { for _ in $(seq 1 50); do cmp -s "$work/body" "$work/received.bin" && return 0; sleep 0.1; done; return 1; }
check "the device received the image byte for byte" received
check "the screen clears itself" until_colour "${ip_row[@]}" "$grey" 4
check "and the staged image is gone" test ! -e "$folder/flashfile.tmp"

# --- a boot loader that never answers -----------------------------------------------------
identify "$silent_ip" "$silent_mac"
pick_image
until_colour "${button[@]}" "$green" 3 || import -window root "$work/silent-not-ready.png"
click 160 520
check "a flash to a boot loader that never answers ends" until_history 2 90
check "with the error on the button" until_colour "${button[@]}" "$red" 2
check "as failed in the history, with the flasher's reason" \
    eval '[ "$(sed -n 2p "$history" | jq -r "[.result, (.errors | length > 0)] | join(\" \")")" = "failed true" ]'
check "and the staged image kept for another try" cmp -s "$work/body" "$folder/flashfile.tmp"

check "no tool opened a console window" eval '! grep -q conhost "$work/mapped"'
check "(the watch saw the program's window)" grep -q 'zudiruv.exe' "$work/mapped"

# --- a second start, and a start after a crash -------------------------------------------------
(cd "$folder" && windows "$programs/ZUDiruv.exe"; echo $? > "$work/second.rc") &
background_pids+=($!)
notice=$(window_named 'ZUDiruv is already running')
check "a second start in the working folder says that one is already running" test -n "$notice"
[ -z "$notice" ] || { xdotool windowfocus "$notice"; sleep 0.3; xdotool key Return; }
check "and exits with status 1 once the notice is closed" eval 'wait_for_line "$work/second.rc" "^1\$"'
check "leaving the first window open" eval 'visible_windows "ZUDiruv v1.0" > /dev/null'

# Every DLL the folder brings was loaded by the time the flashes were done.
loaded=$(sed 's/\\\\/\//g' "$work/wine.err")
unused=$(cd "$programs" && find . -iname '*.dll' | sed 's|^\./||' | while read -r dll; do
    grep -qiF "Uhren/ZUDiruv/$dll\"" <<< "$loaded" || echo "$dll"; done | xargs)
check "every DLL deployed is used${unused:+ (not: $unused)}" test -z "$unused"

in_host env WINEPREFIX="$wine_prefix" wineserver -k
sleep 1
start_program
screen=$(window_named 'ZUDiruv v1.0')
check "after a crash the next start opens its window" test -n "$screen"

if [ ${#shots[@]} -eq 3 ]; then
    convert "${shots[@]}" -background white -splice 12x0 +append -chop 12x0 +repage "$ZUDIRUV_SCREENSHOT"
fi

# --- installing over a running ZUDiruv, and uninstalling ------------------------------
install_over=$(stat -c %Z "$programs/ZUDiruv.exe")
windows cmd /c "$(winepath_of "$setup") /S /D=C:\Programme für Uhren\ZUDiruv" > /dev/null 2>&1
refused=$?
check "an installation over a running ZUDiruv is refused (status 2) and changes nothing" \
    eval '[ "$refused" -eq 2 ] && [ "$(stat -c %Z "$programs/ZUDiruv.exe")" = "$install_over" ]'
in_host env WINEPREFIX="$wine_prefix" wineserver -k
sleep 1
windows "$programs/Uninstall.exe" /S > /dev/null 2>&1
in_host env WINEPREFIX="$wine_prefix" wineserver --wait
check "the uninstaller leaves no program file" test ! -e "$programs"
check "nor the Start-menu entry" test ! -e "$shortcut"
check "and keeps the flash history alone in the working folder" \
    test "$(ls -A "$folder" 2> /dev/null)" = zudiruv-history.jsonl
check "nor the entry among the user's programs" \
    eval '! windows reg query "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZUDiruv" > /dev/null 2>&1'
finish
