#!/usr/bin/env bash
# Builds ZUDiruv's Debian package into BUILD_DIR/package/ (build/ by default),
# installing only what building it needs (scripts/build-depends.txt) and
# building only what the package holds.
# Install it with: sudo apt install ./build/package/zudiruv_*.deb
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

scripts/install-packages.sh scripts/build-depends.txt
# CPack would otherwise build everything, the tests too, before it packs.
cmake -S . -B "$build_dir" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$build_dir" --parallel "$(nproc)" --target linux_package_files
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$(realpath -m "$build_dir/package")"
# CPack leaves its staging tree beside the package.
rm -rf "$build_dir/package/_CPack_Packages"
ls "$build_dir"/package/*.deb
