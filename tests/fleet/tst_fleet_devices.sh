#!/usr/bin/env bash
# zudiruv-fleet against simulated devices on loopback addresses, in a network
# namespace of its own: a PoE clock and a VO1000 with boot loaders, a Wi-Fi
# clock that wants another password, a PoE clock whose boot loader never
# answers, one whose generation cannot be told, a web server that is no
# Velquor device and one whose index page is 200 MB.
#   tst_fleet_devices.sh [--with-workerscript-module MODULE_FOLDER]
# With the option the run takes the QtQml.WorkerScript module's plugin from
# MODULE_FOLDER, where fetch_workerscript_module.sh unpacked Debian's package
# qml-module-qtqml-workerscript2, as where it is installed.
# Runs through tests/support/isolated.sh: port 80 and the boot loader's ports
# are taken in a network namespace of its own.
bin=${ZUDIRUV_BIN_DIR:?ZUDIRUV_BIN_DIR must name the build/bin folder}
if [ "${1:-}" = --with-workerscript-module ] && [ -z "${QML2_IMPORT_PATH:-}" ]; then
    qml=$(find "${2:?the module folder is missing}" -name qmldir -path '*QtQml/WorkerScript.2/*' 2>/dev/null | head -1)
    [ -n "$qml" ] || { echo "SKIPPED: no qml-module-qtqml-workerscript2 in $2 (fetch_workerscript_module.sh)"; exit 77; }
    export QML2_IMPORT_PATH=${qml%/QtQml/WorkerScript.2/qmldir}
fi
[ -n "${ZUDIRUV_ISOLATED:-}" ] \
    || { echo "SKIPPED: port 80 and the boot loader's UDP ports need a network namespace of the test's own: run it as root through tests/support/isolated.sh"; exit 77; }

source "$(dirname "$0")/../support/scratch.sh"
enter_scratch_dir
trap 'exit 1' INT TERM

password=Fleet-S3cret
password_digest=$(printf %s "$password" | md5sum | cut -d' ' -f1)
default_digest=$(printf %s plorvask | md5sum | cut -d' ' -f1)
empty_digest=$(printf '' | md5sum | cut -d' ' -f1)

sim() {
    local address=$1
    shift
    "$bin/velquor-sim" --address "$address" --log "sim-$address.log" --timestamp "2031-07-14 18:02:46 UTC" "$@" \
        > "sim-$address.out" 2>&1 &
    echo $! > "sim-$address.pid"
}
sim 127.0.0.11 --kind poe --generation B --boot-loader --image-out received-11.bin
sim 127.0.0.12 --kind wifi --generation A --password "$password"
sim 127.0.0.13 --body /index.html="<html><title>Printer status</title></html>"
sim 127.0.0.14 --kind vo1000 --generation B --boot-loader --image-out received-14.bin
sim 127.0.0.15 --kind poe --generation B
sim 127.0.0.16 --kind poe --generation B --boot-loader
sim 127.0.0.17 --kind poe --body /var/www/version.html=unknown
sim 127.0.0.18 --huge /index.html=200000000
for address in 11 12 13 14 15 16 17 18; do
    for _ in $(seq 50); do grep -q listening "sim-127.0.0.$address.out" 2>/dev/null && break; sleep 0.1; done
done

mkdir images
head -c 70000 /dev/urandom > poe-b.body
head -c 50001 /dev/urandom > vo1000-b.body
{ cat poe-b.body; printf ODLA; } > images/poe-b.bin
{ cat vo1000-b.body; printf ODLE; } > images/vo1000-b.bin
printf 'no trailer here\n' > images/notes.bin
printf '# the Wi-Fi clock has its own password\n127.0.0.12 %s\n' "$password" > passwords
chmod 600 passwords
# Tools planted in the working folder are never run.
for tool in arpping.exe eflash.exe; do printf '#!/bin/sh\ntouch "%s/planted-ran"\n' "$work" > $tool; chmod +x $tool; done

failures=0
checks=0
check() {
    local description=$1
    shift
    checks=$((checks + 1))
    if "$@"; then echo "ok   - $description"; else echo "FAIL - $description"; failures=$((failures + 1)); fi
}
fleet() {
    local name=$1
    shift
    (cd "$work" && "$bin/zudiruv-fleet" "$@") > "$name.out" 2> "$name.err" < /dev/null
    echo $? > "$name.rc"
}
rc() { cat "$1.rc"; }
listed() { grep -E "^$1 " scan.out | tr -s ' '; }
result_of() { # REPORT ADDRESS FIELD: the field's value, blanks dropped
    tr -d '\n ' < "$1" | grep -o "{[^{}]*\"address\":\"$2\"[^{}]*}" | grep -o "\"$3\":[^,}]*" | cut -d: -f2- | tr -d '"'
}
requests_to() { grep -c '"event":"request"' "sim-$1.log"; }
flashes_of() { grep -c '"event":"flash"' "sim-$1.log"; }
uploads_to() { grep -c '"event":"update_code"' "sim-$1.log"; }

