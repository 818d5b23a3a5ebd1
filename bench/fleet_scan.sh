#!/usr/bin/env bash
# Scans a /24 of loopback addresses in which 8 simulated Velquor devices
# answer, with zudiruv-fleet, and prints how long the scan took (median of
# several runs). Addresses are probed together, so the goal is a time close
# to the probe's 3 s window: the last line is fleet_scan_seconds_per_24=S,
# at most 4 is the goal. Also prints the most descriptors the scan held
# against the process's limit.
#
# Runs in a network namespace of its own (needs root, for port 80 too).
# Usage: fleet_scan [BIN_DIR] [RUNS]   BIN_DIR defaults to this script's folder.
set -u
bin=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
runs=${2:-5}
if [ -z "${FLEET_BENCH_NAMESPACE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "needs root for port 80 and a network namespace" >&2; exit 1; }
    FLEET_BENCH_NAMESPACE=1 exec unshare -n bash "$0" "$bin" "$runs"
fi
ip link set lo up
for tool in zudiruv-fleet velquor-sim arpping.exe; do
    [ -x "$bin/$tool" ] || { echo "no $bin/$tool; build first" >&2; exit 1; }
done

source "@CMAKE_SOURCE_DIR@/tests/support/scratch.sh"
enter_scratch_dir

kinds=(poe wifi vo1000 poe wifi vo1000 poe poe)
generations=(A B A B A B A B)
for i in 0 1 2 3 4 5 6 7; do
    address=127.0.9.$((i * 31 + 7))
    "$bin/velquor-sim" --address "$address" --kind "${kinds[$i]}" --generation "${generations[$i]}" \
        --log /dev/null > "sim-$i.out" 2>&1 &
done
for i in 0 1 2 3 4 5 6 7; do
    for _ in $(seq 50); do grep -q listening "sim-$i.out" && break; sleep 0.1; done
done

times=()
peak_descriptors=0
for run in $(seq "$runs"); do
    start=$(date +%s.%N)
    "$bin/zudiruv-fleet" scan 127.0.9.0/24 > "scan-$run.out" 2>&1 &
    fleet_pid=$!
    # Samples the open descriptors while it runs.
    while kill -0 "$fleet_pid" 2>/dev/null; do
        open=$(ls "/proc/$fleet_pid/fd" 2>/dev/null | wc -l)
        [ "$open" -gt "$peak_descriptors" ] && peak_descriptors=$open
        sleep 0.05
    done
    wait "$fleet_pid"
    end=$(date +%s.%N)
    found=$(grep -c '^127\.' "scan-$run.out")
    [ "$found" -eq 8 ] || { echo "run $run found $found devices, not 8:" >&2; cat "scan-$run.out" >&2; exit 1; }
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    times+=("$seconds")
    printf 'run %d: %.2f s\n' "$run" "$seconds"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
echo "devices found per run: 8 of 8"
echo "most descriptors held: $peak_descriptors (limit $(ulimit -n))"
printf 'fleet_scan_seconds_per_24=%.2f\n' "$median"
