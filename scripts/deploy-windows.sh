#!/usr/bin/env bash
# Makes the folder that holds ZUDiruv.exe with everything it needs on Windows,
# from packaging/windows/deploy.txt, and the uninstaller's list of what it
# installed. Run by the Windows build (scripts/build-windows.sh).
# Usage: deploy-windows.sh FOLDER QT_PREFIX COMPILER PROGRAM TOOL...
set -euo pipefail
folder=$1 qt=$2 compiler=$3 program=$4
shift 4
repo=$(cd "$(dirname "$0")/.." && pwd)
list=$repo/packaging/windows/deploy.txt
strip=${compiler%g++*}strip
[ -x "$strip" ] || strip=x86_64-w64-mingw32-strip

rm -rf "$folder"
mkdir -p "$folder"
while read -r kind path destination; do
    case $kind in
    '' | '#'*) ;;
    qt)
        [ -e "$qt/$path" ] || { echo "deploy-windows: $qt/$path is missing" >&2; exit 1; }
        mkdir -p "$folder/$destination"
        cp -r "$qt/$path" "$folder/$destination/" ;;
    own)
        mkdir -p "$folder/$destination"
        cp "$repo/$path" "$folder/$destination/" ;;
    runtime)
        # The compiler names the runtime of its own thread model.
        source=$("$compiler" -print-file-name="$path")
        [ -f "$source" ] || { echo "deploy-windows: $compiler has no $path" >&2; exit 1; }
        # Debian's carry their debugging symbols: 23 MB for libstdc++ alone.
        "$strip" --strip-unneeded -o "$folder/$path" "$source" ;;
    drop)
        [ -e "$folder/$path" ] || { echo "deploy-windows: nothing to drop at $path" >&2; exit 1; }
        rm -r "${folder:?}/$path" ;;
    *)
        echo "deploy-windows: unknown line in $list: $kind $path" >&2
        exit 1 ;;
    esac
done < "$list"

# Qt would look for its plugins and QML modules under the prefix it was built
# with; these paths are relative to the program's folder.
printf '[Paths]\r\nPrefix = .\r\nPlugins = plugins\r\nQml2Imports = qml\r\n' > "$folder/qt.conf"
for executable in "$program" "$@"; do
    "$strip" -o "$folder/$(basename "$executable")" "$executable"
done

# What the uninstaller removes: exactly these files and folders, deepest
# first, so that nothing a user put into the folder goes with them.
(
    cd "$folder"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|RMDir "$INSTDIR\\&"|'
) > "$folder.uninstall.nsh"
