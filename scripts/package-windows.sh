#!/usr/bin/env bash
# Cross-builds arpping.exe and eflash.exe for Windows and packs them with a
# short text on where they go into build-windows/zudiruv-tools-windows.zip.
# Usage: scripts/package-windows.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}
scripts/build-windows.sh "$build_dir"
(cd "$build_dir" && cpack -G ZIP > /dev/null)
echo "$PWD/$build_dir/zudiruv-tools-windows.zip"
