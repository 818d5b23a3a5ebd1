#!/usr/bin/env bash
# Installs what is missing, builds (the two tools for Windows too, which the
# tool tests run under Wine), and runs the whole test suite headless; then
# builds the native tests again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs them; last, a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"

export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software

scripts/setup.sh build
# The Windows builds of the tools, which the tool tests also run under Wine.
scripts/build-windows.sh
(cd build && ctest --output-on-failure --timeout 300)

scripts/setup.sh --target native_tests build-sanitize -DZUDIRUV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
    ctest --output-on-failure --timeout 300 -L native)

fuzz/run.sh --smoke
