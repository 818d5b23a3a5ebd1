#!/usr/bin/env bash
# Builds the Qt for Windows that scripts/build-windows.sh needs, for a machine
# without ../shared/windows-qt/: Qt 5.15.8 for 64-bit Windows, cross-built with
# MinGW-w64 GCC 12 in its posix thread model, shared libraries, desktop
# OpenGL, no Qt Widgets, with this machine's host tools (qmake, moc, rcc,
# qmlcachegen). About an hour and a half on two cores.
#
# SOURCES holds the three unpacked source trees:
#   qtbase-everywhere-src-5.15.8, qtdeclarative-everywhere-src-5.15.8
#       Debian 12's qtbase-opensource-src and qtdeclarative-opensource-src
#       (apt-get source, with deb-src lines)
#   qtquickcontrols-everywhere-src-5.15.8
#       upstream qtquickcontrols at tag v5.15.8-lts-lgpl (Controls 1, Dialogs 1)
# They are patched in place where this build leaves parts out (see below).
# Usage: scripts/build-windows-qt.sh SOURCES [PREFIX]   (PREFIX: build-windows-qt/qt5-mingw64)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n '2,/^# Usage/p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
sources=$(cd "$1" && pwd)
prefix=${2:-$PWD/build-windows-qt/qt5-mingw64}
version=5.15.8
for tree in qtbase qtdeclarative qtquickcontrols; do
    [ -d "$sources/$tree-everywhere-src-$version" ] \
        || { echo "build-windows-qt: no $sources/$tree-everywhere-src-$version" >&2; exit 1; }
done
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix make perl python3; do
    command -v "$tool" > /dev/null || { echo "build-windows-qt: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt's configure calls the compilers by their plain names; Debian's plain
# names are the win32 thread model, which has no std::mutex.
mkdir "$work/bin"
for tool in gcc g++ c++ cpp; do
    ln -s "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/bin/x86_64-w64-mingw32-$tool"
done
export PATH=$work/bin:$PATH

base=$sources/qtbase-everywhere-src-$version
# Debian's source package leaves out the Wintab headers: the Windows platform
# plugin goes without Wintab tablets (pen input through Windows Ink stays).
sed -i 's/QT_CONFIG(tabletevent)/0 \/* no Wintab headers in the source package *\//' \
    "$base/src/plugins/platforms/windows/qwindowscontext.cpp"
sed -i 's/^qtConfig(tabletevent) {/false {/' "$base/src/plugins/platforms/windows/windows.pri"
# The Direct3D 12 scene graph needs Microsoft's shader compiler fxc.exe.
sed -i 's/^qtConfig(d3d12): SUBDIRS += d3d12/# d3d12: needs fxc.exe/' \
    "$sources/qtdeclarative-everywhere-src-$version/src/plugins/scenegraph/scenegraph.pro"

mkdir "$work/qtbase"
(cd "$work/qtbase" && "$base/configure" -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
    -prefix "$prefix" -opensource -confirm-license -release -shared -opengl desktop \
    -nomake examples -nomake tests -no-widgets -no-dbus -no-icu -no-sql-sqlite -no-sql-odbc -no-feature-sql \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
    && make -j"$(nproc)" && make install)
for module in qtdeclarative qtquickcontrols; do
    mkdir "$work/$module"
    (cd "$work/$module" && "$prefix/bin/qmake" "$sources/$module-everywhere-src-$version" \
        && make -j"$(nproc)" && make install)
done
if [ "$prefix" = "$PWD/build-windows-qt/qt5-mingw64" ]; then
    echo "build-windows-qt: Qt for Windows in $prefix; scripts/build-windows.sh takes it from there"
else
    echo "build-windows-qt: Qt for Windows in $prefix; build with: ZUDIRUV_WINDOWS_QT=$prefix scripts/build-windows.sh"
fi
