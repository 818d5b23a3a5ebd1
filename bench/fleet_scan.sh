#!/usr/bin/env bash
# zudiruv-fleet scanning a site: a /20 (10.77.0.0/20) in which 20 simulated
# Velquor devices and 2 other web servers answer. Three variants:
#   local    the scanner on the devices' own segment (a veth link), every
#            other address empty, so that each costs a real ARP failure
#   crowded  the same, with every even address of the block answering ARP
#            besides (over 2000 hosts without a web server: addresses of the
#            far namespace's interface, which the kernel answers for)
#   routed   the scanner behind a router namespace
# Each is scanned RUNS times (the median counts) and, when nmap is installed,
# once with `nmap -n -sT -p 80 --open` for comparison. The last lines are
#   fleet_scan_seconds_per_20_local=S     goal: at most 15
#   fleet_scan_seconds_per_20_crowded=S   goal: at most 15
#   fleet_scan_seconds_per_20_routed=S    goal: at most 10
#   fleet_scan_ratio_vs_nmap_local=R      goal: at most 1.0 (n/a without nmap)
#   fleet_scan_ratio_vs_nmap_crowded=R    goal: at most 1.0
#   fleet_scan_ratio_vs_nmap_routed=R     goal: at most 1.0
#   fleet_scan_nmap_devices_crowded=N     of 20: what nmap found there
# A run that misses a device ends the benchmark with exit 1. Every
# namespace, link and address is made here and removed at the end; nothing
# is sent anywhere else.
#
# Needs root (namespaces, port 80). Usage: fleet_scan [BIN_DIR] [RUNS]
set -u
bin=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
runs=${2:-3}
[ "$(id -u)" -eq 0 ] || { echo "needs root for network namespaces and port 80" >&2; exit 1; }
for tool in zudiruv-fleet velquor-sim arpping.exe; do
    [ -x "$bin/$tool" ] || { echo "no $bin/$tool; build first" >&2; exit 1; }
done

source "@CMAKE_SOURCE_DIR@/tests/support/scratch.sh"
enter_scratch_dir

id="fs$$"
scanner_ns=$id-scanner
router_ns=$id-router
devices_ns=$id-devices
devices=20
other_servers=2
block=10.77.0.0/20

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

remove_site() {
    local pid
    for pid in $(jobs -p); do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    for ns in "$scanner_ns" "$router_ns" "$devices_ns"; do ip netns del "$ns" 2>/dev/null; done
}
trap 'remove_site; end_scratch_dir' EXIT
trap 'exit 1' INT TERM

# Spread over the whole block, away from its first addresses (the scanner's
# and the router's).
device_offset() { echo $(( ($1 + 1) * 4096 / ($devices + $other_servers + 1) )); }
device_address() { local n; n=$(device_offset "$1"); echo "10.77.$((n / 256)).$((n % 256))"; }

# build_site local|crowded|routed: the namespaces, links and simulated hosts.
build_site() {
    local variant=$1 i address
    for ns in "$scanner_ns" "$devices_ns"; do
        ip netns add "$ns" || { echo "cannot create network namespaces here" >&2; exit 1; }
        in_ns "$ns" ip link set lo up
    done
    if [ "$variant" != routed ]; then
        ip link add s0 netns "$scanner_ns" type veth peer name d0 netns "$devices_ns"
        in_ns "$scanner_ns" ip addr add 10.77.0.1/20 dev s0
    else
        ip netns add "$router_ns"
        in_ns "$router_ns" ip link set lo up
        ip link add s0 netns "$scanner_ns" type veth peer name r0 netns "$router_ns"
        ip link add r1 netns "$router_ns" type veth peer name d0 netns "$devices_ns"
        in_ns "$scanner_ns" ip addr add 10.78.0.2/30 dev s0
        in_ns "$router_ns" ip addr add 10.78.0.1/30 dev r0
        in_ns "$router_ns" ip addr add 10.77.0.1/20 dev r1
        in_ns "$router_ns" ip link set r0 up
        in_ns "$router_ns" ip link set r1 up
        in_ns "$router_ns" sysctl -qw net.ipv4.ip_forward=1
    fi
    in_ns "$scanner_ns" ip link set s0 up
    [ "$variant" = routed ] && in_ns "$scanner_ns" ip route add "$block" via 10.78.0.1
    in_ns "$devices_ns" ip link set d0 up
    for i in $(seq 0 $((devices + other_servers - 1))); do
        in_ns "$devices_ns" ip addr add "$(device_address "$i")/20" dev d0
    done
    if [ "$variant" = crowded ]; then
        local n taken=" "
        for i in $(seq 0 $((devices + other_servers - 1))); do taken+="$(device_offset "$i") "; done
        for n in $(seq 2 2 4094); do
            [[ "$taken" == *" $n "* ]] || echo "address add 10.77.$((n / 256)).$((n % 256))/20 dev d0"
        done > crowd.batch
        in_ns "$devices_ns" ip -batch crowd.batch
    fi
    if [ "$variant" = routed ]; then
        # The router namespace shares this kernel's neighbour-table limit
        # (1024 entries for all namespaces together): resolving thousands of
        # empty addresses itself, it would drop packets for every namespace
        # here, the scanner's included. A site's router has a table of its
        # own; known entries for the whole block stand in for it.
        local mac
        mac=$(in_ns "$devices_ns" cat /sys/class/net/d0/address)
        for n in $(seq 2 4094); do
            echo "neigh replace 10.77.$((n / 256)).$((n % 256)) lladdr $mac dev r1 nud permanent"
        done > router.batch
        in_ns "$router_ns" ip -batch router.batch
    fi
    in_ns "$devices_ns" ip route add default via 10.77.0.1 2>/dev/null
    local kinds=(poe wifi vo1000)
    for i in $(seq 0 $((devices - 1))); do
        address=$(device_address "$i")
        in_ns "$devices_ns" "$bin/velquor-sim" --address "$address" --kind "${kinds[$((i % 3))]}" \
            --generation "$( [ $((i % 2)) = 0 ] && echo A || echo B)" --log /dev/null > "sim-$i.out" 2>&1 &
    done
    for i in $(seq "$devices" $((devices + other_servers - 1))); do
        in_ns "$devices_ns" "$bin/velquor-sim" --address "$(device_address "$i")" \
            --body "/index.html=<html><title>Printer</title></html>" --log /dev/null > "sim-$i.out" 2>&1 &
    done
    for i in $(seq 0 $((devices + other_servers - 1))); do
        for _ in $(seq 100); do grep -q listening "sim-$i.out" 2>/dev/null && break; sleep 0.1; done
    done
}

