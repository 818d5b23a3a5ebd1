#!/usr/bin/env bash
# Checks what the Windows build and the resource bundle take as finished files:
# the resource script compiles with the 32-bit cross resource compiler and
# carries the icon group and version block, and so does the built
# ZUDiruv.exe (a GUI-subsystem program) where the Windows build made one; the
# icon holds its ten 32-bit sizes, and the bundle's four pictures have their
# sizes and formats.
# Usage: check_windows_resources.sh <repo root> [<built ZUDiruv.exe>]
set -uo pipefail

repo=${1:-${ZUDIRUV_SOURCE_DIR:-}}
program=${2:-}
[ -n "$repo" ] && [ -d "$repo" ] || { echo "usage: $0 <repo root>" >&2; exit 2; }
rc_file=$repo/packaging/windows/zudiruv.rc
ico_file=$repo/packaging/windows/zudiruv.ico
resources=$repo/qml/content/resources
# Windows SDK-style headers for winresrc.h (package mingw-w64-common).
mingw_include=/usr/share/mingw-w64/include

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; passes=$((passes + 1)); }
expect_equal() {  # what expected actual
    if [ "$2" == "$3" ]; then
        pass "$1"
    else
        fail "$1"$'\n'"  expected:"$'\n'"$(sed 's/^/    /' <<< "$2")"$'\n'"  actual:"$'\n'"$(sed 's/^/    /' <<< "$3")"
    fi
}

# All bytes of a file as decimal numbers, into the array named by $2.
read_bytes() { read -r -d '' -a "$2" < <(od -An -v -tu1 "$1"; printf '\0'); }

# --- Resource script --------------------------------------------------------

# The cross binutils come without the cross compiler that windres would use as
# its preprocessor, so the host's cpp stands in with the two symbols the
# target's compiler would define. Run from the scratch folder: the icon must be
# found next to the script, as the Windows build finds it.
object=$scratch/zudiruv_rc.o
if (cd "$scratch" && i686-w64-mingw32-windres \
        --preprocessor=cpp --preprocessor-arg=-D_WIN32 --preprocessor-arg=-DRC_INVOKED \
        --include-dir="$mingw_include" --output-format=coff \
        "$rc_file" -o "$object") 2> "$scratch/windres.log"; then
    pass "windres compiles zudiruv.rc"
else
    fail "windres compiles zudiruv.rc:"$'\n'"$(sed 's/^/  /' "$scratch/windres.log")"
fi

