#!/usr/bin/env bash
# zudiruv-fleet scanning a block across a veth link, as on a site's segment:
# the ARP sweep finds the one simulated device, with its real MAC address,
# and calls every other address empty without a connect to it. Behind the
# device's namespace, acting as a router, lies another segment: its device
# is found but never flashed from here.
source "$(dirname "$0")/../tools/linklib.sh"
make_link

in_device "$bin/velquor-sim" --address "$device_ip" --kind vo1000 --generation B --log "$work/sim.log" \
    > "$work/sim.out" 2>&1 &
background_pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/sim.out" && break; sleep 0.1; done

(cd "$work" && in_host "$bin/zudiruv-fleet" scan 198.18.0.0/24) > "$work/scan.out" 2> "$work/scan.err"
echo $? > "$work/scan.rc"
check "the device is found with the MAC address of its link" \
    eval '[ "$(cat "$work/scan.rc")" = 0 ] &&
          [ "$(grep "^$device_ip " "$work/scan.out" | tr -s " ")" = "$device_ip VO1000 B ${device_mac^^} E default password accepted" ]'
check "every other address of the block is counted empty" \
    grep -q "1 Velquor device, 0 other web servers, 255 without answer" "$work/scan.out"
check "the device got one connect from the sweep and the probe's requests, nothing more" \
    eval '[ "$(grep -c "\"event\":\"request\"" "$work/sim.log")" -le 7 ]'

# Without raw ARP every address of a /21 gets a connect, and each takes a
# neighbour entry for 3 s: more than the table holds. The connects wait for
# room, so the device at the block's top is not lost in the overflow.
in_host ip addr add 198.18.8.1/21 dev "$host_if"
in_device ip addr add 198.18.15.250/21 dev "$device_if"
in_device "$bin/velquor-sim" --address 198.18.15.250 --kind poe --generation A --log /dev/null \
    > "$work/sim2.out" 2>&1 &
background_pids+=($!)
wait_for_line "$work/sim2.out" listening
(cd "$work" && in_host setpriv --bounding-set=-net_raw,-net_admin "$bin/zudiruv-fleet" scan 198.18.8.0/21) \
    > "$work/scan.out" 2> "$work/scan.err"
check "without raw ARP: the device behind 2000 empty addresses is found, nothing counted twice" \
    grep -q "^Scanned 2048 of 2048 addresses .*: 1 Velquor device, 0 other web servers, 2047 without answer" "$work/scan.out"

# --- a routed segment
far_ns="${id}-far"
extra_namespaces+=("$far_ns")
far_ip=198.18.5.10
ip netns add "$far_ns" || skip "cannot create network namespaces here"
ip link add "${id}r" netns "$device_ns" type veth peer name "${id}f" netns "$far_ns"
in_device ip addr add 198.18.5.1/24 dev "${id}r"
in_device ip link set "${id}r" up
in_device sysctl -q -w net.ipv4.ip_forward=1
ip netns exec "$far_ns" ip addr add "$far_ip/24" dev "${id}f"
ip netns exec "$far_ns" ip link set "${id}f" up
ip netns exec "$far_ns" ip link set lo up
ip netns exec "$far_ns" ip route add default via 198.18.5.1
in_host ip route add 198.18.5.0/24 via "$device_ip"
ip netns exec "$far_ns" "$bin/velquor-sim" --address "$far_ip" --kind poe --generation B --log "$work/far.log" \
    > "$work/far.out" 2>&1 &
background_pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/far.out" && break; sleep 0.1; done
mkdir "$work/images"
{ head -c 3000 /dev/urandom; printf ODLE; } > "$work/images/vo1000-b.bin"
{ head -c 3000 /dev/urandom; printf ODLA; } > "$work/images/poe-b.bin"

(cd "$work" && in_host "$bin/zudiruv-fleet" update --images images --dry-run "$device_ip" "$far_ip") \
    > "$work/plan.out" 2> "$work/plan.err"
check "the plan: the device on the link is flashed, the routed one names its router and where to run" \
    eval 'grep -q "^$device_ip flash: VO1000 Type B (letter E) with vo1000-b.bin (canary)$" "$work/plan.out" &&
          grep -q "^$far_ip not on this machine.s segment: POE Clock Type B (letter A) is reached through the router $device_ip on $host_if; run the update on a host in the device.s own segment$" "$work/plan.out"'
(cd "$work" && in_host "$bin/zudiruv-fleet" update --images images --yes --report routed.json "$far_ip") \
    > "$work/routed.out" 2> "$work/routed.err"
echo $? > "$work/routed.rc"
check "the routed device is never tried: not-on-segment, exit 1, nothing sent to it" \
    eval '[ "$(cat "$work/routed.rc")" = 1 ] && grep -q "\"result\": \"not-on-segment\"" "$work/routed.json" &&
          ! grep -q "update_code" "$work/far.log" && [ ! -e "$work/zudiruv-history.jsonl" ]'

finish
