# Shared by the tool tests: a veth link between two network namespaces of the
# test's own, checks that count failures, and a flash run against the
# simulated boot loader. Source it; it expects ZUDIRUV_BIN_DIR.
#
# Nothing here talks to an address outside loopback or these namespaces: the
# veth pair is created straight inside them and never shows up on the host.

bin=${ZUDIRUV_BIN_DIR:?ZUDIRUV_BIN_DIR must name the build/bin folder}
skip_code=77
failures=0
checks=0

id="vq$$"
host_ns="${id}-flasher"
device_ns="${id}-device"
host_if="${id}h"
device_if="${id}d"
host_ip=198.18.0.1
device_ip=198.18.0.2
unused_ip=198.18.0.99
host_mac=02:5a:00:00:00:01
device_mac=02:5a:00:00:00:02

# Runs a program as nobody with only the right to bind ports below 1024, as
# the installed package gives eflash.exe: no right to change the ARP table.
as_unprivileged=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all,+net_bind_service
    --ambient-caps=+net_bind_service)
# What flash_over_link starts eflash.exe with; empty for root.
eflash_runner=()
# What flash_over_link runs between starting the device and the flasher.
before_flasher=:

# Further namespaces a test makes; removed with the two above.
extra_namespaces=()

work=$(mktemp -d)
# Readable for the runs that drop privileges.
chmod 755 "$work"
background_pids=()

# The tools under test. With ZUDIRUV_WINE_TOOLS (the folder holding the
# Windows builds) and ZUDIRUV_WINE_PREFIX (a Wine prefix made once by
# wineboot) they are the Windows builds, run by Wine from a copy of that
# prefix of this test's own: Wine's server opens every socket in the network
# namespace it was started in, so one prefix must serve one namespace.
eflash=("$bin/eflash.exe")
arpping=("$bin/arpping.exe")
under_wine=
wine_prefix=
if [ -n "${ZUDIRUV_WINE_TOOLS:-}" ]; then
    under_wine=yes
    [ -f "${ZUDIRUV_WINE_PREFIX:-}/system.reg" ] || { echo "no Wine prefix at ${ZUDIRUV_WINE_PREFIX:-}"; exit 1; }
    wine_prefix=$work/wine-prefix
    # Links for the files Wine only reads; the registry is written, so copied.
    cp -al "$ZUDIRUV_WINE_PREFIX" "$wine_prefix"
    for file in "$wine_prefix"/*.reg; do cp --remove-destination "$ZUDIRUV_WINE_PREFIX/${file##*/}" "$file"; done
    # The locale tells Wine that file names are UTF-8.
    wine_run=(env LANG=C.UTF-8 WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine)
    eflash=("${wine_run[@]}" "$ZUDIRUV_WINE_TOOLS/eflash.exe")
    arpping=("${wine_run[@]}" "$ZUDIRUV_WINE_TOOLS/arpping.exe")
fi

# end_runs PID...: ends these background runs and waits for them.
end_runs() {
    local pid
    for pid in "$@"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}

