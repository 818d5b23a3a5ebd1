#!/usr/bin/env bash
# Start-up of ZUDiruv.exe under Wine against a bare Qt Quick window of the
# same size (the Qt for Windows' own qmlscene.exe with one 320 x 550
# Rectangle), alternately under one Xvfb, both from one copy of the deployed
# folder on drive C: with the same DLLs: time from process start to the
# window being mapped. Wine's server runs throughout, so its own start is not
# counted. Needs Xvfb, xev and xprop (x11-utils), wine, and the Windows build.
# Usage: startup_wine [WINDOWS_BUILD_DIR]   (RUNS=5)
set -euo pipefail
source "@CMAKE_SOURCE_DIR@/tests/support/xvfb.sh"

windows_build=$(cd "${1:-@CMAKE_SOURCE_DIR@/build-windows}" && pwd)
folder=$windows_build/ZUDiruv
qmlscene=$(find "$windows_build/qt" -path '*/bin/qmlscene.exe' -print -quit 2> /dev/null || true)
runs=${RUNS:-5}
for tool in Xvfb xev xprop wine wineserver; do
    command -v "$tool" > /dev/null || { echo "startup_wine: $tool is missing" >&2; exit 2; }
done
[ -f "$folder/ZUDiruv.exe" ] && [ -n "$qmlscene" ] \
    || { echo "startup_wine: no $folder/ZUDiruv.exe or qmlscene.exe (scripts/build-windows.sh)" >&2; exit 2; }

scratch=$(mktemp -d)
xvfb_pid=
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2> /dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

start_xvfb "$scratch/xvfb.log" || { echo "startup_wine: Xvfb did not start" >&2; exit 2; }
timeout 120 wineboot --init > /dev/null 2>&1 || { echo "startup_wine: wineboot failed" >&2; exit 2; }
# Kept running between the runs, so that its own start is not counted.
wineserver --wait
wineserver --persistent
program_dir=$WINEPREFIX/drive_c/ZUDiruv
cp -r "$folder" "$program_dir"
cp "$qmlscene" "$program_dir/"
mkdir -p "$WINEPREFIX/drive_c/work"
cat > "$WINEPREFIX/drive_c/bare.qml" <<'EOF'
import QtQuick 2.0
Rectangle { width: 320; height: 550; color: "#d6d6d6" }
EOF

now_ns() { date +%s%N; }

# Runs one Windows program until its first top-level window is mapped;
# prints the milliseconds it took.
measure() {
    local started pid mapped_ns= line fifo=$scratch/events watcher_pid events listening=
    rm -f "$fifo"
    mkfifo "$fifo"
    stdbuf -oL xev -root -event substructure -event property > "$fifo" 2>&1 &
    watcher_pid=$!
    exec {events}< "$fifo"
    for _ in $(seq 1 50); do
        xprop -root -f _STARTUP_BENCH 8s -set _STARTUP_BENCH "$RANDOM"
        while read -r -t 0.2 -u "$events" line; do
            [[ $line == PropertyNotify* ]] && { listening=1; break; }
        done
        [ -n "$listening" ] && break
    done
    [ -n "$listening" ] || { echo "startup_wine: xev does not listen" >&2; exit 1; }
    rm -f "$WINEPREFIX/drive_c/work/zudiruv.lock"
    started=$(now_ns)
    (cd "$WINEPREFIX/drive_c/work" && exec wine "$@") > /dev/null 2>&1 &
    pid=$!
    while read -r -t 60 -u "$events" line; do
        [[ $line == MapNotify* ]] && { mapped_ns=$(now_ns); break; }
    done
    sleep 1
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    kill "$watcher_pid" 2> /dev/null || true
    wait "$watcher_pid" 2> /dev/null || true
    exec {events}<&-
    [ -n "$mapped_ns" ] || { echo "startup_wine: no window from $1" >&2; exit 1; }
    echo $(( (mapped_ns - started) / 1000000 ))
}

program_ms=() bare_ms=()
# One run each first: Wine loads its own DLLs and fonts once.
measure 'C:\ZUDiruv\ZUDiruv.exe' > /dev/null
measure 'C:\ZUDiruv\qmlscene.exe' 'C:\bare.qml' > /dev/null
for run in $(seq 1 "$runs"); do
    ms=$(measure 'C:\ZUDiruv\ZUDiruv.exe')
    program_ms+=("$ms")
    echo "run $run ZUDiruv.exe:  ${ms} ms to the mapped window"
    ms=$(measure 'C:\ZUDiruv\qmlscene.exe' 'C:\bare.qml')
    bare_ms+=("$ms")
    echo "run $run qmlscene.exe: ${ms} ms to the mapped window"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
pm=$(median "${program_ms[@]}") bm=$(median "${bare_ms[@]}")
echo "median ZUDiruv.exe:  ${pm} ms"
echo "median qmlscene.exe: ${bm} ms"
awk -v p="$pm" -v b="$bm" 'BEGIN { printf "wine_startup_ratio_vs_bare=%.2f\n", p / b }'
