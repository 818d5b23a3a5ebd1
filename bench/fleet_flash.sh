#!/usr/bin/env bash
# Flashes one simulated device, then sixteen at once, with 256 KiB images and
# boot loaders that take 5 ms to write each block (about a real device's
# pace), and prints the times and the host CPU time per device. The last line
# is fleet_flash_ratio_16_vs_1=<16-device time / 1-device time>; at most 1.5
# is the goal. Each figure is the median of three runs.
#
# Needs root: the devices live in network namespaces of the benchmark's own.
# Usage: fleet_flash [BIN_DIR]   BIN_DIR defaults to this script's folder.
set -u
export ZUDIRUV_BIN_DIR=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
source "@CMAKE_SOURCE_DIR@/tests/tools/linklib.sh"
fleet=16
image_size=262144

for tool in eflash.exe bootloader-sim; do
    [ -x "$bin/$tool" ] || { echo "no $bin/$tool; build first" >&2; exit 1; }
done
make_fleet "$fleet"

# flash_fleet N: flashes devices 1..N in one run; prints "SECONDS CPU_SECONDS".
flash_fleet() {
    local i arguments=() sims=()
    for i in $(seq 1 "$1"); do
        make_image "$work/image-$i.bin" "$image_size"
        arguments+=(-i "$(device_address "$i")" -m "$(device_mac "$i")" "./image-$i.bin")
        in_device timeout 300 "$bin/bootloader-sim" --mac "$(device_mac "$i")" --address "$(device_address "$i")" \
            --interface "${device_if}$i" --magic-wait-ms 30000 --block-write-ms 5 \
            --output "$work/received-$i.bin" > /dev/null 2>&1 &
        sims+=($!)
    done
    # The boot loaders listen before the first magic packet goes out, so no
    # run waits for a second one.
    sleep 0.5
    local TIMEFORMAT='%R %U %S' timing
    timing=$( { time (cd "$work" && in_host "$bin/eflash.exe" "${arguments[@]}" > "$work/eflash.out" 2>&1); } 2>&1)
    local rc=$?
    wait "${sims[@]}"
    for i in $(seq 1 "$1"); do
        cmp -s "$work/image-$i.bin" "$work/received-$i.bin" || { echo "device $i did not get its image" >&2; return 1; }
    done
    [ "$rc" -eq 0 ] || { echo "eflash.exe failed" >&2; cat "$work/eflash.out" >&2; return 1; }
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<< "$timing"
}

# median_run N: the run of median time out of three.
median_run() {
    local run
    for run in 1 2 3; do flash_fleet "$1" || return 1; done | sort -g | sed -n 2p
}

read -r one_seconds one_cpu < <(median_run 1) || exit 1
[ -n "${one_seconds:-}" ] || exit 1
echo "fleet_flash_1_device_seconds=$one_seconds"
echo "fleet_flash_1_device_cpu_seconds=$one_cpu"
read -r all_seconds all_cpu < <(median_run "$fleet") || exit 1
[ -n "${all_seconds:-}" ] || exit 1
echo "fleet_flash_${fleet}_devices_seconds=$all_seconds"
echo "fleet_flash_${fleet}_devices_cpu_seconds_per_device=$(awk -v c="$all_cpu" -v n="$fleet" 'BEGIN { printf "%.3f", c / n }')"
echo "fleet_flash_ratio_${fleet}_vs_1=$(awk -v a="$all_seconds" -v b="$one_seconds" 'BEGIN { printf "%.2f", a / b }')"