# check_resources LABEL DECOMPILED: the icon group and the version block as
# windres writes them back out of an object or an executable.
check_resources() {
    local label=$1 decompiled=$2 group version fixed strings
    # Icon group: name, element count, and one line per element with its bit count.
    group=$(sed -n '/^"IDI_ICON1" 14/,/^END/p' "$decompiled")
    if [ -z "$group" ]; then
        fail "$label: icon group is named IDI_ICON1"
    else
        pass "$label: icon group is named IDI_ICON1"
        expect_equal "$label: icon group has ten images" "10" \
            "$(grep -oE 'Has [0-9]+ elements' <<< "$group" | grep -oE '[0-9]+')"
        expect_equal "$label: every icon group image is 32-bit" "10" \
            "$(grep -cE '^ *"[^"]*", 1, 32, ' <<< "$group")"
    fi

    version=$(sed -n '/VERSIONINFO$/,$p' "$decompiled")
    fixed=$(sed -n '2,/^BEGIN/p' <<< "$version" | sed '$d' | sed 's/^ *//')
    # windres leaves out fields that are zero: FILEFLAGS 0 and FILESUBTYPE.
    expect_equal "$label: version block fixed part" \
        "FILEVERSION 1, 0, 0, 0|PRODUCTVERSION 1, 0, 0, 0|FILEFLAGSMASK 0x3f|FILEOS 0x4|FILETYPE 0x1" \
        "$(paste -sd'|' <<< "$fixed")"
    grep -qE '^VS_VERSION_INFO|^1 VERSIONINFO$' <<< "$version" \
        && pass "$label: version block has id 1 (VS_VERSION_INFO)" \
        || fail "$label: version block has id 1 (VS_VERSION_INFO)"

    strings=$(sed -n '/BLOCK "040904b0"/,/^    END/p' <<< "$version" | grep 'VALUE' | sed 's/^ *//')
    expect_equal "$label: string table 040904b0, every entry in order" \
'VALUE "CompanyName", "Osterline Devices, LLC"
VALUE "FileDescription", ""
VALUE "FileVersion", "1.0.0.0"
VALUE "OriginalFilename", "zudiruv.exe"
VALUE "ProductName", "ZUDiruv"
VALUE "ProductVersion", "1.0.0.0"
VALUE "LegalCopyright", "Copyright (C) Osterline Devices, LLC"' "$strings"
    expect_equal "$label: one string table only" "1" "$(grep -c 'BLOCK "[0-9a-fA-F]\{8\}"' <<< "$version")"
    expect_equal "$label: translation entry" 'VALUE "Translation", 0x409, 1200' \
        "$(grep 'Translation' <<< "$version" | sed 's/^ *//')"
}

if [ -s "$object" ]; then
    # 0x014c: the COFF machine type of a 32-bit x86 object.
    expect_equal "object is i386 COFF" "76 1" "$(od -An -tu1 -N2 "$object" | xargs)"
    i686-w64-mingw32-windres --input-format=coff --output-format=rc -i "$object" -o "$scratch/object.rc" \
        || fail "windres reads the object back"
    check_resources "zudiruv.rc" "$scratch/object.rc"
fi

# --- The built program ------------------------------------------------------

if [ -n "$program" ] && [ -f "$program" ]; then
    # The resources as the Windows build linked them into the program.
    x86_64-w64-mingw32-windres --input-format=coff --output-format=rc -i "$program" -o "$scratch/program.rc" \
        || fail "windres reads ZUDiruv.exe's resources"
    check_resources "ZUDiruv.exe" "$scratch/program.rc"
    # Subsystem 2, the Windows GUI: no console window opens with it.
    expect_equal "ZUDiruv.exe is a 64-bit Windows GUI program" "pei-x86-64 00000002" \
        "$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^.*file format //p; s/^Subsystem[[:space:]]*\([0-9]*\).*/\1/p' | xargs)"
elif [ -n "$program" ]; then
    echo "note: no $program (the Windows build makes it with a Qt for Windows); its resources are not checked"
fi

# --- Icon file --------------------------------------------------------------

listing=$(icotool --list "$ico_file" 2>&1)
expect_equal "icon holds 16 to 512 px, square, 32-bit" \
    "16x16:32 24x24:32 32x32:32 48x48:32 64x64:32 96x96:32 128x128:32 192x192:32 256x256:32 512x512:32" \
    "$(sed -nE 's/.*--width=([0-9]+) --height=([0-9]+) --bit-depth=([0-9]+).*/\1x\2:\3/p' <<< "$listing" | xargs)"
expect_equal "icon holds icons, not cursors" "10" "$(grep -c '^--icon ' <<< "$listing")"

# --- Bundle pictures --------------------------------------------------------

check_png() {  # file width height
    local name=${1##*/}
    local -a b
    read_bytes "$1" b
    if [ "${b[*]:0:8}" != "137 80 78 71 13 10 26 10" ] || [ "${b[*]:12:4}" != "73 72 68 82" ]; then
        fail "$name is a PNG"
        return
    fi
    local width=$(( (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19] ))
    local height=$(( (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23] ))
    expect_equal "$name size" "$2x$3" "${width}x${height}"
    # Colour type 6 is truecolour with alpha; 8 bits a sample make it RGBA.
    expect_equal "$name is 8-bit RGBA" "8 6" "${b[24]} ${b[25]}"
}

# Walks the GIF's blocks and prints one "width height" line per image in it.
gif_frames() {
    local -a b
    read_bytes "$1" b
    local n=${#b[@]} p=13 flags=${b[10]:-0}
    (( flags & 128 )) && p=$(( p + 3 * (1 << ((flags & 7) + 1)) ))
    while (( p < n )); do
        case ${b[p]} in
        33)  # extension: label, then data sub-blocks
            p=$(( p + 2 ))
            while (( p < n && b[p] != 0 )); do p=$(( p + b[p] + 1 )); done
            p=$(( p + 1 )) ;;
        44)  # image descriptor, optional local table, LZW code size, data sub-blocks
            echo "$(( b[p+5] | b[p+6] << 8 )) $(( b[p+7] | b[p+8] << 8 ))"
            flags=${b[p+9]}
            p=$(( p + 10 ))
            (( flags & 128 )) && p=$(( p + 3 * (1 << ((flags & 7) + 1)) ))
            p=$(( p + 1 ))
            while (( p < n && b[p] != 0 )); do p=$(( p + b[p] + 1 )); done
            p=$(( p + 1 )) ;;
        59) echo trailer; return 0 ;;
        *) echo "bad block at $p"; return 1 ;;
        esac
    done
    echo "no trailer"
    return 1
}

check_gif() {  # file width height
    local name=${1##*/} signature
    signature=$(head -c 6 "$1")
    if [ "$signature" != "GIF89a" ] && [ "$signature" != "GIF87a" ]; then
        fail "$name is a GIF"
        return
    fi
    local -a b
    read_bytes "$1" b
    expect_equal "$name size" "$2x$3" "$(( b[6] | b[7] << 8 ))x$(( b[8] | b[9] << 8 ))"
    expect_equal "$name is one full-size frame" "$2 $3|trailer" "$(gif_frames "$1" | paste -sd'|')"
}

# Each image also at twice and three times its size, for scaled screens.
for scale in 1 2 3; do
    suffix=$([ "$scale" = 1 ] || echo "@${scale}x")
    check_png "$resources/vqlogo$suffix.png" $((290 * scale)) $((53 * scale))
    check_png "$resources/upload-checkmark$suffix.png" $((320 * scale)) $((300 * scale))
    check_gif "$resources/upload-dropfile$suffix.gif" $((320 * scale)) $((300 * scale))
    check_gif "$resources/upload-dropfile-entered$suffix.gif" $((320 * scale)) $((300 * scale))
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
