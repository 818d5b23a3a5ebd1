#!/usr/bin/env bash
# Cross-builds arpping.exe and eflash.exe for Windows with MinGW-w64 into
# build-windows/bin/ (statically linked, no Qt).
# Usage: scripts/build-windows.sh [BUILD_DIR [CMAKE_OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}
shift || true
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" "${launcher[@]}" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)"
