#!/usr/bin/env bash
# Builds ZUDiruv's Debian package into BUILD_DIR/package/ (build/ by default).
# Install it with: sudo apt install ./build/package/zudiruv_*.deb
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

scripts/setup.sh "$build_dir"
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$(realpath -m "$build_dir/package")"
# CPack leaves its staging tree beside the package.
rm -rf "$build_dir/package/_CPack_Packages"
ls "$build_dir"/package/*.deb