seconds_of() { # OUTPUT COMMAND...: runs it into OUTPUT, prints its wall time in seconds
    local start end output=$1
    shift
    start=$(date +%s.%N)
    "$@" > "$output" 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

# measure local|crowded|routed: sets fleet_median, nmap_seconds and
# nmap_found (hosts with port 80 open, of the 22).
measure() {
    local variant=$1 run times=() seconds found
    build_site "$variant"
    for run in $(seq "$runs"); do
        seconds=$(seconds_of "scan-$variant-$run.out" in_ns "$scanner_ns" "$bin/zudiruv-fleet" scan "$block")
        found=$(grep -c '^10\.77\.' "scan-$variant-$run.out")
        if [ "$found" -ne "$devices" ]; then
            echo "$variant run $run found $found devices, not $devices:" >&2
            cat "scan-$variant-$run.out" >&2
            exit 1
        fi
        grep -q "$other_servers other web servers" "scan-$variant-$run.out" ||
            { echo "$variant run $run did not count $other_servers other web servers" >&2; exit 1; }
        times+=("$seconds")
        printf '%s run %d: %s s, %d of %d devices found\n' "$variant" "$run" "$seconds" "$found" "$devices"
    done
    fleet_median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
    nmap_seconds= nmap_found=n/a
    if command -v nmap > /dev/null; then
        nmap_seconds=$(seconds_of "nmap-$variant.out" in_ns "$scanner_ns" nmap -n -sT -p 80 --open "$block")
        nmap_found=$(grep -c '^Nmap scan report for' "nmap-$variant.out")
        printf '%s nmap -n -sT -p 80 --open: %s s, %d of %d hosts with port 80 open found\n' "$variant" \
            "$nmap_seconds" "$nmap_found" $((devices + other_servers))
    fi
    remove_site
}

ratio() { [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }' || echo n/a; }

measure local
local_seconds=$fleet_median local_nmap=$nmap_seconds
measure crowded
crowded_seconds=$fleet_median crowded_nmap=$nmap_seconds crowded_nmap_found=$nmap_found
measure routed
routed_seconds=$fleet_median routed_nmap=$nmap_seconds
command -v nmap > /dev/null || echo "nmap is not installed: no comparison"
echo "fleet_scan_seconds_per_20_local=$local_seconds"
echo "fleet_scan_seconds_per_20_crowded=$crowded_seconds"
echo "fleet_scan_seconds_per_20_routed=$routed_seconds"
echo "fleet_scan_ratio_vs_nmap_local=$(ratio "$local_seconds" "$local_nmap")"
echo "fleet_scan_ratio_vs_nmap_crowded=$(ratio "$crowded_seconds" "$crowded_nmap")"
echo "fleet_scan_ratio_vs_nmap_routed=$(ratio "$routed_seconds" "$routed_nmap")"
echo "fleet_scan_nmap_hosts_crowded=$crowded_nmap_found of $((devices + other_servers))"
