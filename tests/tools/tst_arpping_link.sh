#!/usr/bin/env bash
# arpping.exe across a veth link between two namespaces: the peer's MAC
# address, "No response" for an unused address, both by raw ARP and by the
# kernel's neighbour table, local addresses, the sweep of a range, and the
# command line.
source "$(dirname "$0")/linklib.sh"
make_link

arp() { in_host "${arpping[@]}" "$@" > "$work/arp.out" 2> "$work/arp.err"; echo $? > "$work/arp.rc"; }
rc() { cat "$work/arp.rc"; }
third_field() { awk -F' ' 'NR == 1 { print tolower($3) }' "$work/arp.out"; }
field_count() { awk -F' ' 'NR == 1 { print NF }' "$work/arp.out"; }
answered_with() { [ "$(rc)" = 0 ] && [ "$(third_field)" = "$1" ] && [ "$(field_count)" -ge 4 ]; }
no_response() { [ "$(rc)" != 0 ] && grep -q "No response" "$work/arp.out" && [ "$(wc -l < "$work/arp.out")" -eq "$1" ]; }

for method in raw neighbour; do
    export ARPPING_METHOD=$method
    in_host ip neigh flush dev "$host_if"
    arp -n 1 -w 3000 "$device_ip"
    check "$method: the peer answers with its MAC address as third field" answered_with "$device_mac"
    if [ "$method" = raw ] && [ -n "$under_wine" ]; then
        skip_case "SendARP" "Wine has none (it returns 50)"
        check "without SendARP: answered through the neighbour table, saying why" \
            grep -q "SendARP is not available: .*(50); using the neighbour table instead" "$work/arp.err"
    fi
    arp -n 1 -w 1000 "$unused_ip"
    check "$method: an unused address gives one No response line" no_response 1
done
unset ARPPING_METHOD

arp -n 2 -w 300 "$unused_ip"
check "every probe of -n 2 reports No response" no_response 2

arp -n 1 -w 3000 "$host_ip"
check "an address of this host answers with its interface's MAC address" answered_with "$host_mac"
arp -n 1 -w 3000 127.0.0.1
check "loopback answers with 00:00:00:00:00:00" answered_with 00:00:00:00:00:00

# Without privileges the packet socket is refused: say so, then use the
# neighbour table.
if ! wine_cannot "unprivileged runs" "a Wine prefix serves only its owner, and Windows asks no rights for SendARP"; then
    in_host ip neigh flush dev "$host_if"
    in_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
        "${arpping[@]}" -n 1 -w 3000 "$device_ip" > "$work/arp.out" 2> "$work/arp.err"
    echo $? > "$work/arp.rc"
    check "unprivileged: still answered through the neighbour table" answered_with "$device_mac"
    check "unprivileged: stderr says what raw ARP needs" \
        grep -q "cannot open a raw ARP socket: needs root or the cap_net_raw capability" "$work/arp.err"
fi

# With cap_net_raw, as the package gives it: raw ARP, and every capability
# gone once the packet socket is open, before the first reply is read.
if ! wine_cannot "cap_net_raw" "Linux capabilities mean nothing to a Windows program"; then
    in_host ip neigh flush dev "$host_if"
    (exec ip netns exec "$host_ns" setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all,+net_raw \
        --ambient-caps=+net_raw "${arpping[@]}" -n 3 -w 400 "$unused_ip" > "$work/arp.out" 2> "$work/arp.err") &
    arp_pid=$!
    background_pids+=("$arp_pid")
    wait_for_line "$work/arp.out" "No response"
    check "with cap_net_raw: no capability left while it probes" capabilities_dropped "$arp_pid"
    wait "$arp_pid"
    check "with cap_net_raw: it probed by raw ARP all the same" eval '! grep -q "neighbour table" "$work/arp.err"'
fi

if [ -n "$under_wine" ]; then
    # Windows has no raw ARP: the sweep is refused, saying so.
    in_host "${arpping[@]}" --sweep -w 500 198.18.0.0-198.18.0.255 > "$work/sweep.out" 2> "$work/sweep.err"
    echo $? > "$work/arp.rc"
    check "sweep on Windows: exit 1, nothing swept, stderr says why" \
        eval '[ "$(rc)" = 1 ] && [ ! -s "$work/sweep.out" ] && grep -q "ARP sweep needs raw ARP, which Windows does not offer" "$work/sweep.err"'
