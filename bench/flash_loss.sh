#!/usr/bin/env bash
# eflash.exe on a poor link: a 1 MiB image to the simulated boot loader over
# loopback, the boot loader losing, or delaying, packets in each direction
# from a seeded generator (the same link every run). Prints the TFTP transfer
# time (read request to the last block, as the boot loader measures it) of
# each condition, the median over seeds 1..RUNS, and its ratio to the
# lossless time; with Debian's tftpd-hpa installed, its lossless and 2 % times
# serving the same simulated client (and the tftp-hpa client, lossless, where
# installed), for reference.
#
# Goals: 2 % loss each way at most 5 s, 10 % at most 40 s, a delay of
# 100 ms +- 50 ms each way at most twice the time at a steady 100 ms.
# Last lines: flash_loss_2pct_seconds=, flash_loss_10pct_seconds=,
# flash_jitter_ratio=.
#
# Needs root: it runs in a network namespace of its own, where the boot
# loader's ports collide with nothing.
# Usage: flash_loss [BIN_DIR] [RUNS] [DELAY_IMAGE_KIB]
#   RUNS (3) seeds per lossy condition; DELAY_IMAGE_KIB (1024) the image for
#   the two delayed conditions, which at 200 ms a block take about 7 minutes
#   each at full size.
set -u
bin=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
runs=${2:-3}
delay_kib=${3:-1024}
if [ -z "${FLASH_LOSS_INSIDE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace of its own)" >&2; exit 1; }
    exec env FLASH_LOSS_INSIDE=1 unshare -n bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$bin" "$runs" "$delay_kib"
fi
# tftpd-hpa looks up its listening address with AI_ADDRCONFIG, which counts no
# loopback address and so finds none in a namespace holding only lo: one veth
# pair of the namespace's own with an address gives it one.
ip link add zfl0 type veth peer name zfl1 && ip addr add 198.18.255.1/32 dev zfl0 \
    && ip link set zfl0 up && ip link set zfl1 up
for tool in eflash.exe bootloader-sim; do
    [ -x "$bin/$tool" ] || { echo "no $bin/$tool; build first" >&2; exit 1; }
done
tftpd=$(command -v in.tftpd || echo /usr/sbin/in.tftpd)
device_mac=02:5a:00:00:02:02
device_ip=127.0.0.31
theirs_device_ip=127.0.0.32
theirs_server_ip=127.0.0.39

work=$(mktemp -d)
tftpd_pid=
cleanup() {
    [ -n "$tftpd_pid" ] && kill "$tftpd_pid" 2>/dev/null && wait "$tftpd_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
head -c 1048576 /dev/urandom > "$work/image.bin"
head -c $((delay_kib * 1024)) "$work/image.bin" > "$work/delay.bin"
chmod 644 "$work/image.bin"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { sed -n 's/^transfer_seconds=//p' "$1"; }
failed_runs=0

# flash IMAGE SIM_OPTIONS...: one run; prints the transfer seconds, or
# nothing (and says why on stderr) when it failed.
flash() {
    local image=$1
    shift
    "$bin/bootloader-sim" --mac "$device_mac" --address "$device_ip" --magic-wait-ms 10000 \
        --output "$work/received.bin" "$@" > "$work/sim.out" &
    local sim=$!
    (cd "$work" && timeout 1200 "$bin/eflash.exe" -i "$device_ip" -m "$device_mac" "./$(basename "$image")" \
        --verbose > "$work/eflash.out")
    local rc=$?
    wait "$sim"
    if [ "$rc" -ne 0 ] || ! cmp -s "$image" "$work/received.bin"; then
        echo "run failed ($*): $(grep ERROR "$work/eflash.out" | head -1)" >&2
        failed_runs=$((failed_runs + 1))
        return
    fi
    seconds "$work/sim.out"
}

# condition NAME IMAGE RUNS SIM_OPTIONS...: median over seeds 1..RUNS.
condition() {
    local name=$1 image=$2 count=$3 seed times=()
    shift 3
    for seed in $(seq "$count"); do
        times+=("$(flash "$image" --link-seed "$seed" "$@")")
    done
    printf '%s\n' "${times[@]}" | grep . | median
}

each_way() { echo --loss-in "$1" --loss-out "$1"; }

lossless=$(condition lossless "$work/image.bin" "$runs")
two=$(condition 2pct "$work/image.bin" "$runs" $(each_way 2))
ten=$(condition 10pct "$work/image.bin" "$runs" $(each_way 10))
steady=$(condition steady "$work/delay.bin" 1 --delay-in-ms 100 --delay-out-ms 100)
jitter=$(condition jitter "$work/delay.bin" 1 --delay-in-ms 100 --delay-out-ms 100 --jitter-in-ms 50 --jitter-out-ms 50)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "n/a"; else printf "%.2f", a / b }'; }
echo "image: 1048576 bytes, 2049 blocks, loopback; median of $runs seeds per lossy condition"
echo "eflash.exe lossless: ${lossless:-failed} s"
echo "eflash.exe 2 % loss each way: ${two:-failed} s ($(ratio "$two" "$lossless") x lossless)"
echo "eflash.exe 10 % loss each way: ${ten:-failed} s ($(ratio "$ten" "$lossless") x lossless)"
echo "eflash.exe $delay_kib KiB at 100 ms each way: ${steady:-failed} s; at 100 ms +- 50 ms: ${jitter:-failed} s"

if [ -x "$tftpd" ]; then
    "$tftpd" -L -a "$theirs_server_ip:69" -s "$work" &
    tftpd_pid=$!
    sleep 0.3
    theirs() {
        "$bin/bootloader-sim" --mac "$device_mac" --address "$theirs_device_ip" --tftp-only "$theirs_server_ip" \
            --file image.bin --output "$work/theirs.bin" "$@" > "$work/theirs.out"
        cmp -s "$work/image.bin" "$work/theirs.bin" && seconds "$work/theirs.out"
    }
    theirs_lossless=$(theirs)
    theirs_two=$(theirs --link-seed 1 $(each_way 2))
    echo "tftpd-hpa lossless: ${theirs_lossless:-failed} s (eflash.exe $(ratio "$lossless" "$theirs_lossless") x);" \
        "2 % loss each way: ${theirs_two:-failed} s"
    # Its own client, timed from outside (start-up included), lossless only.
    if command -v tftp > /dev/null; then
        mkdir -p "$work/client"
        start=$(date +%s%N)
        (cd "$work/client" && timeout 60 tftp -m binary "$theirs_server_ip" -c get image.bin > /dev/null 2>&1)
        end=$(date +%s%N)
        client_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
        cmp -s "$work/image.bin" "$work/client/image.bin" || client_seconds=
        echo "tftpd-hpa with the tftp-hpa client, lossless: ${client_seconds:-failed} s"
    fi
else
    echo "tftpd-hpa: not installed (apt-get install tftpd-hpa), no reference"
fi
[ "$failed_runs" -eq 0 ] || echo "failed runs: $failed_runs (left out of the medians)"
echo "flash_loss_2pct_seconds=${two:-failed}"
echo "flash_loss_10pct_seconds=${ten:-failed}"
echo "flash_jitter_ratio=$(ratio "$jitter" "$steady")"
