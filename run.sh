#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZUDiruv with a simulated
# Velquor device to update on this machine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build

demo_address=127.0.0.2
demo_image=$PWD/build/demo/velquor-poe-b-demo.bin

# The program looks for arpping.exe and eflash.exe, and writes flashfile.tmp,
# in its current working directory, so it gets one of its own.
work_dir=$PWD/build/work
mkdir -p "$work_dir"
for tool in arpping.exe eflash.exe; do
    [ -x "build/bin/$tool" ] && ln -sf "../bin/$tool" "$work_dir/$tool"
done

# The demo device answers the web interface on port 80 and runs its boot
# loader on UDP ports 9 and 68 (and eflash.exe serves on 67 and 69): all
# below 1024, so it needs root.
device_pid=
stop_device() {
    [ -n "$device_pid" ] && kill "$device_pid" 2>/dev/null || true
}
trap stop_device EXIT
if [ "$(id -u)" -eq 0 ]; then
    build/bin/velquor-sim --address "$demo_address" --boot-loader \
        --image-out "$work_dir/received-by-demo-device.bin" \
        --log "$work_dir/velquor-sim.log" > "$work_dir/velquor-sim.out" 2>&1 &
    device_pid=$!
    sleep 0.5
    if kill -0 "$device_pid" 2>/dev/null; then
        cat <<EOF
A simulated Velquor PoE clock (generation B) answers at $demo_address.
  Type $demo_address into the IP Address row and press Enter.
  Then drop or pick this matching firmware image:
    $demo_image
  What the device received ends up in $work_dir/received-by-demo-device.bin.
EOF
    else
        echo "The demo device could not start:" >&2
        cat "$work_dir/velquor-sim.out" >&2
        device_pid=
        echo "Starting ZUDiruv alone." >&2
    fi
else
    echo "Not root: the demo device needs ports 80, 67, 68, 69 and 9, so ZUDiruv starts alone." >&2
    echo "Run ./run.sh as root for the simulated device at $demo_address." >&2
fi

cd "$work_dir"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting ZUDiruv under a virtual X server (xvfb-run)." >&2
    xvfb-run -a ../bin/zudiruv "$@"
else
    ../bin/zudiruv "$@"
fi
