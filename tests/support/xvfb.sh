# Shared by the scripts that need a real X server. Source it.

# start_xvfb LOG [OPTION...]: starts Xvfb on the first display from :100 on
# that it alone serves, with the options added (e.g. -dpi 192), sets xvfb_pid
# and exports DISPLAY. The screen is 1024x768 unless $xvfb_screen says else. Other X servers on this machine
# may live in other mount or network namespaces, where their lock files
# cannot be seen; a server that cannot listen ends.
start_xvfb() {
    local number
    for number in $(seq 100 160); do
        [ -e "/tmp/.X$number-lock" ] && continue
        Xvfb ":$number" -screen 0 "${xvfb_screen:-1024x768x24}" -nolisten tcp "${@:2}" > "$1" 2>&1 &
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

# The common start of a window test.
skip=77

# need_tools TOOL...: skips the test (77) unless every TOOL is installed.
need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit $skip; }
    done
}

# open_scratch: makes $scratch, removed at exit after every process in $pids
# has been ended.
open_scratch() {
    scratch=$(mktemp -d)
    pids=()
    trap 'for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done; rm -rf "$scratch"' EXIT
}

# start_test_display plain|openbox [XVFB OPTION...]: Xvfb for the program's
# real xcb window, with the openbox window manager on it for "openbox".
start_test_display() {
    local mode=$1
    shift
    [ "$mode" != openbox ] || need_tools openbox
    start_xvfb "$scratch/xvfb.log" "$@" || { echo "SKIP: Xvfb did not start"; exit $skip; }
    pids+=("$xvfb_pid")
    export QT_QPA_PLATFORM=xcb
    unset QT_QUICK_BACKEND
    if [ "$mode" = openbox ]; then
        openbox --sm-disable > "$scratch/openbox.log" 2>&1 &
        pids+=($!)
        sleep 1
    fi
}
