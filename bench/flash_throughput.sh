#!/usr/bin/env bash
# Flashes a 1 MiB image over loopback to the simulated boot loader with
# eflash.exe, then has Debian's tftpd-hpa serve the same image to the same
# simulated TFTP client, and compares the TFTP transfer times (read request to
# last acknowledgement, as the client measures them; median of several runs).
# The last line is flash_ratio_vs_tftpd_hpa=<ours / theirs>; at most 1.0 is
# the goal.
#
# Needs root (UDP ports 9, 67-69) and in.tftpd (package tftpd-hpa).
# Usage: flash_throughput [BIN_DIR] [RUNS]   BIN_DIR defaults to this script's folder.
set -u
bin=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
runs=${2:-7}
tftpd=$(command -v in.tftpd || echo /usr/sbin/in.tftpd)
device_mac=02:5a:00:00:02:02
ours_ip=127.0.0.31
theirs_device_ip=127.0.0.32
theirs_server_ip=127.0.0.39

[ "$(id -u)" -eq 0 ] || { echo "needs root for UDP ports below 1024" >&2; exit 1; }
[ -x "$tftpd" ] || { echo "needs in.tftpd (apt-get install tftpd-hpa)" >&2; exit 1; }
for tool in eflash.exe bootloader-sim; do
    [ -x "$bin/$tool" ] || { echo "no $bin/$tool; build first" >&2; exit 1; }
done

work=$(mktemp -d)
tftpd_pid=
cleanup() {
    [ -n "$tftpd_pid" ] && kill "$tftpd_pid" 2>/dev/null && wait "$tftpd_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# tftpd-hpa drops to user nobody, which must be able to read the image.
chmod 755 "$work"
head -c 1048576 /dev/urandom > "$work/image.bin"
chmod 644 "$work/image.bin"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { sed -n 's/^transfer_seconds=//p' "$1"; }

ours=()
whole=()
for run in $(seq "$runs"); do
    "$bin/bootloader-sim" --mac "$device_mac" --address "$ours_ip" --magic-wait-ms 10000 \
        --output "$work/ours.bin" > "$work/ours.out" &
    sim_pid=$!
    start=$(date +%s%N)
    (cd "$work" && "$bin/eflash.exe" -i "$ours_ip" -m "$device_mac" ./image.bin --verbose > "$work/eflash.out")
    eflash_rc=$?
    end=$(date +%s%N)
    wait "$sim_pid"
    if [ "$eflash_rc" -ne 0 ] || ! cmp -s "$work/image.bin" "$work/ours.bin"; then
        echo "eflash run $run failed:" >&2
        cat "$work/eflash.out" "$work/ours.out" >&2
        exit 1
    fi
    ours+=("$(seconds "$work/ours.out")")
    whole+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')")
done

"$tftpd" -L -a "$theirs_server_ip:69" -s "$work" &
tftpd_pid=$!
sleep 0.3
theirs=()
for run in $(seq "$runs"); do
    "$bin/bootloader-sim" --mac "$device_mac" --address "$theirs_device_ip" \
        --tftp-only "$theirs_server_ip" --file image.bin --output "$work/theirs.bin" > "$work/theirs.out"
    if ! cmp -s "$work/image.bin" "$work/theirs.bin"; then
        echo "tftpd-hpa run $run failed:" >&2
        cat "$work/theirs.out" >&2
        exit 1
    fi
    theirs+=("$(seconds "$work/theirs.out")")
done

ours_median=$(printf '%s\n' "${ours[@]}" | median)
whole_median=$(printf '%s\n' "${whole[@]}" | median)
theirs_median=$(printf '%s\n' "${theirs[@]}" | median)
echo "image: 1048576 bytes, 2049 blocks, loopback, $runs runs each (median)"
echo "eflash.exe transfer_seconds=$ours_median (whole run with magic packet and BOOTP: ${whole_median} s)"
echo "tftpd-hpa transfer_seconds=$theirs_median"
awk -v a="$ours_median" -v b="$theirs_median" 'BEGIN { printf "flash_ratio_vs_tftpd_hpa=%.3f\n", a / b }'
