#!/usr/bin/env bash
# eflash.exe against the simulated boot loader across a veth link between two
# namespaces. Usage: tst_eflash_link.sh sizes|faults|failures
source "$(dirname "$0")/linklib.sh"
make_link

eflash_rc() { cat "$work/eflash.rc"; }
sim_rc() { cat "$work/sim.rc"; }
flashed() { [ "$(eflash_rc)" = 0 ] && [ "$(sim_rc)" = 0 ] && cmp -s "$1" "$work/received.bin"; }
failed_with() {
    [ "$(eflash_rc)" = 1 ] && grep -q "^ERROR.*$1" "$work/eflash.out" && return
    echo "  eflash.exe ended with $(eflash_rc), its last lines:"
    tail -n 3 "$work/eflash.out" | sed 's/^/    /'
    return 1
}
sim_says() { [ "$(summary "$work/sim.out" "$1")" = "$2" ]; }
# At least COUNT: a busy machine may be slower than the boot loader's own
# retry, which then asks once more.
sim_says_at_least() { [ "$(summary "$work/sim.out" "$1")" -ge "$2" ]; }
# As many blocks came twice as eflash.exe says it resent, or fewer; LOST
# (default 0) of its resends replaced blocks the link lost, which came once.
only_resent_blocks_came_twice() {
    local twice resent
    twice=$(summary "$work/sim.out" duplicate_blocks | tr , '\n' | grep -c .)
    resent=$(sed -n 's/.*(\([0-9]*\) retransmissions)$/\1/p' "$work/eflash.out")
    [ -n "$resent" ] && [ "$twice" -le $((resent - ${1:-0})) ] || { echo "$twice blocks came twice, ${resent:-no} retransmissions"; return 1; }
}
no_complete_marker_in_errors() { ! grep "ERROR" "$work/eflash.out" | grep -q "Complete:"; }

sizes() {
    local size image
    for size in 0 511 512 513 3145728; do
        image="$work/image-$size.bin"
        make_image "$image" "$size"
        flash_over_link "$image"
        check "$size bytes: the device received exactly the image" flashed "$image"
        check "$size bytes: progress parses and rises to 100" progress_ok "$work/eflash.out"
        # A size that is a multiple of 512 ends with an empty block.
        check "$size bytes: $((size / 512 + 1)) blocks, the last of $((size % 512)) bytes" \
            eval 'sim_says blocks $((size / 512 + 1)) && sim_says last_block_bytes $((size % 512))'
    done
    check "BOOTP gave the device its address" sim_says assigned_address "$device_ip"
    check "BOOTP named this host's address on the link as server" sim_says server_address "$host_ip"
    check "BOOTP named the image file" sim_says boot_file "image-3145728.bin"
    check "one magic packet was enough" sim_says magic_packets 1

    mkdir "$work/Firmware Größe"
    image="$work/Firmware Größe/bild-ä.bin"
    make_image "$image" 1500
    flash_over_link "$image"
    check "an image with non-ASCII letters in its name and folder is flashed" flashed "$image"

    image="$work/variant.bin"
    make_image "$image" 2000
    flash_over_link "$image" --sname STELLARIS --broadcast-flag
    check "server name in capitals and a broadcast reply" flashed "$image"
    (cd "$work" && in_host "${eflash[@]}" -i "$device_ip" -m "${device_mac//:/-}" ./variant.bin \
        --verbose > "$work/eflash.out" 2>&1 & echo $! > "$work/eflash.pid")
    in_device timeout 60 "$bin/bootloader-sim" --mac "$device_mac" --address "$device_ip" \
        --output "$work/received.bin" > "$work/sim.out"
    echo $? > "$work/sim.rc"
    wait_for_pid() { local tries=0; while kill -0 "$1" 2>/dev/null && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done; }
    wait_for_pid "$(cat "$work/eflash.pid")"
    check "a MAC address with \"-\" separators, the device starting after the flasher" \
        eval '[ "$(sim_rc)" = 0 ] && cmp -s "$image" "$work/received.bin" && grep -q "Complete: 100%" "$work/eflash.out"'
}

