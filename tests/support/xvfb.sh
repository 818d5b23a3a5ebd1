# Shared by the scripts that need a real X server. Source it.

# start_xvfb LOG [OPTION...]: starts Xvfb on a display of its own, with the
# options added (e.g. -dpi 192), sets xvfb_pid and exports DISPLAY once the
# server takes connections. The screen is 1024x768 unless $xvfb_screen says
# else. The server picks a free display number itself and names it when it
# listens (-displayfd), so tests starting side by side never share one, and
# none mistakes another's server for its own.
start_xvfb() {
    local number_file=$1.display number
    : > "$number_file"
    Xvfb -displayfd 3 -screen 0 "${xvfb_screen:-1024x768x24}" -nolisten tcp "${@:2}" \
        3> "$number_file" > "$1" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        number=$(head -n 1 "$number_file")
        if [ -n "$number" ]; then
            export DISPLAY=:$number
            return 0
        fi
        kill -0 "$xvfb_pid" 2> /dev/null || break
        sleep 0.1
    done
    kill "$xvfb_pid" 2> /dev/null || true
    wait "$xvfb_pid" 2> /dev/null || true
    return 1
}

# visible_windows TITLE: the ids of the visible windows with exactly this
# title, one a line. Status 1: there is none; 2: the X server could not be
# asked. xdotool dies of an X error (BadWindow) when some window closes while
# it looks at it; then it is asked again.
visible_windows() {
    local output
    for _ in 1 2 3 4 5; do
        if output=$(xdotool search --onlyvisible --name "^$1\$" 2>&1); then
            grep -E '^[0-9]+$' <<< "$output"
            return 0
        fi
        grep -q 'X Error' <<< "$output" || return 1
    done
    return 2
}

# wait_for_window TITLE [SECONDS]: until a window with exactly this title
# shows, 20 s at most; prints its id.
wait_for_window() {
    local ids
    for _ in $(seq 1 $((${2:-20} * 10))); do
        if ids=$(visible_windows "$1"); then
            head -n 1 <<< "$ids"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# no_window TITLE: no window with this title shows (and the server said so).
no_window() {
    local status=0
    visible_windows "$1" > /dev/null || status=$?
    [ "$status" -eq 1 ]
}

# wait_for_no_window TITLE [SECONDS]: until no window with this title shows,
# 5 s at most.
wait_for_no_window() {
    for _ in $(seq 1 $((${2:-5} * 10))); do
        no_window "$1" && return 0
        sleep 0.1
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
