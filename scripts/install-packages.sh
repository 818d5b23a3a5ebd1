#!/usr/bin/env bash
# Installs the Debian packages of the given lists that are not installed yet.
# A list holds one package a line; "#" starts a comment.
# Usage: scripts/install-packages.sh LIST...
set -euo pipefail

mapfile -t wanted < <(cat "$@" | grep -v -E '^\s*(#|$)')
missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