faults() {
    local image="$work/faults.bin"
    make_image "$image" 5000

    flash_over_link "$image" --ignore-magic 2 --ignore-bootp-replies 1 --drop-every 4
    check "lost magic packets, BOOTP reply and data blocks: image intact" flashed "$image"
    check "magic packets repeat until the boot loader answers" sim_says_at_least magic_packets 3
    check "the lost BOOTP reply is answered again" sim_says_at_least bootp_requests 2
    check "lost blocks 4 and 8 were each sent once more" \
        eval '! grep -q "([01] retransmissions)" "$work/eflash.out" && only_resent_blocks_came_twice 2'
    check "progress still parses" progress_ok "$work/eflash.out"

    make_image "$image" 20000
    # A poor link each way: lost, doubled and reordered packets, the same
    # every run.
    make_image "$image" 100000
    flash_over_link "$image" --loss-in 10 --loss-out 10 --duplicate-in 10 --duplicate-out 10 \
        --delay-in-ms 2 --jitter-in-ms 2 --delay-out-ms 2 --jitter-out-ms 2 --link-seed 11
    check "a link that loses, doubles and reorders packets: image intact" flashed "$image"
    check "a link that loses, doubles and reorders packets: what was lost was resent" \
        eval '[ -n "$(summary "$work/sim.out" duplicate_blocks)" ] && ! grep -q "(0 retransmissions)" "$work/eflash.out"'

    make_image "$image" 20000
    flash_over_link "$image" --duplicate-acks
    check "duplicated ACKs: image intact" flashed "$image"
    # A server that answers every ACK would send each later block twice. A
    # busy machine may still fire the timer now and then: each such copy is
    # counted as a retransmission, and only those may come twice.
    check "duplicated ACKs: no block sent twice but those the timer resent" only_resent_blocks_came_twice

    make_image "$image" 3000
    flash_over_link "$image" --slow-ack-every 3 --slow-ack-ms 1500
    check "ACKs slower than the retransmission: image intact" flashed "$image"
    # Resent after a timeout that follows the round trip, so maybe more than
    # once; the late ACK of a resent block must not bring the next one twice.
    # A busy machine may fire the timer for a block answered in time too:
    # such copies are counted as retransmissions, and only those may come again.
    check "the blocks whose ACK was slow came again, and nothing the timer did not resend" \
        eval '[ "$(summary "$work/sim.out" duplicate_blocks | tr , "\n" | grep -x "[36]" | sort -u | paste -sd,)" = 3,6 ] &&
              only_resent_blocks_came_twice'

    # A boot loader has no address yet and cannot answer ARP; eflash must
    # tell its own neighbour table where the device is.
    make_image "$image" 4000
    if ! wine_cannot "a device that never answers ARP" "it needs the ARP entry, and Wine's CreateIpNetEntry2 ends the process"; then
        in_device sysctl -q -w "net.ipv4.conf.$device_if.arp_ignore=8"
        in_host ip neigh flush dev "$host_if"
        flash_over_link "$image" --boot-delay-ms 700
        check "a device that does not answer ARP is flashed all the same" flashed "$image"
        check "with the right to add the ARP entry the BOOTP reply is unicast" \
            grep -q "BOOTP reply sent to $device_ip:" "$work/eflash.out"
        in_device sysctl -q -w "net.ipv4.conf.$device_if.arp_ignore=0"
    fi

    # The installed flasher may bind port 67 but not change the ARP table; a
    # boot loader answers ARP only once BOOTP gave it its address, and has
    # forgotten every neighbour when it starts. Under Wine even root cannot
    # add the entry.
    local refusal="needs root or the cap_net_admin capability"
    eflash_runner=("${as_unprivileged[@]}")
    if [ -n "$under_wine" ]; then
        skip_case "unprivileged runs" "a Wine prefix serves only its owner"
        refusal="Wine cannot add ARP entries"
        eflash_runner=()
    fi
    in_host ip neigh flush dev "$host_if"
    in_device ip neigh flush dev "$device_if"
    before_flasher=until_device_arp_silent
    flash_over_link "$image" --arp-once-addressed
    eflash_runner=()
    before_flasher=:
    check "without the right to add ARP entries a device that has no address yet is flashed" flashed "$image"
    check "the BOOTP reply went out as broadcast, saying why" eval \
        'grep -q "cannot add the device to the ARP table ($refusal); sending the BOOTP reply as broadcast" "$work/eflash.out" \
            && grep -q "BOOTP reply sent to 255.255.255.255:" "$work/eflash.out"'
    check "the boot loader answers ARP again once it has its address" \
        test "$(device_arp_ignore)" = 0
}

