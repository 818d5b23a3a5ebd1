#!/usr/bin/env bash
# Installs what is missing, then configures and builds, through ccache where
# it is installed.
# Usage: scripts/setup.sh [--target TARGET]... [BUILD_DIR [CMAKE_OPTION...]]
# BUILD_DIR defaults to build/; the options apply when it is first configured.
set -euo pipefail
cd "$(dirname "$0")/.."

target=()
while [ "${1:-}" = "--target" ]; do
    target+=(--target "$2")
    shift 2
done
build_dir=${1:-build}
shift || true

scripts/install-packages.sh scripts/build-depends.txt scripts/packages.txt

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build_dir" "${launcher[@]}" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)" "${target[@]}"
