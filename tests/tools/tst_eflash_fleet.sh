#!/usr/bin/env bash
# eflash.exe flashing many devices in one run: simulated boot loaders, each
# on its own interface with its own MAC, address and image, bridged to the
# flasher's namespace as on a building's LAN. One extra device never
# acknowledges a block and must fail alone.
# Usage: tst_eflash_fleet.sh [unprivileged]: as nobody with only the right to
# bind port 67, every BOOTP reply is a broadcast that all boot loaders hear,
# none of which answers ARP before it has its address.
source "$(dirname "$0")/linklib.sh"
unprivileged=$([ "${1:-}" = unprivileged ] && echo yes)
count=${FLEET_DEVICES:-$([ -n "$unprivileged" ] && echo 4 || echo 16)}
silent=$((count + 1))

[ -n "$unprivileged" ] && [ -n "$under_wine" ] && skip "a Wine prefix serves only its owner: no unprivileged runs"
make_fleet "$silent"

arguments=()
sims=()
for i in $(seq 1 "$silent"); do
    # Images differ per device, in content and size.
    make_image "$work/image-$i.bin" $((20000 + 777 * i))
    arguments+=(-i "$(device_address "$i")" -m "$(device_mac "$i")" "./image-$i.bin")
    extra=()
    [ "$i" = "$silent" ] && extra=(--silent-after-block 1)
    [ -n "$unprivileged" ] && extra+=(--arp-once-addressed)
    # The first boot loaders wait while the others and the flasher start,
    # which on a busy machine (and under Wine) takes long.
    in_device timeout 120 "$bin/bootloader-sim" --mac "$(device_mac "$i")" --address "$(device_address "$i")" \
        --interface "${device_if}$i" --magic-wait-ms 100000 --output "$work/received-$i.bin" "${extra[@]}" \
        > "$work/sim-$i.out" 2> "$work/sim-$i.err" &
    sims+=($!)
    background_pids+=($!)
done
runner=()
[ -n "$unprivileged" ] && runner=("${as_unprivileged[@]}")
(cd "$work" && in_host timeout 120 "${runner[@]}" "${eflash[@]}" "${arguments[@]}" --bootloader-wait-ms 20000 --verbose) \
    > "$work/eflash.out" 2>&1
echo $? > "$work/eflash.rc"
for pid in "${sims[@]}"; do wait "$pid"; done

own_image() { cmp -s "$work/image-$1.bin" "$work/received-$1.bin"; }
all_own_images() {
    local i
    for i in $(seq 1 "$count"); do own_image "$i" || { echo "device $i: not its image"; return 1; }; done
}
# every_device_said LINE WHAT: the flasher printed LINE (a pattern) after the
# address of each of the devices; names the first that it did not.
every_device_said() {
    local i
    for i in $(seq 1 "$count"); do
        grep -q "^$(device_address "$i"): $1" "$work/eflash.out" || { echo "device $i: $2"; return 1; }
    done
}
check "$count devices each received exactly their own image" all_own_images
check "each of them reached 100 %, on lines that start with its address" \
    every_device_said '% Complete: 100%$' "no 100 %"
check "the device that never acknowledges fails with its ERROR line" \
    grep -q "^$(device_address "$silent"): ERROR: the device stopped answering" "$work/eflash.out"
check "it is the only failure" test "$(grep -c "ERROR" "$work/eflash.out")" = 1
check "one failure makes the exit status 1" test "$(cat "$work/eflash.rc")" = 1
check "every output line starts with a device's address" \
    eval '! grep -v "^198\.18\.0\.[0-9]*: " "$work/eflash.out"'
if [ -n "$unprivileged" ]; then
    # Each reply names its device's own image, so a boot loader that took
    # another's reply would have received the wrong one.
    check "every BOOTP reply was a broadcast, and each boot loader took only its own" \
        every_device_said 'BOOTP reply sent to 255\.255\.255\.255:' "no broadcast reply"
fi

[ "$failures" -eq 0 ] || { tail -n 40 "$work/eflash.out"; }
finish
