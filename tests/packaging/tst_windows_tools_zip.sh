#!/usr/bin/env bash
# The Windows tools' ZIP as a user gets it from scripts/package-windows.sh:
# the two programs, 64-bit console executables that need no DLL beyond
# Windows' own, and the text on where they go.
# Usage: tst_windows_tools_zip.sh <repo root>
set -uo pipefail
repo=$1
command -v x86_64-w64-mingw32-g++-posix > /dev/null \
    || { echo "SKIPPED: no MinGW-w64 compiler (g++-mingw-w64-x86-64)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() { # description, then a command that must succeed
    if "${@:2}"; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

zip=$("$repo/scripts/package-windows.sh" | tail -n 1)
check "the script names the ZIP it made" test -f "$zip" -a "$(basename "$zip")" = zudiruv-tools-windows.zip
check "the ZIP holds the two programs and README.txt at its top" \
    test "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "README.txt arpping.exe eflash.exe "
unzip -q "$zip" -d "$scratch"
# Windows' own DLLs; anything else (libstdc++-6.dll, libwinpthread-1.dll)
# would have to lie beside the program.
system_dlls='^(KERNEL32|msvcrt|WS2_32|IPHLPAPI|SHELL32|ADVAPI32|USER32)\.(dll|DLL)$'
for tool in arpping eflash; do
    check "$tool.exe is a 64-bit Windows console program" \
        eval "file '$scratch/$tool.exe' | grep -q 'PE32+ executable (console) x86-64'"
    check "$tool.exe needs only Windows' own DLLs" \
        eval "! x86_64-w64-mingw32-objdump -p '$scratch/$tool.exe' | sed -n 's/^.*DLL Name: //p' | grep -Ev '$system_dlls'"
done
check "README.txt says where the programs go" grep -q "next to zudiruv.exe" "$scratch/README.txt"
[ "$failures" -eq 0 ]
