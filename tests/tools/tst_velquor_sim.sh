#!/usr/bin/env bash
# velquor-sim as clients other than the program see it. Usage:
#   tst_velquor_sim.sh http     raw HTTP on loopback: line ends, NUL bytes, idle connections
#   tst_velquor_sim.sh devices  two devices with boot loaders side by side in one namespace
source "$(dirname "$0")/linklib.sh"

sim_pids=()
stop_sims() {
    end_runs "${sim_pids[@]}"
    sim_pids=()
}

# start_sim NAME [IN_NAMESPACE_PREFIX...] -- OPTIONS...: starts velquor-sim,
# logging to $work/NAME.log, and waits until it listens.
start_sim() {
    local name=$1 prefix=()
    shift
    while [ "$1" != "--" ]; do prefix+=("$1"); shift; done
    shift
    "${prefix[@]}" timeout 120 "$bin/velquor-sim" --log "$work/$name.log" "$@" \
        > "$work/$name.out" 2> "$work/$name.err" < /dev/null &
    sim_pids+=($!)
    background_pids+=($!)
    local tries=0
    until grep -q "^listening on" "$work/$name.out" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || { cat "$work/$name.err"; return 1; }
        sleep 0.1
    done
}

# The port a started simulator listens on.
port_of() { sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/$1.out"; }

# Prefix for the HTTP clients below: empty, or a namespace to run them in.
client=()

# raw_request HOST PORT BYTES (printf format): the answer's status line, or
# nothing when no answer came within 5 s.
raw_request() {
    "${client[@]}" timeout 5 bash -c 'exec 3<>"/dev/tcp/$0/$1" || exit 1; printf "$2" >&3; head -n 1 <&3' \
        "$1" "$2" "$3" 2>/dev/null | tr -d '\r'
}

index_status() { raw_request "$1" 80 'GET /index.html HTTP/1.1\r\nConnection: close\r\n\r\n'; }
answers() { [ "$(index_status "$1")" = "HTTP/1.1 200 OK" ]; }
silent() { [ -z "$(index_status "$1")" ]; }

# wait_until SECONDS COMMAND...: true once COMMAND succeeds within SECONDS.
wait_until() {
    local limit=$(($1 * 10)) tries=0
    shift
    until "$@"; do
        tries=$((tries + 1))
        [ $tries -le $limit ] || return 1
        sleep 0.1
    done
}

# closed_within SECONDS HOST PORT [BYTES]: sends BYTES and then nothing; true
# when the device closes the connection before SECONDS have passed.
closed_within() {
    timeout "$1" bash -c 'exec 3<>"/dev/tcp/$0/$1" || exit 1; printf "$2" >&3; cat <&3 > /dev/null' "$2" "$3" "${4:-}" 2>/dev/null
}

http() {
    local host=127.0.0.$((RANDOM % 200 + 20)) port
    start_sim web -- --address "$host" --port 0 --idle-timeout-ms 700 --hang /hung.html || skip "velquor-sim did not start"
    port=$(port_of web)

    check "a request with bare LF line ends is answered" \
        test "$(raw_request "$host" "$port" 'GET /index.html HTTP/1.1\nHost: device\nConnection: close\n\n')" = "HTTP/1.1 200 OK"
    check "CRLF line ends still work" \
        test "$(raw_request "$host" "$port" 'GET /index.html HTTP/1.1\r\nConnection: close\r\n\r\n')" = "HTTP/1.1 200 OK"
    check "a path holding a NUL byte gets 400" \
        test "$(raw_request "$host" "$port" 'GET /index.html\0.txt HTTP/1.1\r\nConnection: close\r\n\r\n')" = "HTTP/1.1 400 Bad Request"
    check "a Content-Length with a sign is refused with 400" \
        test "$(raw_request "$host" "$port" 'POST /etc/update_code HTTP/1.1\r\nContent-Length: +2\r\n\r\nab')" = "HTTP/1.1 400 Bad Request"
    check "a head without a request line is refused with 400" \
        test "$(raw_request "$host" "$port" '\n')" = "HTTP/1.1 400 Bad Request"
    check "a connection on which nothing arrives is closed" closed_within 4 "$host" "$port"
    check "a connection holding half a request is closed" closed_within 4 "$host" "$port" 'GET /index.html HTTP/1.1\r\n'
    check "a kept-alive connection idle after its answer is closed" \
        closed_within 4 "$host" "$port" 'GET /index.html HTTP/1.1\r\n\r\n'
    # Waiting for the device's own answer is not idling.
    check "a connection waiting for an answer stays open" eval '! closed_within 3 "$host" "$port" "GET /hung.html HTTP/1.1\r\n\r\n"'
    stop_sims
}

# flash_device ADDRESS MAC IMAGE: eflash.exe from the flasher's namespace;
# leaves its output in $work/eflash.out and its exit code in $work/eflash.rc.
flash_device() {
    (cd "$(dirname "$3")" && in_host timeout 60 "$bin/eflash.exe" -i "$1" -m "$2" "./$(basename "$3")" --verbose) \
        > "$work/eflash.out" 2>&1
    echo $? > "$work/eflash.rc"
}

logged() { grep -q "\"event\":\"$2\"" "$work/$1.log"; }
flashed() { [ "$(cat "$work/eflash.rc")" = 0 ] && cmp -s "$1" "$2"; }

devices() {
    make_fleet 2
    client=(ip netns exec "$host_ns")
    local a b mac_a mac_b flasher
    a=$(device_address 1) b=$(device_address 2) mac_a=$(device_mac 1) mac_b=$(device_mac 2)
    for name in a b; do
        local address=$a poor_link=()
        # B's boot loader sits behind a poor link, the same every run.
        [ $name = b ] && address=$b poor_link=(--boot-loss-in 10 --boot-loss-out 10 --boot-duplicate-out 10 --boot-link-seed 7)
        start_sim "$name" ip netns exec "$device_ns" -- --address "$address" --boot-loader \
            --image-out "$work/$name.bin" --block-write-ms 20 --reboot-seconds 2 "${poor_link[@]}" \
            || skip "velquor-sim with its boot loader did not start"
    done
    check "both devices run side by side, their boot loaders on the same ports" \
        eval 'answers $a && answers $b && grep -q "for $mac_a" "$work/a.out" && grep -q "for $mac_b" "$work/b.out"'

    make_image "$work/image-a.bin" 60000
    make_image "$work/image-b.bin" 50000
    flash_device "$a" "$mac_a" "$work/image-a.bin" &
    flasher=$!
    check "the magic packet takes device A into its boot loader" wait_until 15 logged a offline
    check "A's web interface does not answer while its boot loader runs" silent "$a"
    check "B's web interface answers meanwhile" answers "$b"
    wait "$flasher"
    # The device keeps the image once its session is over, after the dally.
    wait_until 10 logged a flash
    check "A received exactly its image" flashed "$work/image-a.bin" "$work/a.bin"
    check "A still reboots right after the flash" silent "$a"
    check "B never left its firmware" eval '! logged b offline'
    check "A answers again after its reboot" wait_until 15 answers "$a"
    check "A logged coming back online" logged a online

    flash_device "$b" "$mac_b" "$work/image-b.bin"
    wait_until 10 logged b flash
    check "B received exactly its image" flashed "$work/image-b.bin" "$work/b.bin"
    check "A kept its own image" cmp -s "$work/image-a.bin" "$work/a.bin"
    check "B's lost packets were made up for by retransmissions" \
        eval '! grep -q "(0 retransmissions)" "$work/eflash.out" && grep -q "retransmissions)" "$work/eflash.out"'
    # 98 blocks, each written for 20 ms before its ACK: a pace, not a speed goal.
    check "B's boot loader wrote each block before acknowledging it" \
        awk '/transferred in/ { for (i = 1; i < NF; ++i) if ($i == "in") seconds = $(i + 1) }
             END { exit !(seconds >= 98 * 0.020) }' "$work/eflash.out"
    stop_sims
}

case "${1:-}" in
http) http ;;
devices) devices ;;
*) echo "usage: $0 http|devices" >&2; exit 2 ;;
esac
finish
