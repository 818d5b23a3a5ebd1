#!/usr/bin/env bash
# Start-up of the program against a bare Qt Quick window of the same size
# (qmlscene with one 320 x 550 Rectangle), alternately under one Xvfb: time
# from process start to the window being mapped, and peak memory (VmHWM).
# Needs Xvfb, xev and xprop (x11-utils) and qmlscene.
set -euo pipefail

bin_dir=$(cd "$(dirname "$0")" && pwd)
program=$bin_dir/zudiruv
qmlscene=${QMLSCENE:-/usr/lib/qt5/bin/qmlscene}
runs=${RUNS:-5}
settle_s=1.5

for tool in Xvfb xev xprop "$qmlscene" "$program"; do
    command -v "$tool" > /dev/null || { echo "startup: $tool is missing" >&2; exit 2; }
done

scratch=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

cat > "$scratch/bare.qml" <<'EOF'
import QtQuick 2.0
Rectangle { width: 320; height: 550; color: "#d6d6d6" }
EOF
mkdir -p "$scratch/work" "$scratch/home"

# Starts Xvfb on the first display from :100 on that it alone serves. Other
# X servers on this machine may live in other mount or network namespaces,
# where their lock files cannot be seen; a server that cannot listen ends.
start_xvfb() {
    local number
    for number in $(seq 100 160); do
        [ -e "/tmp/.X$number-lock" ] && continue
        Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp > "$scratch/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 50); do
            kill -0 "$xvfb_pid" 2> /dev/null || break
            if xprop -display ":$number" -root > /dev/null 2>&1; then
                sleep 0.2
                kill -0 "$xvfb_pid" 2> /dev/null || break
                export DISPLAY=:$number
                return 0
            fi
            sleep 0.1
        done
        kill "$xvfb_pid" 2> /dev/null || true
        wait "$xvfb_pid" 2> /dev/null || true
    done
    return 1
}
start_xvfb || { echo "startup: Xvfb did not start" >&2; exit 2; }
export HOME=$scratch/home QT_QPA_PLATFORM=xcb
unset QT_QUICK_BACKEND

now_ns() { date +%s%N; }

# Runs one command until its first top-level window is mapped; prints
# "<milliseconds> <peak RSS in KiB> <CPU milliseconds until mapped>". The map is read from xev as it
# happens, without polling, so the waiting costs the measured process nothing.
measure() {
    local started pid mapped_ns= peak line cpu_ms=0
    local fifo=$scratch/events watcher_pid events
    rm -f "$fifo"; mkfifo "$fifo"
    stdbuf -oL xev -root -event substructure -event property > "$fifo" 2>&1 &
    watcher_pid=$!
    exec {events}< "$fifo"
    # xev says nothing when it starts listening: it is listening once it
    # reports a change of a root window property.
    local listening= said=
    for _ in $(seq 1 50); do
        kill -0 "$watcher_pid" 2> /dev/null || break
        xprop -root -f _STARTUP_BENCH 8s -set _STARTUP_BENCH "$RANDOM"
        while read -r -t 0.2 -u "$events" line; do
            said=$line
            [[ $line == PropertyNotify* ]] && { listening=1; break; }
        done
        [ -n "$listening" ] && break
    done
    [ -n "$listening" ] || { echo "startup: xev does not listen: $said" >&2; exit 1; }
    started=$(now_ns)
    (cd "$scratch/work" && exec "$@") > /dev/null 2>&1 &
    pid=$!
    while read -r -t 30 -u "$events" line; do
        if [[ $line == MapNotify* ]]; then
            mapped_ns=$(now_ns)
            # Nanoseconds on a CPU, summed over the process's threads.
            cpu_ms=$(cat /proc/"$pid"/task/*/schedstat 2> /dev/null \
                | awk '{ ns += $1 } END { print int(ns / 1000000) }')
            break
        fi
    done
    sleep "$settle_s"
    peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2> /dev/null || true)
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    kill "$watcher_pid" 2> /dev/null || true
    wait "$watcher_pid" 2> /dev/null || true
    exec {events}<&-
    [ -n "$mapped_ns" ] || { echo "startup: no window from $1" >&2; exit 1; }
    [ -n "$peak" ] || { echo "startup: $1 ended by itself" >&2; exit 1; }
    echo "$(( (mapped_ns - started) / 1000000 )) $peak $cpu_ms"
}

program_ms=() program_kb=() program_cpu=() bare_ms=() bare_kb=() bare_cpu=()
for run in $(seq 1 "$runs"); do
    read -r ms kb cpu < <(measure "$program")
    program_ms+=("$ms") program_kb+=("$kb") program_cpu+=("$cpu")
    echo "run $run zudiruv:  ${ms} ms to the mapped window (${cpu} ms CPU), peak RSS ${kb} KiB"
    read -r ms kb cpu < <(measure "$qmlscene" "$scratch/bare.qml")
    bare_ms+=("$ms") bare_kb+=("$kb") bare_cpu+=("$cpu")
    echo "run $run qmlscene: ${ms} ms to the mapped window (${cpu} ms CPU), peak RSS ${kb} KiB"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
pm=$(median "${program_ms[@]}") bm=$(median "${bare_ms[@]}")
pk=$(median "${program_kb[@]}") bk=$(median "${bare_kb[@]}")
pc=$(median "${program_cpu[@]}") bc=$(median "${bare_cpu[@]}")
echo "median zudiruv:  ${pm} ms, ${pc} ms CPU, ${pk} KiB"
echo "median qmlscene: ${bm} ms, ${bc} ms CPU, ${bk} KiB"
# CPU time is less disturbed by other load on the machine than wall time.
awk -v p="$pc" -v b="$bc" 'BEGIN { if (b > 0) printf "cpu_ratio_vs_bare=%.2f\n", p / b }'
awk -v p="$pk" -v b="$bk" 'BEGIN { printf "rss_ratio_vs_bare=%.2f\n", p / b }'
awk -v p="$pm" -v b="$bm" 'BEGIN { printf "startup_ratio_vs_bare=%.2f\n", p / b }'
