#!/usr/bin/env bash
# The Debian package installed by dpkg into a scratch root, where its postinst
# gives the tools their file capabilities; then used as the unprivileged user
# nobody: the launcher starts the program in nobody's working directory with
# the tool links, and the tools, run through those links, look up the MAC
# address and flash the simulated device across a veth link between test
# namespaces. Removing the package leaves nothing behind but nobody's own state.
# Nothing is installed on this machine itself.
# Usage: tst_package_install.sh PACKAGE_DIR
source "$(dirname "$0")/../tools/linklib.sh"
source "$(dirname "$0")/packagelib.sh"
find_package "$1"
make_link

nobody=65534
# No inheritable or ambient capabilities: only the files' own can help.
as_nobody=(setpriv --reuid=$nobody --regid=$nobody --clear-groups --inh-caps=-all)

root=$work/root
tools=$root/usr/libexec/zudiruv
home=$work/home
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$home"
touch "$root/var/lib/dpkg/status"
chown $nobody:$nobody "$home"
# Without chroot the maintainer scripts run with DPKG_ROOT naming the root.
in_root() { dpkg --root="$root" --log="$work/dpkg.log" --force-script-chrootless --force-depends "$@"; }
host_state() { md5sum /var/lib/dpkg/status; ls -d /usr/libexec/zudiruv /usr/bin/zudiruv 2>&1; }
host_before=$(host_state)

in_root --install "$deb" > "$work/install.out" 2>&1
install_rc=$?
check_showing "$work/install.out" "dpkg installs the package into the scratch root" \
    eval '[ $install_rc -eq 0 ] && [ -x "$tools/zudiruv" ]'
check "the postinst gave eflash.exe the right to bind ports below 1024" \
    eval 'getcap "$tools/eflash.exe" | grep -q "cap_net_bind_service=ep"'
check "the postinst gave arpping.exe the right to send raw packets" \
    eval 'getcap "$tools/arpping.exe" | grep -q "cap_net_raw=ep"'
check "the capability step said nothing where it worked" eval '! grep -q "could not give" "$work/install.out"'

# --- the launcher ---------------------------------------------------------------

