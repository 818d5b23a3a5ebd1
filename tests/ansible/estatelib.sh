# An estate of sites for the Ansible collection's test and benchmark: each
# site is a host namespace with its own sshd, reached from the controller
# (this script's own network namespace) over a veth link, and a bridge to a
# namespace of simulated devices with boot loaders. Source it after
# entering a namespace of the script's own (unshare -n); it sources the tool
# tests' link helpers and expects ZUDIRUV_BIN_DIR.
source "$(dirname "${BASH_SOURCE[0]}")/../tools/linklib.sh"
collection_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../ansible" && pwd)
ssh_dir=$work/ssh
sites=0

# The controller's side: keys, known hosts, Ansible's folders, all in the
# scratch folder; the collection built and installed as an administrator does.
make_controller() {
    command -v ansible-playbook > /dev/null || skip "ansible-core is not installed"
    [ -x /usr/sbin/sshd ] || skip "openssh-server is not installed"
    mkdir -p "$ssh_dir" "$work/ansible" "$work/reports"
    chmod 700 "$ssh_dir"
    ssh-keygen -q -t ed25519 -N '' -f "$ssh_dir/controller" || return 1
    ssh-keygen -q -t ed25519 -N '' -f "$ssh_dir/host" || return 1
    cp "$ssh_dir/controller.pub" "$ssh_dir/authorized_keys"
    : > "$ssh_dir/known_hosts"
    # sshd's privilege separation folder, as its package's service makes it.
    mkdir -p /run/sshd
    export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp ANSIBLE_SSH_CONTROL_PATH_DIR=$work/ansible/cp
    export ANSIBLE_COLLECTIONS_PATH=$work/ansible/collections ANSIBLE_CONFIG=$work/ansible/none.cfg
    export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PIPELINING=1 ANSIBLE_HOST_KEY_CHECKING=1
    ansible-galaxy collection build --output-path "$work/ansible" "$collection_source" > "$work/ansible/build.out" 2>&1 &&
        ansible-galaxy collection install --offline "$work"/ansible/velquor-zudiruv-*.tar.gz \
            > "$work/ansible/install.out" 2>&1 || { cat "$work"/ansible/*.out; return 1; }
}

# make_site K DEVICES [SIM_OPTIONS...]: site K at 198.19.K.2 with DEVICES
# simulated PoE clocks (generation B) at 198.18.0.11 and on, each with a MAC
# of the site's own; their received images land in $work/siteK/received-N.bin.
make_site() {
    local k=$1 count=$2
    shift 2
    host_ns="${id}-s$k" device_ns="${id}-d$k" host_if="${id}h$k" device_if="${id}d$k"
    fleet_mac_prefix=$(printf '02:5a:00:%02x:20' "$k")
    extra_namespaces+=("$host_ns" "$device_ns")
    make_fleet "$count"
    ip link add "${id}c$k" type veth peer name "${id}s$k" netns "$host_ns" || skip "cannot create a veth pair here"
    ip addr add "198.19.$k.1/24" dev "${id}c$k"
    ip link set "${id}c$k" up
    in_host ip addr add "198.19.$k.2/24" dev "${id}s$k"
    in_host ip link set "${id}s$k" up
    mkdir -p "$work/site$k"
    local i
    for i in $(seq 1 "$count"); do
        start_device "$k" "$i" "$@"
    done
    cat > "$ssh_dir/sshd-$k.conf" <<CONF
ListenAddress 198.19.$k.2
HostKey $ssh_dir/host
PidFile $ssh_dir/sshd-$k.pid
AuthorizedKeysFile $ssh_dir/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
CONF
    in_host /usr/sbin/sshd -D -e -f "$ssh_dir/sshd-$k.conf" > "$work/sshd-$k.log" 2>&1 &
    background_pids+=($!)
    echo "198.19.$k.2 $(cut -d' ' -f1-2 "$ssh_dir/host.pub")" >> "$ssh_dir/known_hosts"
    sites=$k
}

# start_device K N [SIM_OPTIONS...]: device N of site K, started afresh.
start_device() {
    local k=$1 i=$2
    shift 2
    local log=$work/site$k/sim-$i
    rm -f "$log.out"
    ip netns exec "${id}-d$k" "$bin/velquor-sim" --address "$(device_address "$i")" --kind poe --generation B \
        --boot-loader --image-out "$work/site$k/received-$i.bin" --log "$log.log" "$@" > "$log.out" 2>&1 &
    background_pids+=($!)
    echo $! > "$log.pid"
    wait_for_line "$log.out" listening
}

# stop_device K N
stop_device() { end_runs "$(cat "$work/site$1/sim-$2.pid")"; }

# write_inventory DEVICES: one host per site, every device of each site as
# its target; the package step is skipped, the program taken from the build.
write_inventory() {
    local k
    {
        echo "zudiruv_sites:"
        echo "  hosts:"
        for k in $(seq 1 "$sites"); do
            echo "    site$k:"
            echo "      ansible_host: 198.19.$k.2"
            echo "      ansible_remote_tmp: $work/site$k/ansible-tmp"
            echo "      zudiruv_site_dir: $work/site$k"
            echo "      zudiruv_targets: [\"198.18.0.11-198.18.0.$((10 + $1))\"]"
        done
        echo "  vars:"
        echo "    ansible_user: root"
        echo "    ansible_ssh_private_key_file: $ssh_dir/controller"
        echo "    ansible_ssh_common_args: -o UserKnownHostsFile=$ssh_dir/known_hosts -o StrictHostKeyChecking=yes"
        echo "    ansible_python_interpreter: /usr/bin/python3"
        echo "    zudiruv_install_package: false"
        echo "    zudiruv_fleet_executable: $bin/zudiruv-fleet"
        echo "    zudiruv_images: $work/images"
        echo "    zudiruv_reports_dir: $work/reports"
        echo "    zudiruv_verify_seconds: 60"
    } > "$work/inventory.yml"
}

# rollout NAME [ANSIBLE_PLAYBOOK_OPTIONS...]: the estate's playbook from the
# installed collection; leaves NAME.out and NAME.rc.
rollout() {
    local name=$1
    shift
    local started=$SECONDS
    (cd "$work" && ansible-playbook -i inventory.yml velquor.zudiruv.rolling_update "$@") > "$work/$name.out" 2>&1
    echo $? > "$work/$name.rc"
    echo "$name: $((SECONDS - started)) s"
}
