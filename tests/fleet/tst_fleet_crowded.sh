#!/usr/bin/env bash
# A crowded segment: a /20 in which 2047 addresses of a far namespace's
# interface answer ARP (the kernel answers for each, no web server behind
# them) and five simulated devices sit at scattered addresses, two in the
# block's top quarter. The ARP sweep hears every host, and zudiruv-fleet
# finds every device, with the kernel's neighbour table at its default.
source "$(dirname "$0")/../tools/linklib.sh"
make_link

block=198.18.16.0/20
devices=(198.18.16.77 198.18.21.5 198.18.25.199 198.18.28.13 198.18.31.253)
# Every other address of the block (even offsets 2..4094) answers ARP.
for n in $(seq 2 2 4094); do
    echo "address add 198.18.$((16 + n / 256)).$((n % 256))/16 dev $device_if"
done > "$work/addresses"
in_device ip -batch "$work/addresses" || skip "cannot add addresses here"
in_host ip addr add 198.18.16.1/16 dev "$host_if"
for address in "${devices[@]}"; do
    in_device ip addr add "$address/16" dev "$device_if"
    in_device "$bin/velquor-sim" --address "$address" --kind poe --generation B --log /dev/null \
        > "$work/sim-$address.out" 2>&1 &
    background_pids+=($!)
done
for address in "${devices[@]}"; do wait_for_line "$work/sim-$address.out" listening; done
answering=$((2047 + ${#devices[@]}))

in_host "$bin/arpping.exe" --sweep -w 1000 --port 80 198.18.16.0-198.18.31.255 > "$work/sweep.out" 2> "$work/sweep.err"
check "sweep: every one of the $answering hosts answers" \
    eval '[ "$(grep -c "^Reply from" "$work/sweep.out")" = "$answering" ]'
check "sweep: exactly the devices' web port is open, every other host's closed" \
    eval '[ "$(grep "^Port 80 open" "$work/sweep.out" | awk "{ print \$5 }" | sort -V | tr "\n" " ")" = "${devices[*]} " ] &&
          [ "$(grep -c "^Port 80 closed" "$work/sweep.out")" = 2047 ]'

# With cap_net_raw alone, as installed, the buffer cannot pass rmem_max:
# asked for the link's /16 it says so, and paces so that nobody is missed.
rmem_max=$(cat /proc/sys/net/core/rmem_max)
if [ "$rmem_max" -ge $((32 * 1024 * 1024)) ]; then
    skip_case "the buffer cannot be had" "net.core.rmem_max ($rmem_max) holds a /16's replies"
else
    in_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all,+net_raw --ambient-caps=+net_raw \
        "$bin/arpping.exe" --sweep -w 1000 198.18.0.0-198.18.255.255 > "$work/sweep.out" 2> "$work/sweep.err"
    check "sweep with cap_net_raw of a /16: stderr says the buffer is short and the requests are paced" \
        grep -q "the receive buffer on $host_if holds about [0-9]* replies, not the 6553[0-9] .* paced to fit" "$work/sweep.err"
    check "sweep with cap_net_raw of a /16: every host answers all the same" \
        eval '[ "$(grep -c "^Reply from" "$work/sweep.out")" = "$((answering + 1))" ]'
    (cd / && in_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all,+net_raw --ambient-caps=+net_raw \
        "$bin/zudiruv-fleet" scan 198.18.0.0/16) > "$work/scan16.out" 2> "$work/scan16.err"
    check "zudiruv-fleet passes the sweep's note on to its user" \
        eval 'grep -q "^zudiruv-fleet: arpping: the receive buffer on $host_if holds about" "$work/scan16.err" &&
              grep -q "5 Velquor devices" "$work/scan16.out"'
fi

(cd "$work" && in_host "$bin/zudiruv-fleet" scan "$block") > "$work/scan.out" 2> "$work/scan.err"
check "scan: every device found, with its MAC address" \
    eval '[ "$(grep "^198\.18\." "$work/scan.out" | awk "{ print \$1 \" \" \$5 }" | sort -V | tr "\n" " ")" = \
            "$(for a in "${devices[@]}"; do printf "%s %s " "$a" "${device_mac^^}"; done)" ]'
check "scan: every other address counted without answer" \
    grep -q "5 Velquor devices, 0 other web servers, 4091 without answer" "$work/scan.out"

finish
