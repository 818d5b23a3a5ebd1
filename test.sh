#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless:
#  1. builds the program, its tools and tests into build/, and for Windows
#     into build-windows/ the two tools, ZUDiruv.exe and its installer, which
#     the Wine tests run; from the start, beside everything that follows and
#     at the lowest priority, it builds build-fuzz/: the native tests and the
#     fuzz targets with clang's AddressSanitizer and UndefinedBehaviorSanitizer,
#     on what the other stages leave of the processors;
#  2. runs the whole suite through CTest, many tests at once (each in a
#     network namespace of its own, see tests/support/isolated.sh);
#  3. runs the native tests in build-fuzz/, and beside them a short run of
#     each fuzz target.
# Every stage runs even when one before it failed; the stages' times and
# what failed are listed at the end, and the exit status is 1 if anything
# failed. Builds go through ccache where it is installed.
# TEST_JOBS: CTest's -j (default: 4 per core; see tests/CMakeLists.txt).
set -uo pipefail
cd "$(dirname "$0")"

export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
jobs=${TEST_JOBS:-$(($(nproc) * 4))}

started=$SECONDS
stage_times=()
failed=()
note_stage() { # NAME SECONDS STATUS [REMARK]
    stage_times+=("$(printf '%-26s %4d s %s' "$1" "$2" "${4:-}")")
    [ "$3" -eq 0 ] || failed+=("$1")
}
# stage NAME COMMAND...: runs it and notes its time and whether it failed.
stage() {
    local name=$1 begin=$SECONDS status=0
    shift
    echo "== $name"
    "$@" || status=$?
    note_stage "$name" $((SECONDS - begin)) "$status"
    return "$status"
}
# beside LOG COMMAND...: runs it in the background, its output into LOG;
# sets beside_pid for collect.
beside() {
    local log=$1
    shift
    {
        local begin=$SECONDS status=0
        "$@" > "$log" 2>&1 || status=$?
        echo "$((SECONDS - begin)) $status" > "$log.end"
    } &
    beside_pid=$!
}
# stop_tree PID: ends a process and everything it started.
stop_tree() {
    local child
    for child in $(pgrep -P "$1"); do stop_tree "$child"; done
    kill "$1" 2> /dev/null || true
}
# collect NAME LOG PID: waits for what beside started and notes it.
collect() {
    local seconds status
    wait "$3"
    read -r seconds status < "$2.end"
    note_stage "$1" "$seconds" "$status" "(beside)"
    return "$status"
}

# Both builds below would otherwise install what is missing at once.
scripts/install-packages.sh scripts/build-depends.txt scripts/packages.txt \
    || { echo "The packages could not be installed; nothing to build."; exit 1; }

# One instrumented tree serves the native tests and the fuzz targets
# (fuzz/run.sh configures it the same way).
mkdir -p build-fuzz
instrumented_log=$PWD/build-fuzz/build.log
beside "$instrumented_log" env CC=clang CXX=clang++ nice -n 19 scripts/setup.sh \
    --target native_tests --target fuzz_targets build-fuzz -DZUDIRUV_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug
instrumented_pid=$beside_pid

if ! stage "build" scripts/setup.sh build; then
    stop_tree "$instrumented_pid"
    echo "The build failed; nothing to test."
    exit 1
fi
stage "build for Windows" scripts/build-windows.sh

stage "tests, $jobs at once" bash -c 'cd build && ctest --output-on-failure --timeout 300 -j "$1"' ctest "$jobs"

if collect "sanitizer and fuzz build" "$instrumented_log" "$instrumented_pid"; then
    fuzz_log=$PWD/build-fuzz/fuzz-smoke.log
    beside "$fuzz_log" fuzz/run.sh --smoke
    fuzz_pid=$beside_pid
    stage "tests under sanitizers" bash -c 'cd build-fuzz &&
        ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
        ctest --output-on-failure --timeout 300 -L native -j "$1"' ctest "$jobs"
    echo "== fuzz smoke"
    collect "fuzz smoke" "$fuzz_log" "$fuzz_pid"
    cat "$fuzz_log"
else
    tail -n 40 "$instrumented_log"
fi

echo
echo "== times"
printf '%s\n' "${stage_times[@]}"
printf '%-26s %4d s\n' "all" $((SECONDS - started))
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All passed."
