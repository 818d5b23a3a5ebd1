#!/usr/bin/env bash
# velquor-sim as clients other than the program see it. Usage:
#   tst_velquor_sim.sh http     raw HTTP on loopback: line ends, NUL bytes, idle connections
#   tst_velquor_sim.sh devices  two devices with boot loaders side by side in one namespace
source "$(dirname "$0")/linklib.sh"

sim_pids=()
stop_sims() {
    local pid
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
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

# raw_request HOST PORT BYTES (printf format): the answer's status line, or
# nothing when no answer came within 5 s.
raw_request() {
    timeout 5 bash -c 'exec 3<>"/dev/tcp/$0/$1" || exit 1; printf "$2" >&3; head -n 1 <&3' "$1" "$2" "$3" 2>/dev/null | tr -d '\r'
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
    check "a request cut short by an empty line only is refused with 400" \
        test "$(raw_request "$host" "$port" '\n')" = "HTTP/1.1 400 Bad Request"
    check "a connection on which nothing arrives is closed" closed_within 4 "$host" "$port"
    check "a connection holding half a request is closed" closed_within 4 "$host" "$port" 'GET /index.html HTTP/1.1\r\n'
    check "a kept-alive connection idle after its answer is closed" \
        closed_within 4 "$host" "$port" 'GET /index.html HTTP/1.1\r\n\r\n'
    # Waiting for the device's own answer is not idling.
    check "a connection waiting for an answer stays open" eval '! closed_within 3 "$host" "$port" "GET /hung.html HTTP/1.1\r\n\r\n"'
    stop_sims
}

case "${1:-}" in
http) http ;;
*) echo "usage: $0 http|devices" >&2; exit 2 ;;
esac
finish
