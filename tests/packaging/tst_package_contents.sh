#!/usr/bin/env bash
# What the Debian package holds and declares: lintian finds no error, the files
# are exactly what the install rules promise (nothing from the build tree),
# the QML modules the scenes import are in Depends, and the desktop entry,
# AppStream data, icons and manual pages pass their own validators.
# Usage: tst_package_contents.sh PACKAGE_DIR with|without-fleet
source "$(dirname "$0")/../tools/linklib.sh"
source "$(dirname "$0")/packagelib.sh"
find_package "$1"
fleet=${2:?usage: $0 PACKAGE_DIR with-fleet|without-fleet}

tree=$work/tree
dpkg-deb -x "$deb" "$tree"
field() { dpkg-deb -f "$deb" "$1"; }
# One package name per line, without versions or alternatives.
package_names() { tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//' | sed '/^$/d' | sort -u; }

# --- lintian ------------------------------------------------------------------

lintian --tag-display-limit 0 --display-info "$deb" > "$work/lintian.out" 2>&1
echo "lintian says:"
sed 's/^/  /' "$work/lintian.out"
check "lintian reports no error" eval '! grep -q "^E: " "$work/lintian.out"'
check "lintian ran on the package" eval '! grep -qiE "^(internal error|lintian: )" "$work/lintian.out"'

# --- files ----------------------------------------------------------------------

libexec=usr/libexec/zudiruv
expected=(
    "rwxr-xr-x usr/bin/zudiruv"
    "rwxr-xr-x $libexec/zudiruv"
    "rwxr-xr-x $libexec/eflash.exe"
    "rwxr-xr-x $libexec/arpping.exe"
    "rw-r--r-- usr/share/applications/$app_id.desktop"
    "rw-r--r-- usr/share/metainfo/$app_id.metainfo.xml"
    "rw-r--r-- usr/share/icons/hicolor/scalable/apps/zudiruv.svg"
    "rw-r--r-- usr/share/doc/zudiruv/copyright"
    "rw-r--r-- usr/share/doc/zudiruv/changelog.Debian.gz"
    "rw-r--r-- usr/share/lintian/overrides/zudiruv"
)
for size in 16 22 24 32 48 64 128 256 512; do
    expected+=("rw-r--r-- usr/share/icons/hicolor/${size}x${size}/apps/zudiruv.png")
done
for page in zudiruv eflash.exe arpping.exe; do
    expected+=("rw-r--r-- usr/share/man/man1/$page.1.gz")
done
if [ "$fleet" = with-fleet ]; then
    expected+=("rwxr-xr-x usr/bin/zudiruv-fleet" "rw-r--r-- usr/share/man/man1/zudiruv-fleet.1.gz")
fi
# Mode (without the type letter) and path of every entry that is not a folder.
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print substr($1, 2), $6 }' | sort)
expect_same() { [ "$1" == "$2" ] || diff <(echo "$1") <(echo "$2"); }
check "files and modes are exactly those promised" \
    expect_same "$(printf '%s\n' "${expected[@]}" | sort)" "$actual"
check "everything belongs to root" eval '[ -z "$(dpkg-deb -c "$deb" | awk "\$2 != \"root/root\"")" ]'
check "folders are 0755" eval '[ -z "$(dpkg-deb -c "$deb" | awk "\$1 ~ /^d/ && \$1 != \"drwxr-xr-x\"")" ]'