# --- scan with the default password; the 200 MB page is sampled for the
# scan's peak memory
(cd "$work" && exec "$bin/zudiruv-fleet" scan --report scan.json 127.0.0.10-127.0.0.20) > scan.out 2> scan.err < /dev/null &
fleet_pid=$!
peak_kib=0
while kill -0 "$fleet_pid" 2> /dev/null; do
    now=$(awk '/^VmHWM/ { print $2 }' "/proc/$fleet_pid/status" 2> /dev/null)
    [ "${now:-0}" -gt "$peak_kib" ] && peak_kib=$now
    sleep 0.05
done
wait "$fleet_pid"
echo $? > scan.rc
check "scan exits 0" test "$(rc scan)" = 0
check "scan lists the PoE clock: kind, generation, MAC, letter A, default password" \
    test "$(listed 127.0.0.11)" = "127.0.0.11 POE Clock B 00:00:00:00:00:00 A default password accepted"
check "scan lists the VO1000 with letter E" \
    test "$(listed 127.0.0.14)" = "127.0.0.14 VO1000 B 00:00:00:00:00:00 E default password accepted"
check "scan lists the Wi-Fi clock as wanting a password" eval '[[ "$(listed 127.0.0.12)" == *"wants a password" ]]'
check "scan lists the clock of unknown generation with letter G" \
    test "$(listed 127.0.0.17)" = "127.0.0.17 POE Clock - 00:00:00:00:00:00 G default password accepted"
check "scan lists exactly the six Velquor devices" test "$(grep -cE '^127\.' scan.out)" = 6
check "the other web server is counted, not listed" \
    eval 'grep -q "6 Velquor devices, 1 other web server, 4 without answer" scan.out && ! grep -q "^127.0.0.13 " scan.out'
check "the 200 MB index page is cut off: no answer, peak memory under 100 MB ($((peak_kib / 1024)) MB)" \
    eval '[ "$peak_kib" -gt 0 ] && [ "$peak_kib" -lt 102400 ] && ! grep -q "^127.0.0.18 " scan.out'
check "scan report: found, wants-password" \
    eval '[ "$(result_of scan.json 127.0.0.11 result)" = found ] && [ "$(result_of scan.json 127.0.0.12 result)" = wants-password ]'
check "scan report: kind and letter" \
    eval '[ "$(result_of scan.json 127.0.0.14 kind)" = VO1000 ] && [ "$(result_of scan.json 127.0.0.14 letter)" = E ]'

ZUDIRUV_PASSWORD=$password fleet envscan scan 127.0.0.12
check "the password from the environment is taken" eval '[[ "$(grep "^127.0.0.12 " envscan.out)" == *"given password accepted" ]]'

# --- what it refuses before anything is sent
printf 'keep me\n' > victim
ln -s victim planted.json
fleet linked scan --report planted.json 127.0.0.11
check "a report path that is a link: exit 1 naming it, the link's target untouched" \
    eval '[ "$(rc linked)" = 1 ] && grep -q "planted.json" linked.err && [ "$(cat victim)" = "keep me" ] && [ -L planted.json ]'
cp passwords shared-passwords && chmod 644 shared-passwords
fleet shared scan --password-file shared-passwords 127.0.0.12
check "a password file others can read: usage error naming it and chmod 600" \
    eval '[ "$(rc shared)" = 2 ] && grep -q "shared-passwords.*chmod 600" shared.err && ! grep -q "$password" shared.err'
mkdir -m 775 open-folder
cp "$bin/zudiruv-fleet" open-folder/ && ln -s "$bin/eflash.exe" "$bin/arpping.exe" open-folder/
(cd "$work" && open-folder/zudiruv-fleet update --images images --yes 127.0.0.11) > open.out 2> open.err < /dev/null
echo $? > open.rc
check "tools in a folder others can write are refused, naming it" \
    eval '[ "$(rc open)" = 2 ] && grep -q "refusing $work/open-folder/eflash.exe: $work/open-folder is writable by group or others" open.err'

# --- checks that stop before anything is sent
requests_before=$(requests_to 127.0.0.11)
mkdir twice && cp images/poe-b.bin twice/a1.bin && cp images/poe-b.bin twice/a2.bin
fleet twice update --images twice --yes 127.0.0.11
check "two images for one letter: usage error naming both" \
    eval '[ "$(rc twice)" = 2 ] && grep -q "a1.bin and a2.bin" twice.err'
