#!/usr/bin/env bash
# Runs a QtTest program of the Windows build under Wine, from a copy of the
# prefix tests/tools/make_wine_prefix.sh made, with the program's deployed
# folder and the Qt for Windows (for Qt5Test.dll) on Wine's path.
# Usage: run_under_wine.sh WINDOWS_BUILD_DIR TEST_NAME
set -uo pipefail
build=$(cd "$1" && pwd)
program=$build/bin/$2.exe
[ -f "$program" ] || { echo "SKIPPED: no $program (scripts/build-windows.sh builds it with a Qt for Windows)"; exit 77; }
[ -f "${ZUDIRUV_WINE_PREFIX:-}/system.reg" ] || { echo "no Wine prefix at ${ZUDIRUV_WINE_PREFIX:-}"; exit 1; }
scratch=$(mktemp -d)
prefix=$scratch/prefix
trap 'WINEPREFIX=$prefix wineserver -k 2> /dev/null; rm -rf "$scratch"' EXIT
cp -al "$ZUDIRUV_WINE_PREFIX" "$prefix"
for file in "$prefix"/*.reg; do cp --remove-destination "$ZUDIRUV_WINE_PREFIX/${file##*/}" "$file"; done
qt=$(find "$build/qt" -maxdepth 3 -name bin -path '*qt5-mingw64*' -print -quit 2> /dev/null)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
export WINEPATH="$(winepath -w "$build/ZUDiruv" 2> /dev/null);$(winepath -w "${qt:-$build}" 2> /dev/null)"
# QtTest writes to a file here: under Wine its standard output stays empty.
timeout 120 wine "$program" -o "$(winepath -w "$scratch/result.txt" 2> /dev/null),txt" > /dev/null 2>&1
status=$?
cat "$scratch/result.txt" 2> /dev/null || echo "no result from $program (status $status)"
exit $status
