#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZUDiruv.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build

# The program looks for arpping.exe, eflash.exe and writes flashfile.tmp in
# its current working directory, so it gets one of its own.
work_dir=build/work
mkdir -p "$work_dir"
for tool in arpping.exe eflash.exe; do
    [ -x "build/bin/$tool" ] && ln -sf "../bin/$tool" "$work_dir/$tool"
done
cd "$work_dir"
exec ../bin/zudiruv "$@"