else
    # --sweep: every address of the link's block at once; only the peer answers,
    # and only addresses on the link are asked.
    in_host "$bin/arpping.exe" --sweep -w 500 198.18.0.0-198.18.0.255 127.0.0.5 10.99.0.1 \
        > "$work/sweep.out" 2> "$work/sweep.err"
    echo $? > "$work/arp.rc"
    check "sweep: exit 0, exactly the peer answers, with its MAC address" \
        eval '[ "$(rc)" = 0 ] && [ "$(grep -c "^Reply" "$work/sweep.out")" = 1 ] &&
              grep -qi "^Reply from $device_mac for $device_ip on $host_if$" "$work/sweep.out"'
    check "sweep: the link's addresses are asked, not this host's own, its broadcast, loopback or unrouted ones" \
        eval '[ "$(grep "^Swept" "$work/sweep.out" | tr "\n" " ")" = "Swept 198.18.0.0-198.18.0.0 on $host_if Swept 198.18.0.2-198.18.0.254 on $host_if " ]'
    # --port: a host that answered ARP is asked for port 80 without a
    # neighbour entry; open, closed (a second address of the peer) and,
    # with the peer's port-80 answers dropped, silent.
    in_device ip addr add 198.18.0.3/24 dev "$device_if"
    in_device "$bin/velquor-sim" --address "$device_ip" --log /dev/null > "$work/sim.out" 2>&1 &
    background_pids+=($!)
    wait_for_line "$work/sim.out" listening
    in_host ip neigh flush dev "$host_if"
    in_host "$bin/arpping.exe" --sweep -w 300 --port 80 198.18.0.2-198.18.0.3 > "$work/sweep.out" 2> "$work/sweep.err"
    check "sweep --port: the web server's port is open, the other address's closed" \
        eval '[ "$(grep "^Port" "$work/sweep.out" | sort | tr "\n" " ")" = "Port 80 closed at 198.18.0.3 on $host_if Port 80 open at $device_ip on $host_if " ]'
    check "sweep --port: asking took no neighbour entry for the closed address" \
        eval '! in_host ip neigh show 198.18.0.3 | grep -q .'
    in_device ip rule add ipproto tcp sport 80 blackhole
    in_host "$bin/arpping.exe" --sweep -w 300 --port 80 198.18.0.2-198.18.0.3 > "$work/sweep.out" 2> "$work/sweep.err"
    check "sweep --port: a host that answers ARP but not on the port is silent" \
        eval '[ "$(grep -c "^Port 80 silent at" "$work/sweep.out")" = 2 ] && [ "$(grep -c "^Reply" "$work/sweep.out")" = 2 ]'
    in_device ip rule del ipproto tcp sport 80 blackhole

    # With cap_net_raw, as the package gives it: no capability left once the
    # sockets are open, before the first reply is read.
    (exec ip netns exec "$host_ns" setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all,+net_raw \
        --ambient-caps=+net_raw "$bin/arpping.exe" --sweep -w 3000 --port 80 198.18.0.0-198.18.0.255 \
        > "$work/sweep.out" 2> "$work/sweep.err") &
    arp_pid=$!
    background_pids+=("$arp_pid")
    wait_for_line "$work/sweep.out" "^Reply"
    check "sweep with cap_net_raw: no capability left while it reads replies" capabilities_dropped "$arp_pid"
    wait "$arp_pid"
    echo $? > "$work/arp.rc"
    check "sweep with cap_net_raw: exit 0, both addresses of the peer answered" \
        eval '[ "$(rc)" = 0 ] && [ "$(grep -c "^Reply" "$work/sweep.out")" = 2 ]'

    in_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
        "$bin/arpping.exe" --sweep -w 300 198.18.0.0-198.18.0.255 > "$work/sweep.out" 2> "$work/sweep.err"
    echo $? > "$work/arp.rc"
    check "sweep unprivileged: exit 1, nothing swept, stderr says what it needs" \
        eval '[ "$(rc)" = 1 ] && [ ! -s "$work/sweep.out" ] && grep -q "needs root or the cap_net_raw capability" "$work/sweep.err"'
fi

# The program reads only standard output: a refused command line still
# ends with one "No response" line there.
bad_command_line() {
    [ "$(rc)" = 2 ] && grep -q "^usage:" "$work/arp.err" && [ "$(wc -l < "$work/arp.out")" -eq 1 ] \
        && grep -q "^No response" "$work/arp.out"
}
arp -n 1 "$device_ip"
check "missing -w is refused with a usage line" bad_command_line
arp -n 0 -w 100 "$device_ip"
check "a count of 0 is refused" bad_command_line
arp -n 1 -w 100 198.18.0
check "an incomplete address is refused" bad_command_line
for address in 0.0.0.0 255.255.255.255 224.0.0.1 239.255.255.250 localhost 198.18.0.02 "198.18.0.2
Reply from 02:5a:00:00:00:02 for x"; do
    arp -n 1 -w 100 "$address"
    check "\"${address//$'\n'/\\n}\" names no device: No response, usage, exit 2" bad_command_line
done
arp -n 1 -w 300 198.18.0.255
check "the link's broadcast address gives No response" no_response 1

finish
