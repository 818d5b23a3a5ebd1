# Shared by the package tests, after tests/tools/linklib.sh: the package
# built for them and small readers for what it holds.

app_id=com.osterline_devices.zudiruv

# Sets $deb to the one package in $1.
find_package() {
    local found=("$1"/zudiruv_*.deb)
    [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] || { echo "FAIL - no single zudiruv package in $1"; exit 1; }
    deb=${found[0]}
}

# "WIDTHxHEIGHT" of a PNG, from its IHDR chunk.
png_size() {
    local -a b
    read -r -a b < <(od -An -v -tu1 -j16 -N8 "$1" | xargs)
    echo "$(( b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3] ))x$(( b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7] ))"
}

# check, then FILE shown indented when the check failed.
check_showing() {  # file description command...
    local file=$1 before=$failures
    shift
    check "$@"
    [ "$failures" -eq "$before" ] || sed 's/^/    /' "$file"
}
