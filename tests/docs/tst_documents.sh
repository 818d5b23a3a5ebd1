#!/usr/bin/env bash
# The documents against the programs: README.md and docs/*.md must name only
# commands that exist and options that each program's --help and man page
# know, and every --help option must be in the man page. Then the same check
# on a sample that has drifted, which must be caught finding by finding.
# Usage: tst_documents.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin=${1:?usage: $0 BIN_DIR SOURCE_DIR}
source=${2:?usage: $0 BIN_DIR SOURCE_DIR}
here=$(dirname "$0")
checker=$here/check_documents.py

failures=0
python3 "$checker" --bin "$bin" --source "$source" || failures=$((failures + 1))

# A man page that lost an option the program still has.
man=$(mktemp -d)
trap 'rm -rf "$man"' EXIT
cp "$source"/packaging/linux/man/*.1 "$man"/
sed -i '/verbose/d' "$man/eflash.exe.1"
found=$(python3 "$checker" --bin "$bin" --source "$source" --man "$man" "$here/drift-sample.md")
status=$?
expected=(
    "eflash.exe: --verbose of its --help is not in its man page"
    "drift-sample.md:4: zudiruv-fleet: --no-such-option is not in its --help"
    "drift-sample.md:4: zudiruv-fleet: --no-such-option is not in its man page"
    "drift-sample.md:6: scripts/no-such-script.sh does not exist or cannot be run"
    "drift-sample.md:7: zudiruv-flet: no such program of ours"
    "drift-sample.md:10: eflash.exe: --verbose is not in its man page"
    "drift-sample.md:10: eflash.exe: --retries is not in its --help"
    "drift-sample.md:10: eflash.exe: --retries is not in its man page"
    "drift-sample.md:13: arpping.exe: --ports is not in its --help"
    "drift-sample.md:13: arpping.exe: --ports is not in its man page"
)
if [ "$status" -ne 1 ]; then
    echo "FAIL: the drifted sample ended with status $status, not 1"
    failures=$((failures + 1))
fi
for finding in "${expected[@]}"; do
    grep -qF -- "$finding" <<< "$found" || { echo "FAIL: not found: $finding"; failures=$((failures + 1)); }
done
count=$(grep -c -v ' documents checked, ' <<< "$found")
if [ "$count" -ne ${#expected[@]} ]; then
    echo "FAIL: $count findings in the drifted sample, expected ${#expected[@]}:"
    echo "$found"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "PASS: the documents match the programs, and drift is caught"
[ "$failures" -eq 0 ]
