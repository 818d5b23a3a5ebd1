#!/usr/bin/env bash
# Cross-builds for 64-bit Windows with MinGW-w64 into build-windows/:
# arpping.exe and eflash.exe (statically linked, no Qt) in bin/, and, with a
# Qt for Windows, ZUDiruv.exe, the folder ZUDiruv/ that holds it with all it
# needs, and the installer ZUDiruv-1.0-setup.exe (where makensis is installed).
#
# The Qt for Windows is taken from the first of:
#   ZUDIRUV_WINDOWS_QT        an unpacked Qt for MinGW-w64, or a .tar.xz of one
#   ../shared/windows-qt/     beside the repository, a .tar.xz
#   build-windows-qt/         what scripts/build-windows-qt.sh builds
# An archive is unpacked once per build folder, into its qt/.
# Usage: scripts/build-windows.sh [BUILD_DIR [CMAKE_OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows}
shift || true

launcher=()
if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Builds in sibling folders share the cache.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)}
fi

# The Qt prefix inside an unpacked folder or archive, or nothing.
qt_prefix_in() {
    local found
    found=$(find "$1" -maxdepth 5 -path '*/lib/cmake/Qt5Core/Qt5CoreConfig.cmake' -print -quit 2> /dev/null)
    [ -n "$found" ] && (cd "$(dirname "$found")/../../.." && pwd)
}

# Unpacks ARCHIVE into the build folder unless this very archive already is.
unpack_qt() {
    local archive target stamp
    archive=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    target=$build_dir/qt
    stamp="$archive $(stat -c '%s %Y' "$archive")"
    if [ "$(cat "$target/.unpacked-from" 2> /dev/null)" != "$stamp" ]; then
        echo "build-windows: unpacking $archive into $target/" >&2
        rm -rf "$target"
        mkdir -p "$target"
        tar -xJf "$archive" -C "$target"
        echo "$stamp" > "$target/.unpacked-from"
    fi
    qt_prefix_in "$target"
}

# Takes Qt from FOLDER_OR_ARCHIVE, where it holds one.
qt_from() {
    local archive
    if [ -f "$1" ]; then
        unpack_qt "$1"
    elif [ -d "$1" ] && qt_prefix_in "$1"; then
        :
    elif [ -d "$1" ] && archive=$(find "$1" -maxdepth 1 -name 'qt-*-mingw64.tar.xz' -print -quit) \
        && [ -n "$archive" ]; then
        unpack_qt "$archive"
    else
        return 1
    fi
}

qt=
if [ -n "${ZUDIRUV_WINDOWS_QT:-}" ]; then
    qt=$(qt_from "$ZUDIRUV_WINDOWS_QT") \
        || { echo "build-windows: ZUDIRUV_WINDOWS_QT=$ZUDIRUV_WINDOWS_QT holds no Qt for Windows" >&2; exit 1; }
    source="ZUDIRUV_WINDOWS_QT ($ZUDIRUV_WINDOWS_QT)"
elif qt=$(qt_from ../shared/windows-qt); then
    source="$(cd ../shared/windows-qt && pwd)"
elif qt=$(qt_from build-windows-qt); then
    source="scripts/build-windows-qt.sh's build-windows-qt/"
fi

if [ -n "$qt" ]; then
    echo "build-windows: Qt for Windows from $source: $qt" >&2
    options=(-DZUDIRUV_WINDOWS_QT="$qt" -DZUDIRUV_TOOLS_ONLY=OFF)
else
    echo "build-windows: no Qt for Windows (not in ZUDIRUV_WINDOWS_QT, ../shared/windows-qt/ or" \
        "build-windows-qt/; scripts/build-windows-qt.sh builds one): building arpping.exe and" \
        "eflash.exe only, not ZUDiruv.exe" >&2
    options=(-DZUDIRUV_WINDOWS_QT= -DZUDIRUV_TOOLS_ONLY=ON)
fi

# Configured again only when the Qt it was configured with changes.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt" 2> /dev/null || true; }
if [ ! -f "$build_dir/CMakeCache.txt" ] || [ "$(cached ZUDIRUV_WINDOWS_QT)" != "$qt" ] \
    || [ "$(cached ZUDIRUV_TOOLS_ONLY)" != "$([ -n "$qt" ] && echo OFF || echo ON)" ]; then
    cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        "${launcher[@]}" "${options[@]}" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc)"
