#!/usr/bin/env bash
# A full flash over loopback, as in the demo: the simulated boot loader on
# 127.0.0.x, eflash.exe reaching it through lo, where there is no broadcast,
# and arpping.exe answering for a loopback address.
source "$(dirname "$0")/linklib.sh"
device_ip=127.0.0.$((RANDOM % 200 + 20))
device_mac=02:5a:00:00:01:02

if [ "$(id -u)" -ne 0 ] && [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start)" -gt 9 ]; then
    skip "UDP ports 9, 67, 68 and 69 need root"
fi

head -c 100000 /dev/urandom > "$work/flashfile.tmp"
# The device asks for a broadcast reply; on loopback that has to become a unicast.
timeout 60 "$bin/bootloader-sim" --mac "$device_mac" --address "$device_ip" --broadcast-flag \
    --magic-wait-ms 20000 --output "$work/received.bin" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
background_pids+=("$sim_pid")
(cd "$work" && timeout 60 "$bin/eflash.exe" -i "$device_ip" -m "$device_mac" ./flashfile.tmp --verbose) \
    > "$work/eflash.out" 2>&1
eflash_rc=$?
wait "$sim_pid"
sim_rc=$?

check "eflash reports success" test "$eflash_rc" -eq 0
check "the device received exactly the image" eval '[ "$sim_rc" -eq 0 ] && cmp -s "$work/flashfile.tmp" "$work/received.bin"'
check "the BOOTP request went to 127.0.0.1 and named it the server" test "$(summary "$work/sim.out" server_address)" = 127.0.0.1
check "no broadcast was attempted on lo" eval '! grep -q "broadcast" "$work/eflash.out"'
check "the last progress line says 100%" test "$(grep "Complete:" "$work/eflash.out" | tail -n 1)" = "% Complete: 100%"

"$bin/arpping.exe" -n 1 -w 3000 "$device_ip" > "$work/arp.out"
check "arpping answers a loopback address with 00:00:00:00:00:00" \
    test "$(awk '{ print $3 }' "$work/arp.out")" = 00:00:00:00:00:00

[ "$failures" -eq 0 ] || { echo "--- eflash output"; cat "$work/eflash.out"; echo "--- simulator"; cat "$work/sim.out" "$work/sim.err"; }
finish
