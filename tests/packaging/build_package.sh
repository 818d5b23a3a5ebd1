#!/usr/bin/env bash
# Builds the Debian package from an already built tree into OUTPUT_DIR, as
# scripts/package.sh does, for the package tests that follow.
# Usage: build_package.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
build_dir=${1:?usage: $0 BUILD_DIR OUTPUT_DIR}
output_dir=${2:?usage: $0 BUILD_DIR OUTPUT_DIR}

rm -rf "$output_dir"
mkdir -p "$output_dir"
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$output_dir"
rm -rf "$output_dir/_CPack_Packages"
packages=("$output_dir"/*.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || { echo "expected one .deb in $output_dir"; exit 1; }
echo "built ${packages[0]}"
