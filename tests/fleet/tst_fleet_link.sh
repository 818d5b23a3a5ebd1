#!/usr/bin/env bash
# zudiruv-fleet scanning a block across a veth link, as on a site's segment:
# the ARP sweep finds the one simulated device, with its real MAC address,
# and calls every other address empty without a connect to it.
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

finish
