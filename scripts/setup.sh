#!/usr/bin/env bash
# Installs what is missing, then configures and builds.
# Usage: scripts/setup.sh [--target TARGET] [BUILD_DIR [CMAKE_OPTION...]]
# BUILD_DIR defaults to build/; the options apply when it is first configured.
set -euo pipefail
cd "$(dirname "$0")/.."

target=()
if [ "${1:-}" = "--target" ]; then
    target=(--target "$2")
    shift 2
fi
build_dir=${1:-build}
shift || true

scripts/install-packages.sh scripts/build-depends.txt scripts/packages.txt

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)" "${target[@]}"