fleet noterminal update --images images 127.0.0.11
check "update without a terminal needs --yes" eval '[ "$(rc noterminal)" = 2 ] && grep -q -- --yes noterminal.err'
fleet wide scan 10.0.0.0/15
check "a block wider than /16 is refused" eval '[ "$(rc wide)" = 2 ] && grep -q "wider than /16" wide.err'
check "none of them sent a request" test "$(requests_to 127.0.0.11)" = "$requests_before"

fleet dry update --images images --password-file passwords --dry-run --report dry.json 127.0.0.11-15
check "dry run: the matching devices are skipped, nothing uploaded or flashed" \
    eval '[ "$(result_of dry.json 127.0.0.11 result)" = skipped ] && [ "$(uploads_to 127.0.0.11)" = 0 ] && [ "$(flashes_of 127.0.0.11)" = 0 ]'

# --- the update itself
fleet update update --images images --password-file passwords --yes \
    --report update.json --verify-seconds 30 --parallel 2 127.0.0.10-15 127.0.0.17-20
check "update exits 1: not every device was updated" test "$(rc update)" = 1
check "the PoE clock received exactly its image without the trailer" cmp -s poe-b.body received-11.bin
check "the VO1000 received exactly its image without the trailer" cmp -s vo1000-b.body received-14.bin
check "each updated device got the update code of its timestamp once" \
    eval '[ "$(uploads_to 127.0.0.11)" = 1 ] && grep -q "\"code\":\"431556569648594\"" sim-127.0.0.14.log'
check "report: both updated, with image and its SHA-256" \
    eval '[ "$(result_of update.json 127.0.0.11 result)" = updated ] && [ "$(result_of update.json 127.0.0.14 result)" = updated ] &&
          [ "$(result_of update.json 127.0.0.14 image_sha256)" = "$(sha256sum < images/vo1000-b.bin | cut -d" " -f1)" ]'
check "the Wi-Fi clock, given its password, has no image: no-image naming its kind and letter" \
    eval '[ "$(result_of update.json 127.0.0.12 result)" = no-image ] &&
          grep -q "no image for kind WIFI Clock Type A (letter D)" update.out && [ "$(flashes_of 127.0.0.12)" = 0 ]'
check "the clock whose boot loader never answers: flash-failed with eflash's error" \
    eval '[ "$(result_of update.json 127.0.0.15 result)" = flash-failed ] && [[ "$(result_of update.json 127.0.0.15 error)" == ERROR* ]]'
check "the clock of unknown generation: kind-unknown, nothing sent" \
    eval '[ "$(result_of update.json 127.0.0.17 result)" = kind-unknown ] && [ "$(uploads_to 127.0.0.17)" = 0 ]'
check "the report holds exactly the five Velquor devices" test "$(grep -c '"address"' update.json)" = 5
check "the tools planted in the working folder never ran" test ! -e planted-ran
history_of() { grep "\"address\":\"$1\"" zudiruv-history.jsonl; }
check "history: a complete line for each updated device, a failed one with eflash's ERROR lines" \
    eval '[ "$(grep -c "\"result\":\"complete\"" zudiruv-history.jsonl)" = 2 ] &&
          history_of 127.0.0.14 | grep "\"tool\":\"zudiruv-fleet\"" | grep -q "\"code_status\":200,\"code_uploaded\":true" &&
          history_of 127.0.0.15 | grep "\"errors\":\[\"ERROR" | grep "\"exit_status\":1" | grep -q "\"result\":\"failed\""'
check "plain progress lines, at most one per device per 10 %" \
    eval '[ "$(grep -c "^127.0.0.11 flashing [0-9]*%" update.out)" -le 11 ] && grep -q "^127.0.0.11 flashing 100%" update.out'

# --- where the password went
check "the other web server only ever got the index page with the empty digest" \
    eval '[ "$(grep "\"event\":\"request\"" sim-127.0.0.13.log | grep "\"path\":\"/index.html\"" |
             grep -c "\"authorization\":\"Basic $empty_digest\"")" = "$(requests_to 127.0.0.13)" ]'
check "no password or digest of one reached the other web server" \
    eval '! grep -qE "$password|$password_digest|plorvask|$default_digest" sim-127.0.0.13.log'
check "the Wi-Fi clock got the password from the file" grep -q "Basic $password\"" sim-127.0.0.12.log
check "no output and no report holds the password or its digest" \
    eval '! grep -qE "$password|$password_digest" ./*.out ./*.err ./*.json'