cleanup() {
    end_runs "${background_pids[@]}"
    [ -z "$wine_prefix" ] || WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null
    ip netns del "$host_ns" 2>/dev/null
    ip netns del "$device_ns" 2>/dev/null
    local namespace
    for namespace in "${extra_namespaces[@]}"; do ip netns del "$namespace" 2>/dev/null; done
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

skip() {
    echo "SKIPPED: $*"
    exit "$skip_code"
}

check() { # description, then a command that must succeed
    local description=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok   - $description"
    else
        echo "FAIL - $description"
        failures=$((failures + 1))
    fi
}

# skip_case DESCRIPTION REASON: a case this run cannot make, said so.
skip_case() {
    echo "skip - $1: $2"
}

# Whether the tools under test run under Wine; with a reason, says that the
# case named first is skipped for it.
wine_cannot() { # DESCRIPTION REASON
    [ -n "$under_wine" ] || return 1
    skip_case "$1" "$2"
}

finish() {
    echo "$((checks - failures)) passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
}

in_host() { ip netns exec "$host_ns" "$@"; }
in_device() { ip netns exec "$device_ns" "$@"; }

make_link() {
    [ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
    ip netns add "$host_ns" 2>/dev/null || skip "cannot create network namespaces here"
    ip netns add "$device_ns" || skip "cannot create network namespaces here"
    ip link add "$host_if" netns "$host_ns" address "$host_mac" type veth \
        peer name "$device_if" netns "$device_ns" address "$device_mac" \
        || skip "cannot create a veth pair here"
    in_host ip addr add "$host_ip/24" dev "$host_if"
    in_device ip addr add "$device_ip/24" dev "$device_if"
    in_host ip link set lo up
    in_device ip link set lo up
    in_host ip link set "$host_if" up
    in_device ip link set "$device_if" up
}

# Device N of a fleet: its address and MAC address.
device_address() { echo "198.18.0.$((10 + $1))"; }
device_mac() { printf '%s:%02x' "${fleet_mac_prefix:-02:5a:00:00:20}" "$1"; }

# make_fleet COUNT: devices 1..COUNT in the device namespace, each on an
# interface of its own with its own MAC and address, bridged to the
# flasher's namespace as on a building's LAN.
make_fleet() {
    [ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
    ip netns add "$host_ns" 2>/dev/null || skip "cannot create network namespaces here"
    ip netns add "$device_ns" || skip "cannot create network namespaces here"
    in_host ip link add br0 type bridge || skip "cannot create a bridge here"
    in_host ip addr add "$host_ip/24" dev br0
    in_host ip link set lo up
    in_host ip link set br0 up
    in_device ip link set lo up
    # Each address is answered for on its own interface only.
    in_device sysctl -q -w net.ipv4.conf.all.arp_ignore=1 net.ipv4.conf.all.arp_announce=2 \
        net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    local i
    for i in $(seq 1 "$1"); do
        ip link add "${host_if}$i" netns "$host_ns" type veth \
            peer name "${device_if}$i" netns "$device_ns" address "$(device_mac "$i")" \
            || skip "cannot create a veth pair here"
        in_host ip link set "${host_if}$i" master br0 up
        in_device ip addr add "$(device_address "$i")/24" dev "${device_if}$i"
        in_device ip link set "${device_if}$i" up
    done
}

device_arp_ignore() { in_device sysctl -n "net.ipv4.conf.$device_if.arp_ignore"; }
# For bootloader-sim --arp-once-addressed: the first magic packet must not
# find the device still answering ARP.
until_device_arp_silent() {
    local tries=0
    until [ "$(device_arp_ignore)" = 8 ] || [ $tries -ge 50 ]; do sleep 0.1; tries=$((tries + 1)); done
}

# The value of KEY in a bootloader-sim summary file.
summary() { sed -n "s/^$2=//p" "$1"; }

# Reads progress lines the way the program does: drop everything through the
# line's last space and from the first "%" on; what is left must be a whole
# number. The numbers must never fall and must end at 100.
progress_ok() {
    awk '/Complete:/ {
            value = $0
            sub(/^.* /, "", value)
            sub(/%.*$/, "", value)
            if (value !~ /^[0-9]+$/ || value + 0 < last) { bad = 1 }
            last = value + 0
            seen = 1
        }
        END { exit !(seen && !bad && last == 100) }' "$1"
}

# flash_over_link IMAGE SIM_OPTIONS... [-- EFLASH_OPTIONS...]
# Starts the simulated boot loader in the device namespace and eflash.exe in
# the flasher namespace. Leaves $work/eflash.out, $work/eflash.rc,
# $work/eflash.seconds (the flasher's own run time), $work/sim.out (summary),
# $work/sim.rc and $work/received.bin.
flash_over_link() {
    local image=$1
    shift
    local sim_options=() eflash_options=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do sim_options+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    eflash_options=("$@")
    rm -f "$work/received.bin" "$work/sim.out" "$work/eflash.out"

    ip netns exec "$device_ns" timeout 120 "$bin/bootloader-sim" --mac "$device_mac" --address "$device_ip" \
        --magic-wait-ms 20000 --output "$work/received.bin" "${sim_options[@]}" \
        > "$work/sim.out" 2> "$work/sim.err" &
    local sim_pid=$!
    background_pids+=("$sim_pid")
    "$before_flasher"
    local started=$SECONDS
    (cd "$(dirname "$image")" && in_host timeout 120 "${eflash_runner[@]}" "${eflash[@]}" -i "$device_ip" -m "$device_mac" \
        "./$(basename "$image")" --verbose "${eflash_options[@]}") > "$work/eflash.out" 2>&1
    echo $? > "$work/eflash.rc"
    echo $((SECONDS - started)) > "$work/eflash.seconds"
    wait "$sim_pid"
    echo $? > "$work/sim.rc"
}

# wait_for_line FILE PATTERN: until FILE holds a line matching PATTERN, for
# at most 10 s.
wait_for_line() {
    local tries=0
    until grep -q "$2" "$1" 2>/dev/null || [ $tries -ge 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    grep -q "$2" "$1" 2>/dev/null
}

# capabilities_dropped PID: the running process holds no capability at
# all, effective, permitted or ambient; says what it holds otherwise.
capabilities_dropped() {
    local held
    held=$(awk '/^Cap(Eff|Prm|Amb):/ && $2 !~ /^0+$/ { print $1 $2 }' "/proc/$1/status" 2>/dev/null) \
        && [ -z "$held" ] || { echo "process $1 holds: ${held:-no status}"; return 1; }
}

# An image of SIZE bytes of random content at PATH.
make_image() { head -c "$2" /dev/urandom > "$1"; }
