#!/usr/bin/env bash
# The Ansible collection for real: ansible-playbook reaches two sites over
# SSH, each a namespace with its own sshd and a bridge to two simulated
# devices, and rolls an image out site by site. Check mode sends nothing; a
# real run flashes every device with identical bytes and fetches each site's
# report and history; a second run changes nothing; and a canary site whose
# device fails stops at its budget, and the estate before the next site.
# Runs through tests/support/isolated.sh: the controller's side is the
# namespace of the test's own.
[ -n "${ZUDIRUV_ISOLATED:-}" ] \
    || { echo "SKIPPED: the sites' namespaces and sshd need root and a network namespace of the test's own: run it through tests/support/isolated.sh"; exit 77; }
source "$(dirname "$0")/estatelib.sh"
make_controller || { echo "cannot build and install the collection"; exit 1; }
for k in 1 2; do make_site "$k" 2; done
write_inventory 2
mkdir "$work/images"
head -c 60000 /dev/urandom > "$work/v1.body"
{ cat "$work/v1.body"; printf ODLA; } > "$work/images/poe-b.bin"

flashes() { cat "$work"/site*/sim-*.log | grep -c '"event":"flash"'; }
uploads() { cat "$work"/site*/sim-*.log | grep -c '"event":"update_code"'; }
results() { # FILE: "SITE ADDRESS RESULT" per device of the estate's summary, sorted
    python3 -c 'import json, sys
for row in json.load(open(sys.argv[1])): print(row["site"], row["address"], row["result"])' "$1" | sort | tr '\n' ' '
}
fleet_task() { # NAME: how the fleet module's task ended per site, "site1=changed ..."
    awk '/^TASK \[.*: Run zudiruv-fleet\]/ { on = 1; next } /^TASK/ { on = 0 }
         on && match($0, /^(ok|changed|fatal): \[site[0-9]+\]/) { split($0, part, /[][]/); sub(/:$/, "", $1); print part[2] "=" $1 }' \
        "$work/$1.out" | sort | tr '\n' ' '
}
first_batch() { # NAME: the sites the first run of the fleet module went to
    awk '/^TASK \[.*: Run zudiruv-fleet\]/ { runs++; next } /^TASK/ && runs == 1 { exit }
         runs == 1 && match($0, /\[site[0-9]+\]/) { print substr($0, RSTART + 1, RLENGTH - 2) }' "$work/$1.out" | tr '\n' ' ' | sed 's/ $//'
}
all_sites() { local k i out=; for k in 1 2; do for i in 1 2; do out+="site$k 198.18.0.1$i $1 "; done; done; echo "$out"; }

# Both sites in one batch where the order does not matter, to save time.
rollout check --check -e zudiruv_serial=2
check "check mode: exit 0, nothing uploaded or flashed, the plan of every device on the controller" \
    eval '[ "$(cat "$work/check.rc")" = 0 ] && [ "$(fleet_task check)" = "site1=changed site2=changed " ] && [ "$(flashes)" = 0 ] && [ "$(uploads)" = 0 ] &&
          [ "$(results "$work/reports/summary.json")" = "$(all_sites skipped)" ] &&
          grep -q "\"error\": \"dry run\"" "$work/reports/site2/plan.json"'

rollout first
check "a real run: exit 0, the canary site first, every device updated" \
    eval '[ "$(cat "$work/first.rc")" = 0 ] && [ "$(results "$work/reports/summary.json")" = "$(all_sites updated)" ] &&
          [ "$(fleet_task first)" = "site1=changed site2=changed " ] &&
          [ "$(first_batch first)" = "site1" ]'
check "every device received exactly the image, without its trailer" \
    eval 'for k in 1 2; do for i in 1 2; do cmp -s "$work/v1.body" "$work/site$k/received-$i.bin" || exit 1; done; done'
check "each site's report and history were fetched to reports/SITE/" \
    eval 'for k in 1 2; do grep -q "\"result\": \"updated\"" "$work/reports/site$k/report.json" &&
          [ "$(grep -c "\"result\":\"complete\"" "$work/reports/site$k/zudiruv-history.jsonl")" = 2 ] || exit 1; done'
check "the CSV summary holds a row per device, quoted" \
    eval '[ "$(grep -c "^\"site[12]\",\"198.18.0.1[12]\",\"02:5A:00:0[12]:20:0[12]\",.*\"updated\"" "$work/reports/summary.csv")" = 4 ]'

flashed_before=$(flashes)
rollout second -e zudiruv_serial=2
check "a second run: nothing changed, every device current, nothing flashed" \
    eval '[ "$(cat "$work/second.rc")" = 0 ] && [ "$(fleet_task second)" = "site1=ok site2=ok " ] &&
          [ "$(results "$work/reports/summary.json")" = "$(all_sites current)" ] && [ "$(flashes)" = "$flashed_before" ]'

# A new image; the canary site's first device now refuses it. With no
# failure allowed the site stops at its first failure, and the estate
# before the next site.
head -c 60000 /dev/urandom > "$work/v2.body"
rm "$work/images/poe-b.bin"
{ cat "$work/v2.body"; printf ODLA; } > "$work/images/poe-b-2.bin"
stop_device 1 1
start_device 1 1 --boot-error-at 1
rollout failing -e zudiruv_canary=0 -e zudiruv_max_failures=0 -e zudiruv_parallel=1
check "the failing site: its device failed, the other never started; the playbook fails" \
    eval '[ "$(cat "$work/failing.rc")" != 0 ] &&
          python3 -c "import json; d = {x[\"address\"]: x[\"result\"] for x in json.load(open(\"$work/reports/site1/report.json\"))[\"devices\"]}
raise SystemExit(d != {\"198.18.0.11\": \"flash-failed\", \"198.18.0.12\": \"not-started\"})" &&
          cmp -s "$work/v1.body" "$work/site1/received-2.bin"'
check "the next site was never started: its devices keep the old image" \
    eval 'cmp -s "$work/v1.body" "$work/site2/received-1.bin" && cmp -s "$work/v1.body" "$work/site2/received-2.bin" &&
          ! grep -q "\[site2\]" "$work/failing.out" && [ "$(cat "$work"/site2/sim-*.log | grep -c "\"event\":\"flash\"")" = 2 ]'
check "the summary holds every site, the failing one as it stopped, the other as it was" \
    eval '[ "$(results "$work/reports/summary.json")" = "site1 198.18.0.11 flash-failed site1 198.18.0.12 not-started site2 198.18.0.11 current site2 198.18.0.12 current " ]'

[ "$failures" -eq 0 ] || for name in check first second failing; do echo "--- $name"; tail -40 "$work/$name.out"; done
finish
