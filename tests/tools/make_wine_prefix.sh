#!/usr/bin/env bash
# Makes the Wine prefix that the Wine runs of the tool tests copy, once per
# test run (wineboot takes seconds). Usage: make_wine_prefix.sh PREFIX TOOLS_DIR
prefix=$1
tools=$2
for tool in arpping.exe eflash.exe; do
    [ -f "$tools/$tool" ] || { echo "SKIPPED: no $tools/$tool (scripts/build-windows.sh builds it)"; exit 77; }
done
rm -rf "$prefix"
# No Mono or Gecko: the tools are console programs.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 100 wineboot --init || { echo "wineboot failed"; exit 1; }
wineserver --wait
[ -f "$prefix/system.reg" ] || { echo "wineboot left no registry in $prefix"; exit 1; }
# The tools start in the fresh prefix and say who they are.
wine "$tools/eflash.exe" --help | grep -q "^usage: eflash.exe" && wineserver --wait