# Starts the installed launcher as nobody from folder $1, with the rest as
# environment; leaves the program's pid in $program.
start_launcher() {
    local folder=$1
    shift
    (cd "$folder" && exec "${as_nobody[@]}" env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "$@" \
        "$root/usr/bin/zudiruv") > "$work/launcher.out" 2>&1 &
    program=$!
    background_pids+=("$program")
    # The launcher replaces itself with the program.
    local tries=0
    until [ "$(readlink "/proc/$program/exe" 2>/dev/null)" = "$tools/zudiruv" ] || [ $tries -ge 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    # A scene that fails to load ends the program at once.
    sleep 1.5
}
stop_program() { kill "$program" 2>/dev/null; wait "$program" 2>/dev/null; }
started_in() {  # working directory
    [ "$(readlink "/proc/$program/exe")" = "$tools/zudiruv" ] && [ "$(readlink "/proc/$program/cwd")" = "$1" ]
}
links_in_place() {  # working directory
    [ "$(readlink "$1/eflash.exe")" = "$tools/eflash.exe" ] && [ "$(readlink "$1/arpping.exe")" = "$tools/arpping.exe" ]
}

state=$home/.local/state/zudiruv
# A relative XDG_STATE_HOME is to be ignored, as if unset.
start_launcher / XDG_STATE_HOME=relative/state
check "the launcher started the program from / in ~/.local/state/zudiruv" started_in "$state"
check "the tool links are in place there" links_in_place "$state"
check "the working directory is nobody's own" eval '[ "$(stat -c %u "$state")" = $nobody ] && "${as_nobody[@]}" test -w "$state"'
stop_program
sed 's/^/  program: /' "$work/launcher.out"

mkdir -p "$work/elsewhere"
start_launcher "$work/elsewhere" XDG_STATE_HOME="$home/xdg-state"
check "with XDG_STATE_HOME the working directory is \$XDG_STATE_HOME/zudiruv" started_in "$home/xdg-state/zudiruv"
check "the tool links are in place there too" links_in_place "$home/xdg-state/zudiruv"
check "the launcher made the working folder private (0700)" \
    eval '[ "$(stat -c %a "$home/xdg-state/zudiruv")" = 700 ]'
first=$program
start_launcher "$work/elsewhere" XDG_STATE_HOME="$home/xdg-state"
check_showing "$work/launcher.out" "a second start in the same folder says that ZUDiruv already runs there" \
    grep -q "already running in $home/xdg-state/zudiruv" "$work/launcher.out"
stop_program
program=$first
check "the first window goes on" eval 'kill -0 "$program"'
stop_program

# The launcher, run as nobody with XDG_STATE_HOME=$1, must refuse the folder.
launcher_refuses() {
    (cd / && timeout 10 "${as_nobody[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_STATE_HOME="$1" \
        QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "$root/usr/bin/zudiruv") > "$work/refused.out" 2>&1
    [ $? -eq 1 ] && grep -q "^zudiruv: refusing the working folder $1/zudiruv: $2" "$work/refused.out"
}
mkdir -p "$home/open-state/zudiruv" "$home/root-state/zudiruv"
chown -R $nobody:$nobody "$home/open-state"
chmod 777 "$home/open-state/zudiruv"
check_showing "$work/refused.out" "the launcher refuses a working folder that others can write to" \
    launcher_refuses "$home/open-state" "group or others can write to it"
check_showing "$work/refused.out" "the launcher refuses a working folder of another user" \
    launcher_refuses "$home/root-state" "it belongs to root, not to"
check "and places no tool link in either" \
    eval '[ ! -e "$home/open-state/zudiruv/eflash.exe" ] && [ ! -e "$home/root-state/zudiruv/eflash.exe" ]'

# --- the tools, through the links, as the program starts them -------------------

make_image "$state/flashfile.tmp" 70000
chown $nobody:$nobody "$state/flashfile.tmp"
# A boot loader that answers no ARP before BOOTP gave it its address: the
# ARP entry that root would add is not nobody's to add.
ip netns exec "$device_ns" timeout 60 "$bin/bootloader-sim" --mac "$device_mac" --address "$device_ip" \
    --magic-wait-ms 20000 --arp-once-addressed --output "$work/received.bin" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
background_pids+=("$sim_pid")
until_device_arp_silent
(cd "$state" && in_host "${as_nobody[@]}" timeout 60 ./eflash.exe -i "$device_ip" -m "$device_mac" ./flashfile.tmp --verbose) \
    > "$work/eflash.out" 2>&1
eflash_rc=$?
wait "$sim_pid"
check_showing "$work/eflash.out" "nobody flashed the simulated device through the link" \
    eval '[ $eflash_rc -eq 0 ] && cmp -s "$state/flashfile.tmp" "$work/received.bin"'
check "its progress rose to 100" progress_ok "$work/eflash.out"
check "its BOOTP reply went out as broadcast" grep -q "BOOTP reply sent to 255.255.255.255:" "$work/eflash.out"

(cd "$state" && in_host "${as_nobody[@]}" ./arpping.exe -n 1 -w 2000 "$device_ip") > "$work/arp.out" 2> "$work/arp.err"
cat "$work/arp.out" "$work/arp.err" > "$work/arp.all"
check_showing "$work/arp.all" "nobody's MAC lookup through the link used raw ARP and found the device" \
    eval 'grep -q "^Reply from $device_mac " "$work/arp.out" && [ ! -s "$work/arp.err" ]'

# The same files without their capabilities: what the capability step changes.
cp "$tools/eflash.exe" "$tools/arpping.exe" "$work/elsewhere/"
(cd "$state" && in_host "${as_nobody[@]}" "$work/elsewhere/eflash.exe" -i "$device_ip" -m "$device_mac" ./flashfile.tmp \
    --bootloader-wait-ms 500) > "$work/eflash.out" 2>&1
eflash_rc=$?
check_showing "$work/eflash.out" "without the capability nobody may not serve on port 67" \
    eval '[ $eflash_rc -eq 1 ] && grep -q "^ERROR.*\\b67\\b" "$work/eflash.out"'
(in_host "${as_nobody[@]}" "$work/elsewhere/arpping.exe" -n 1 -w 2000 "$device_ip") > "$work/arp.out" 2> "$work/arp.err"
check "without the capability arpping.exe says it falls back from raw ARP" \
    grep -q "neighbour table" "$work/arp.err"

# Where setcap cannot work, the postinst says so and does not fail the install.
dpkg-deb --control "$deb" "$work/control"
mkdir -p "$work/nocap/usr/libexec/zudiruv"
cp "$work/elsewhere/eflash.exe" "$work/elsewhere/arpping.exe" "$work/nocap/usr/libexec/zudiruv/"
chown -R $nobody:$nobody "$work/nocap"
"${as_nobody[@]}" env DPKG_ROOT="$work/nocap" sh "$work/control/postinst" configure > "$work/postinst.out" 2>&1
postinst_rc=$?
check "a failed capability step names the file and the capability, and the install goes on" \
    eval '[ $postinst_rc -eq 0 ] && grep -q "eflash.exe the capability cap_net_bind_service" "$work/postinst.out" \
        && grep -q "arpping.exe the capability cap_net_raw" "$work/postinst.out"'
sed 's/^/  postinst: /' "$work/postinst.out"

# --- removal ------------------------------------------------------------------------

# Removal, not purge: what "apt remove" does must already leave nothing.
in_root --remove zudiruv > "$work/remove.out" 2>&1
remove_rc=$?
check_showing "$work/remove.out" "dpkg removes the package" eval '[ $remove_rc -eq 0 ]'
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" -not -path "$root/var/lib/dpkg" \
    -not -path "$root/var/lib/dpkg/*")
echo "$left" > "$work/left.out"
check_showing "$work/left.out" "nothing is left in the root but dpkg's own records" eval '[ -z "$left" ]'
check "the user's working directory stays" eval '[ -d "$state" ] && [ -f "$state/flashfile.tmp" ]'
check "nothing was installed on this machine" eval '[ "$(host_state)" == "$host_before" ]'

finish