elf_files=("$tree/usr/bin/zudiruv-fleet" "$tree/$libexec"/*)
for file in "${elf_files[@]}"; do
    [ -f "$file" ] || continue
    name=${file#"$tree"/}
    check "$name is stripped and searches no private library path" \
        eval '! readelf -S "$file" | grep -q "\.debug_info" && ! readelf -d "$file" | grep -qE "RPATH|RUNPATH"'
done
build_root=$(cd "${ZUDIRUV_BIN_DIR:?}/.." && pwd)
check "no file names the build tree" eval '! grep -rlF "$build_root" "$tree"'

# --- control fields ------------------------------------------------------------

depends=$(field Depends | package_names)
# Every module the scenes import must be present at run time, and shared
# library scanning cannot see them: find the package that ships each one.
# Modules the program registers itself have no folder to find.
qml_root=$(qmake -query QT_INSTALL_QML 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/qml)
module_package() {  # uri major-version
    local path=${1//./\/} base=${1%%.*} rest candidate
    rest=${path#"$base"}
    for candidate in "$path.$2" "$base.$2$rest" "$path"; do
        [ -f "$qml_root/$candidate/qmldir" ] && { dpkg-query -S "$qml_root/$candidate/qmldir" | cut -d: -f1; return; }
    done
    echo "missing:$1"
}
registered=$(grep -ohE 'qmlRegister[A-Za-z]*<[^>]*>\("[^"]+"' "$ZUDIRUV_SOURCE_DIR"/src -r | sed -E 's/.*\("//; s/"$//' | sort -u)
imported=$(grep -rhE '^\s*import [A-Za-z][A-Za-z0-9.]* [0-9]' "$ZUDIRUV_SOURCE_DIR/qml" | awk '{ print $2, $3 }' | sort -u)
needed_modules=$(while read -r uri version; do
    grep -qxF "$uri" <<< "$registered" && continue
    module_package "$uri" "${version%%.*}"
done <<< "$imported" | sort -u)
echo "QML modules the scenes import come from: $(echo $needed_modules)"
check "the scenes import modules found on this system" eval '! grep -q "^missing:" <<< "$needed_modules"'
check "Depends holds exactly the QML module packages the scenes import" \
    expect_same "$needed_modules" "$(grep '^qml-module-' <<< "$depends")"
check "Depends holds the Qt libraries found by shared-library scanning" \
    eval 'grep -qx libqt5quick5 <<< "$depends" && grep -qx libc6 <<< "$depends"'
check "Depends holds libcap2-bin for the capability step" grep -qx libcap2-bin <<< "$depends"
check "Recommends the GTK platform theme for the desktop's file dialog" \
    grep -qx qt5-gtk-platformtheme <<< "$(field Recommends | package_names)"
check "the package has a postinst" eval 'dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx "./postinst"'

# --- desktop integration -----------------------------------------------------

desktop=$tree/usr/share/applications/$app_id.desktop
metainfo=$tree/usr/share/metainfo/$app_id.metainfo.xml
check "desktop-file-validate finds nothing" eval '[ -z "$(desktop-file-validate "$desktop" 2>&1)" ]'
check "appstreamcli validates the metainfo" appstreamcli validate --no-net "$metainfo"
check "the menu entry starts the launcher on the command path" grep -qx 'Exec=zudiruv' "$desktop"
check "the metainfo launches this desktop entry" grep -q "<launchable type=\"desktop-id\">$app_id.desktop<" "$metainfo"
check "the metainfo has a description and a screenshot" \
    eval 'grep -q "<description>" "$metainfo" && grep -qE "<image>https://[^<]+\.png</image>" "$metainfo"'
icon=$(sed -n 's/^Icon=//p' "$desktop")
for png in "$tree"/usr/share/icons/hicolor/*/apps/*.png; do
    size=${png%/apps/*}
    size=${size##*/}
    check "icon $size is a ${size} PNG named as the entry's icon" \
        eval '[ "$(basename "$png" .png)" = "$icon" ] && [ "$(png_size "$png")" = "$size" ]'
done

# --- manual pages ------------------------------------------------------------

for command in "$tree"/usr/bin/* "$tree/$libexec"/*.exe; do
    page=$tree/usr/share/man/man1/$(basename "$command").1.gz
    check "$(basename "$command") has a manual page that man reads without warnings" \
        eval '[ -f "$page" ] && [ -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)" ]'
done

finish