# --- Ctrl-C while the first of two devices is being flashed, one at a time
(cd "$work" && exec "$bin/zudiruv-fleet" update --images images --yes --parallel 1 --report interrupted.json \
    127.0.0.11 127.0.0.14) > interrupted.out 2>&1 < /dev/null &
fleet_pid=$!
for _ in $(seq 200); do grep -q "^127.0.0.11 flashing" interrupted.out && break; sleep 0.05; done
kill -INT "$fleet_pid"
wait "$fleet_pid"
echo $? > interrupted.rc
check "Ctrl-C: exit 1, the device in flight finishes, the next is never started" \
    eval '[ "$(rc interrupted)" = 1 ] && [ "$(result_of interrupted.json 127.0.0.11 result)" = updated ] &&
          [ "$(result_of interrupted.json 127.0.0.14 result)" = skipped ] && [ "$(uploads_to 127.0.0.14)" = 1 ]'

# --- a device that comes back as another kind is not updated
(cd "$work" && exec "$bin/zudiruv-fleet" update --images images --yes --verify-seconds 8 --report notback.json \
    127.0.0.16) > notback.out 2>&1 < /dev/null &
fleet_pid=$!
for _ in $(seq 400); do grep -q "^127.0.0.16 verifying" notback.out && break; sleep 0.05; done
old_sim=$(cat sim-127.0.0.16.pid)
kill "$old_sim"
wait "$old_sim"
sim 127.0.0.16 --kind wifi --generation B
wait "$fleet_pid"
echo $? > notback.rc
check "a device back as another kind: not-back, naming what answered" \
    eval '[ "$(rc notback)" = 1 ] && [ "$(result_of notback.json 127.0.0.16 result)" = not-back ] &&
          grep -q "\"error\": \"answered as WIFI Clock Type B" notback.json'

# --- several devices in one eflash.exe run. On loopback every address has
# the same MAC, so the program runs from a folder of its own whose stand-in
# arpping.exe gives each device its own, as on a real link, and records the
# environment it was given.
mkdir -m 700 several several/bin
cp "$bin/zudiruv-fleet" several/bin/ && ln -s "$bin/eflash.exe" several/bin/eflash.exe
printf '#!/bin/sh\nenv > "%s/arpping.env"\necho "reply $5 02:00:00:00:00:${5##*.}"\n' "$work" > several/bin/arpping.exe
chmod 755 several/bin/arpping.exe
for address in 21 22 23; do
    sim 127.0.0.$address --boot-loader --boot-mac 02:00:00:00:00:$address --image-out received-$address.bin
done
sleep 1
(cd several && ZUDIRUV_PASSWORD=plorvask exec bin/zudiruv-fleet update --images ../images --yes --report ../several.json \
    127.0.0.21-23) > several.out 2>&1 < /dev/null
check "several devices in one eflash.exe run: each updated with its image" \
    eval '[ "$(grep -c "\"result\": \"updated\"" several.json)" = 3 ] && cmp -s poe-b.body received-21.bin &&
          cmp -s poe-b.body received-23.bin'
check "the tools never see ZUDIRUV_PASSWORD" eval 'grep -q "^PATH=" arpping.env && ! grep -q ZUDIRUV_PASSWORD arpping.env'

# --- a flash whose last acknowledgement never came: the device decides
mkdir -m 700 unconfirmed
cp "$bin/zudiruv-fleet" unconfirmed/
printf '#!/bin/sh\necho "%% Complete: 99%%"\necho "ERROR: unconfirmed: no acknowledgement of the last block (137) after 5 retransmissions; the device may have taken the whole image"\nexit 1\n' \
    > unconfirmed/eflash.exe
printf '#!/bin/sh\necho "Reply from 02:00:00:00:00:15 for $5 on lo in 0.1 ms"\n' > unconfirmed/arpping.exe
chmod 755 unconfirmed/eflash.exe unconfirmed/arpping.exe
(cd unconfirmed && exec ./zudiruv-fleet update --images ../images --yes --verify-seconds 10 --report ../unconfirmed.json \
    127.0.0.15) > unconfirmed.out 2>&1 < /dev/null
echo $? > unconfirmed.rc
check "unconfirmed last block, device back with its kind: updated with a note; history says failed" \
    eval '[ "$(rc unconfirmed)" = 0 ] && [ "$(result_of unconfirmed.json 127.0.0.15 result)" = updated ] &&
          grep -q "\"note\": \"the last block" unconfirmed.json &&
          grep "\"result\":\"failed\"" unconfirmed/zudiruv-history.jsonl | grep -q "ERROR: unconfirmed"'

[ "$failures" -eq 0 ] || { for name in scan update notback; do echo "--- $name"; cat "$name.out" "$name.err" 2>/dev/null; done; grep -h update_code sim-*.log; }
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