failures_() {
    local image="$work/failing.bin" elapsed
    make_image "$image" 8000

    flash_over_link "$image" --error-at-block 3 --error-message "Flash write failed"
    check "TFTP error from the device: ERROR line with its message" failed_with "Flash write failed"
    check "TFTP error from the device: no progress line claims 100" eval '! grep -q "Complete: 100%" "$work/eflash.out"'
    check "the device did send its error" eval '[ "$(sim_rc)" = 3 ]'

    flash_over_link "$image" --silent-after-block 2
    check "device falls silent mid-transfer: ERROR line" failed_with "stopped answering"

    # The device listens long enough for a flasher slow to start (Wine on a
    # busy machine) to reach it more than once. The flasher's 2 s wait is
    # measured on top of what merely starting it takes here and now.
    local startup begin=$SECONDS
    in_host "${eflash[@]}" --help > /dev/null 2>&1
    startup=$((SECONDS - begin))
    flash_over_link "$image" --mac 02:5a:00:00:00:77 --magic-wait-ms 20000 -- --bootloader-wait-ms 2000
    elapsed=$(cat "$work/eflash.seconds")
    check "magic packets for another MAC are ignored" eval '[ "$(summary "$work/sim.out" foreign_packets)" -ge 2 ] && sim_says magic_packets 0'
    check "no answer from the boot loader: ERROR line" failed_with "no answer from the boot loader"
    check "no answer from the boot loader: gave up within the limit ($elapsed s, $startup s to start)" \
        test "$elapsed" -le $((startup + 8))

    flash_over_link "$image" --sname other --boot-attempts 3 -- --bootloader-wait-ms 3000
    check "a BOOTP request for another server is not answered" \
        eval 'failed_with "no answer from the boot loader" && sim_says reason "no BOOTP reply after 3 requests"'
    check "error lines never carry the progress marker" no_complete_marker_in_errors

    # A second BOOTP server on the link answers the boot loader, which then
    # never asks us for the image; the flasher, as root, holds no
    # capability by the time it sends its first magic packet. The boot
    # loader's wait leaves a busy machine time to start perl.
    local rogue_ip=198.18.0.7
    in_device ip addr add "$rogue_ip/24" dev "$device_if"
    (cd "$work" && exec ip netns exec "$host_ns" "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./failing.bin \
        --bootloader-wait-ms 6000 --verbose > "$work/eflash.out" 2>&1) &
    local flasher=$!
    background_pids+=("$flasher")
    wait_for_line "$work/eflash.out" "Sending magic packets"
    wine_cannot "capabilities" "Wine's root is Linux's, which a Windows program cannot drop" \
        || check "as root: no capability left once the ports are open" capabilities_dropped "$flasher"
    in_device perl -MSocket -e '
        my ($device, $rogue, $broadcast) = map { inet_aton($_) } @ARGV;
        my $request = pack("C4 N n n", 1, 1, 6, 0, 0x5a5a, 0, 0) . ("\0" x 16) . pack("H12", "025a00000002")
            . ("\0" x 10) . pack("a64", "stellaris") . ("\0" x 192);
        socket(my $client, PF_INET, SOCK_DGRAM, 0) or die;
        setsockopt($client, SOL_SOCKET, SO_BROADCAST, 1);
        bind($client, pack_sockaddr_in(68, $device)) or die;
        send($client, $request, 0, pack_sockaddr_in(67, $broadcast)) or die;
        my $reply = $request;
        substr($reply, 0, 1) = chr(2);
        substr($reply, 16, 8) = $device . $rogue;
        socket(my $server, PF_INET, SOCK_DGRAM, 0) or die;
        setsockopt($server, SOL_SOCKET, SO_BROADCAST, 1);
        bind($server, pack_sockaddr_in(67, $rogue)) or die;
        send($server, $reply, 0, pack_sockaddr_in(68, $broadcast)) or die;' "$device_ip" "$rogue_ip" 198.18.0.255
    wait "$flasher"
    echo $? > "$work/eflash.rc"
    check "another BOOTP server answered first: the ERROR line names it as the likely cause" \
        failed_with "did not ask for the image within 6 s; another BOOTP or DHCP server on the link, $rogue_ip, answered it too"
    in_device ip addr del "$rogue_ip/24" dev "$device_if"

    (cd "$work" && in_host "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./missing.bin --verbose) > "$work/eflash.out"
    echo $? > "$work/eflash.rc"
    check "missing image: ERROR line" failed_with "cannot read the image ./missing.bin"

    truncate -s 33553920 "$work/huge.bin"
    (cd "$work" && in_host "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./huge.bin) > "$work/eflash.out"
    echo $? > "$work/eflash.rc"
    check "an image beyond 65535 blocks is refused" failed_with "TFTP can carry at most 33553919"

    # Images that cannot be flashed are refused before a byte is read: with
    # too little memory for it, a 2 GiB image must not end in a crash; a
    # FIFO must not hold the run waiting for a writer. Wine alone reserves
    # more address space than that limit.
    local memory_limit=400000
    [ -n "$under_wine" ] && memory_limit=unlimited
    refused_image() { # NAME, then what the ERROR line says
        (cd "$work" && ulimit -v "$memory_limit" && in_host timeout 20 "${eflash[@]}" -i "$device_ip" -m "$device_mac" "./$1") \
            > "$work/eflash.out" 2>&1
        echo $? > "$work/eflash.rc"
        failed_with "cannot read the image ./$1: $2"
    }
    truncate -s 2G "$work/2gib.bin"
    check "a 2 GiB image: ERROR line, exit 1" refused_image 2gib.bin "it has 2147483648 bytes"
    mkdir "$work/folder.bin"
    check "a directory as image: ERROR line, exit 1" refused_image folder.bin "it is a directory"
    mkfifo "$work/fifo.bin"
    check "a FIFO as image: ERROR line, exit 1" refused_image fifo.bin "it is not a regular file"
    ln -s "$work/gone.bin" "$work/vanished.bin"
    # Windows names the error by its own words and code 2.
    check "an image that vanished: ERROR line, exit 1" refused_image vanished.bin \
        "$([ -n "$under_wine" ] && echo ".* (2)$" || echo "No such file or directory")"

    for address in 0.0.0.0 255.255.255.255 224.0.0.9; do
        (cd "$work" && in_host "${eflash[@]}" -i "$address" -m "$device_mac" ./failing.bin) > "$work/eflash.out" 2>/dev/null
        echo $? > "$work/eflash.rc"
        check "$address names no device: refused, exit 2" \
            eval '[ "$(eflash_rc)" = 2 ] && grep -q "^ERROR: bad command line: .*not a device address" "$work/eflash.out"'
    done

    # A second flasher while one runs must not share its ports. exec, so
    # that $! is the timeout that passes our kill on to the flasher.
    (cd "$work" && exec ip netns exec "$host_ns" timeout 20 "${eflash[@]}" -i "$device_ip" -m "$device_mac" \
        ./failing.bin --bootloader-wait-ms 8000 --verbose > "$work/first.out" 2>&1) &
    local first=$!
    background_pids+=("$first")
    local tries=0
    while ! grep -q "Sending magic packets" "$work/first.out" 2>/dev/null && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    (cd "$work" && in_host timeout 20 "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./failing.bin) > "$work/eflash.out"
    echo $? > "$work/eflash.rc"
    check "a second flasher: ERROR line, UDP port 67 is already in use" failed_with "UDP port 67 is already in use"
    check "the first flasher is still waiting for its device" eval 'kill -0 '"$first"' && ! grep -q ERROR "$work/first.out"'
    kill "$first" 2>/dev/null
    wait "$first" 2>/dev/null

    (cd "$work" && in_host "${eflash[@]}" -i "$device_ip" -m 02:5a:00:00:00 ./failing.bin) > "$work/eflash.out" 2> "$work/eflash.err"
    echo $? > "$work/eflash.rc"
    check "a bad MAC address: usage on stderr, ERROR on stdout, exit 2" \
        eval '[ "$(eflash_rc)" = 2 ] && grep -q "^usage:" "$work/eflash.err" && grep -q "^ERROR: bad command line" "$work/eflash.out"'

    # Another program holding the TFTP port, without SO_REUSEADDR.
    # Started without the shell function, so that $! is perl itself.
    ip netns exec "$host_ns" perl -MSocket -e 'socket(my $s, PF_INET, SOCK_DGRAM, 0) or die;
        bind($s, pack_sockaddr_in(69, inet_aton($ARGV[0]))) or die; sleep 30' "$host_ip" > /dev/null 2>&1 &
    local holder=$!
    background_pids+=("$holder")
    for _ in $(seq 1 100); do [ -n "$(in_host ss -Hlun "sport = :69")" ] && break; sleep 0.1; done
    (cd "$work" && in_host "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./failing.bin) > "$work/eflash.out"
    echo $? > "$work/eflash.rc"
    kill "$holder"
    check "TFTP port taken by another program: ERROR line" failed_with "UDP port 69 is already in use"

    wine_cannot "unprivileged runs" "a Wine prefix serves only its owner, and Windows asks no rights for port 67" \
        && return
    (cd "$work" && in_host setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
        "${eflash[@]}" -i "$device_ip" -m "$device_mac" ./failing.bin) > "$work/eflash.out"
    echo $? > "$work/eflash.rc"
    check "without privileges: ERROR line saying what binding port 67 needs" \
        failed_with "cannot bind UDP port 67: needs root or the cap_net_bind_service capability"
}

case "${1:-}" in
sizes) sizes ;;
faults) faults ;;
failures) failures_ ;;
*) echo "usage: $0 sizes|faults|failures" >&2; exit 2 ;;
esac
finish
