#!/usr/bin/env bash
# The estate's rollout against one site: three sites of sixteen simulated
# devices each, updated through the Ansible collection's playbook with all
# three sites in one batch (serial 3), against one such site updated by
# zudiruv-fleet directly on its host. The last line is
# estate_rollout_ratio_vs_one_site=<playbook time / direct time>; the goal
# is at most 1.5: the estate costs its slowest site plus Ansible's own
# overhead. Boot loaders take 5 ms per block and the image is 1 MiB, so
# that a site of sixteen devices takes most of a minute, as a real one does;
# Ansible's own cost is about fixed (some twenty seconds on a 2-core
# machine), so smaller images raise the ratio and larger ones lower it.
#
# Needs root, ansible-core and openssh-server: the sites live in network
# namespaces of the benchmark's own, each with its own sshd.
# Usage: estate_rollout [BIN_DIR]   BIN_DIR defaults to this script's folder.
set -u
export ZUDIRUV_BIN_DIR=$(cd "${1:-${ZUDIRUV_BIN_DIR:-$(dirname "$0")}}" && pwd)
if [ -z "${ESTATE_BENCH_NAMESPACE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "estate_rollout needs root" >&2; exit 1; }
    ESTATE_BENCH_NAMESPACE=1 exec unshare -n bash "$0" "$ZUDIRUV_BIN_DIR"
fi
ip link set lo up
source "@CMAKE_SOURCE_DIR@/tests/ansible/estatelib.sh"
devices=16
image_size=1048576

make_controller || exit 1
for k in 1 2 3; do make_site "$k" "$devices" --block-write-ms 5; done
write_inventory "$devices"
mkdir "$work/images" "$work/direct"
{ head -c "$image_size" /dev/urandom; printf ODLA; } > "$work/images/poe-b.bin"

started=$(date +%s.%N)
(cd "$work/direct" && in_host "$bin/zudiruv-fleet" update --images "$work/images" --yes \
    "198.18.0.11-198.18.0.$((10 + devices))") > "$work/direct.out" 2>&1 \
    || { echo "the direct run failed" >&2; tail "$work/direct.out" >&2; exit 1; }
direct=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')

started=$(date +%s.%N)
rollout estate -e zudiruv_serial=3 > /dev/null
estate=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')
[ "$(cat "$work/estate.rc")" = 0 ] || { echo "the playbook failed" >&2; tail -40 "$work/estate.out" >&2; exit 1; }
updated=$(python3 -c 'import json, sys; print(sum(row["result"] == "updated" for row in json.load(open(sys.argv[1]))))' \
    "$work/reports/summary.json")
[ "$updated" = $((3 * devices)) ] || { echo "only $updated of $((3 * devices)) devices updated" >&2; exit 1; }

# Each site's own run, from its report: what the playbook adds is the rest.
slowest=$(python3 -c 'import datetime, json, sys
def seconds(report):
    stamp = lambda text: datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    return (stamp(report["finished"]) - stamp(report["started"])).total_seconds()
print("%.1f" % max(seconds(json.load(open(path))) for path in sys.argv[1:]))' "$work"/reports/site*/report.json)
printf 'estate_rollout_one_site_direct_seconds=%.1f\n' "$direct"
echo "estate_rollout_slowest_site_in_playbook_seconds=$slowest"
echo "estate_rollout_ansible_overhead_seconds=$(awk -v a="$estate" -v b="$slowest" 'BEGIN { printf "%.1f", a - b }')"
# Ansible's overhead is CPU time, the sites' runs mostly waiting: a busy
# machine moves the ratio; say how busy it was.
echo "estate_rollout_load_average=$(cut -d' ' -f1 /proc/loadavg)"
printf 'estate_rollout_three_sites_playbook_seconds=%.1f\n' "$estate"
echo "estate_rollout_ratio_vs_one_site=$(awk -v a="$estate" -v b="$direct" 'BEGIN { printf "%.2f", a / b }')"
