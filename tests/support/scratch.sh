# Shared by the scripts that run simulated devices in the background. Source it.

# enter_scratch_dir: makes a scratch folder, sets `work` to it and goes
# there; on exit every background job is ended and the folder removed.
enter_scratch_dir() {
    work=$(mktemp -d)
    trap end_scratch_dir EXIT
    cd "$work" || exit 1
}

end_scratch_dir() {
    local pid
    for pid in $(jobs -p); do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
