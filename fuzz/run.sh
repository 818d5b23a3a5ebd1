#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them.
#   fuzz/run.sh [SECONDS] [TARGET...]   each target for SECONDS (default 600),
#                                       growing its corpus in build-fuzz/fuzz/corpus/
#   fuzz/run.sh --smoke [TARGET...]     each target for a few seconds from its
#                                       seeds, one a processor at once, as ./test.sh does
#                                       (FUZZ_SMOKE_SECONDS, 4)
# TARGET is a folder name under fuzz/corpus/; all of them when none is given.
# A crash ends that target's run and leaves its input in build-fuzz/fuzz/artifacts/;
# once fixed, copy that input into fuzz/corpus/TARGET/ so it is tried again.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=false
seconds=600
if [ "${1:-}" = "--smoke" ]; then
    smoke=true
    seconds=${FUZZ_SMOKE_SECONDS:-4}
    shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(ls fuzz/corpus)
fi

CC=clang CXX=clang++ scripts/setup.sh --target fuzz_targets build-fuzz \
    -DZUDIRUV_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug

out=build-fuzz/fuzz
mkdir -p "$out/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen

# The boot loader's ports (67, 68, 69) are taken on loopback addresses of a
# network namespace of its own where one can be made, as the tests do.
isolated=tests/support/isolated.sh

# run_target TARGET: one target's run, its log in $out/TARGET.log and its
# exit status in $out/TARGET.status.
run_target() {
    local target=$1 grown options status=0
    if $smoke; then
        # New inputs go to a throw-away folder, never into the seeds.
        grown=$(mktemp -d)
        options=(-seed=1 -runs=200000)
    else
        grown=$out/corpus/$target
        mkdir -p "$grown"
        options=()
    fi
    "$isolated" "$out/fuzz_$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$target-" "$grown" "$seeds_root/$target" >"$out/$target.log" 2>&1 \
        || status=$?
    $smoke && rm -rf "$grown"
    echo "$status" > "$out/$target.status"
}

seeds_root=fuzz/corpus
for target in "${targets[@]}"; do
    [ -d "$seeds_root/$target" ] || { echo "No such fuzz target: $target" >&2; exit 2; }
done
# A smoke run is short and bounded by time, so the targets run side by
# side, one a processor; a long run takes them one after another, each with
# the machine to itself.
if $smoke; then
    for target in "${targets[@]}"; do
        [ "$(jobs -r | wc -l)" -lt "$(nproc)" ] || wait -n
        run_target "$target" &
    done
    wait
else
    for target in "${targets[@]}"; do run_target "$target"; done
fi

passed=0
failed=0
for target in "${targets[@]}"; do
    echo "== fuzz_$target: ${seconds}s"
    status=$(cat "$out/$target.status")
    grep -E '^stat::number_of_executed_units|^Done ' "$out/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$out/$target.log"
        echo "fuzz_$target failed (exit $status); input kept in $out/artifacts/" >&2
        failed=$((failed + 1))
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
