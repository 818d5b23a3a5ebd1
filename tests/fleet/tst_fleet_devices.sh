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
fleet nohistory update --images images --yes --history missing/history.jsonl 127.0.0.11
check "a history in a folder that does not exist: usage error naming it" \
    eval '[ "$(rc nohistory)" = 2 ] && grep -q "history.s folder $work/missing does not exist" nohistory.err'
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

# --- a boot loader that drops the last block's acknowledgement and keeps its
# old image, as one that started its old firmware: flashed once more, and
# updated only when that flash is confirmed
in_several() { # NAME ARGUMENTS...: zudiruv-fleet from the folder whose arpping.exe gives each device its MAC
    local name=$1
    shift
    (cd several && ZUDIRUV_PASSWORD=plorvask exec bin/zudiruv-fleet "$@") > "$name.out" 2> "$name.err" < /dev/null
    echo $? > "$name.rc"
}
wait_listening() { for _ in $(seq 50); do grep -q listening "sim-$1.out" 2>/dev/null && break; sleep 0.1; done; }
sim 127.0.0.24 --boot-loader --boot-mac 02:00:00:00:00:24 --boot-drop-final-ack 1 --image-out received-24.bin
sim 127.0.0.25 --boot-loader --boot-mac 02:00:00:00:00:25 --boot-drop-final-ack 2 --image-out received-25.bin
wait_listening 127.0.0.24; wait_listening 127.0.0.25
in_several unconfirmed update --images ../images --yes --canary 0 --verify-seconds 30 --report ../unconfirmed.json \
    --history ../unconfirmed.jsonl 127.0.0.24-25
history_results() { grep "\"address\":\"$2\"" "$1" | grep -o '"result":"[a-z]*"' | cut -d'"' -f4 | tr '\n' ' '; }
check "a last acknowledgement dropped once: flashed again, updated, with the whole image" \
    eval '[ "$(result_of unconfirmed.json 127.0.0.24 result)" = updated ] && [ "$(flashes_of 127.0.0.24)" = 2 ] &&
          cmp -s poe-b.body received-24.bin && [ "$(history_results unconfirmed.jsonl 127.0.0.24)" = "unconfirmed complete " ]'
check "dropped twice: unconfirmed, never updated on its letter, saying what to do; exit 4" \
    eval '[ "$(rc unconfirmed)" = 4 ] && [ "$(result_of unconfirmed.json 127.0.0.25 result)" = unconfirmed ] &&
          [ "$(flashes_of 127.0.0.25)" = 2 ] && [ ! -e received-25.bin ] &&
          grep -q "twice; it answers with its kind.*run the update again" unconfirmed.json &&
          [ "$(history_results unconfirmed.jsonl 127.0.0.25)" = "unconfirmed unconfirmed " ]'

# --- the canary and the failure budget. 127.0.0.31's boot loader refuses
# the image.
sim 127.0.0.31 --boot-loader --boot-mac 02:00:00:00:00:31 --boot-error-at 1
for address in 32 33; do
    sim 127.0.0.$address --boot-loader --boot-mac 02:00:00:00:00:$address --image-out received-$address.bin
done
for address in 31 32 33; do wait_listening 127.0.0.$address; done
in_several canary update --images ../images --yes --report ../canary.json --history ../canary.jsonl 127.0.0.31-33
check "a failed canary stops the run: the others not-started, untouched" \
    eval '[ "$(rc canary)" = 1 ] && [ "$(result_of canary.json 127.0.0.31 result)" = flash-failed ] &&
          [ "$(result_of canary.json 127.0.0.32 result)" = not-started ] &&
          [ "$(result_of canary.json 127.0.0.33 result)" = not-started ] &&
          [ "$(uploads_to 127.0.0.32)$(flashes_of 127.0.0.32)$(uploads_to 127.0.0.33)" = 000 ] &&
          grep -q "\"stopped\": \"the canary 127.0.0.31 was not updated\"" canary.json'
in_several budget update --images ../images --yes --canary 0 --max-failures 0 --parallel 2 --report ../budget.json \
    --history ../budget.jsonl 127.0.0.31-33
check "beyond the failure budget no device starts; the one flashed beside the failure finishes" \
    eval '[ "$(rc budget)" = 1 ] && [ "$(result_of budget.json 127.0.0.32 result)" = updated ] &&
          [ "$(result_of budget.json 127.0.0.33 result)" = not-started ] && [ "$(flashes_of 127.0.0.33)" = 0 ] &&
          grep -q "1 device failed, more than the 0 allowed" budget.json'

# --- a run killed outright midway, then started again with the same
# command: only what is not yet current is flashed
for address in 41 42 43; do
    sim 127.0.0.$address --boot-loader --boot-mac 02:00:00:00:00:$address --block-write-ms 20 \
        --image-out received-$address.bin
    wait_listening 127.0.0.$address
done
resume=(update --images ../images --yes --canary 0 --parallel 1 --history ../resume.jsonl 127.0.0.41-43)
(cd several && ZUDIRUV_PASSWORD=plorvask exec bin/zudiruv-fleet "${resume[@]}") > killed.out 2>&1 < /dev/null &
fleet_pid=$!
for _ in $(seq 600); do grep -q "^127.0.0.42 flashing [1-9]" killed.out && break; sleep 0.05; done
kill -KILL "$fleet_pid"
wait "$fleet_pid" 2> /dev/null
# The flasher went with it; the interrupted device's boot loader gives up
# and its old firmware answers again.
for _ in $(seq 300); do grep -q '"event":"online"' sim-127.0.0.42.log && break; sleep 0.1; done
check "killed midway: the first device updated, the second not, its flash cut short" \
    eval 'grep -q "^127.0.0.41 updated" killed.out && ! grep -q "^127.0.0.42 updated" killed.out &&
          grep "\"event\":\"flash\"" sim-127.0.0.42.log | head -1 | grep -q "\"outcome\":\"failed\""'
# Killed while the flasher waits, silent, for a boot loader that never
# answers: the flasher goes with the run and holds no port against the next.
(cd several && ZUDIRUV_PASSWORD=plorvask exec bin/zudiruv-fleet update --images ../images --yes \
    --history ../silent.jsonl 127.0.0.15) > silent.out 2>&1 < /dev/null &
fleet_pid=$!
for _ in $(seq 200); do grep -q "^127.0.0.15 flashing" silent.out && break; sleep 0.05; done
flasher_running() { pgrep -f "$work/several/bin/eflash.exe" > /dev/null; }
for _ in $(seq 40); do flasher_running && break; sleep 0.05; done
flasher_running && kill -KILL "$fleet_pid"
wait "$fleet_pid" 2> /dev/null
for _ in $(seq 30); do flasher_running || break; sleep 0.1; done
check "a run killed outright takes its silent flasher with it" eval '! flasher_running && ! grep -q "^127.0.0.15 flash-failed" silent.out'
in_several resumed "${resume[@]}" --report ../resumed.json
check "started again: the first is current and not flashed again, the others updated with the image" \
    eval '[ "$(rc resumed)" = 0 ] && [ "$(result_of resumed.json 127.0.0.41 result)" = current ] &&
          [ "$(flashes_of 127.0.0.41)" = 1 ] && [ "$(result_of resumed.json 127.0.0.42 result)" = updated ] &&
          [ "$(result_of resumed.json 127.0.0.43 result)" = updated ] &&
          cmp -s poe-b.body received-42.bin && cmp -s poe-b.body received-43.bin'
in_several again "${resume[@]}" --json
check "once more: nothing to do, exit 3; --json puts the report alone on standard output" \
    eval '[ "$(rc again)" = 3 ] && python3 -c "import json, sys; d = json.load(sys.stdin)[\"devices\"];
sys.exit(not (len(d) == 3 and all(x[\"result\"] == \"current\" for x in d)))" < again.out &&
          grep -q "^127.0.0.43 current:" again.err && [ "$(flashes_of 127.0.0.43)" = 1 ]'

[ "$failures" -eq 0 ] || { for name in scan update notback; do echo "--- $name"; cat "$name.out" "$name.err" 2>/dev/null; done; grep -h update_code sim-*.log; }
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
