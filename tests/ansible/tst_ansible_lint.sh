#!/usr/bin/env bash
# The collection as ansible-lint (production profile, offline) and ansible-doc
# read it, and the sanity tests of ansible-test that need no download (its
# others install their tools from the internet), from a path
# ansible_collections/velquor/zudiruv as those tools expect.
source "$(dirname "$0")/../support/scratch.sh"
source_dir=$(cd "$(dirname "$0")/../../ansible" && pwd)
for tool in ansible-lint ansible-doc ansible-test; do
    command -v "$tool" > /dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
enter_scratch_dir
mkdir -p ansible_collections/velquor
cp -r "$source_dir" ansible_collections/velquor/zudiruv
export HOME=$work ANSIBLE_HOME=$work/.ansible ANSIBLE_COLLECTIONS_PATH=$work ANSIBLE_NOCOLOR=1 NO_COLOR=1
cd ansible_collections/velquor/zudiruv || exit 1

failures=0
run() { # DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@" > "$work/run.out" 2>&1; then
        echo "ok   - $description"
    else
        echo "FAIL - $description"
        cat "$work/run.out"
        failures=$((failures + 1))
    fi
}
run "ansible-lint, production profile, strict" ansible-lint --offline --profile production --strict
run "the module's documentation reads" ansible-doc -t module velquor.zudiruv.fleet
run "the roles' argument specs read" ansible-doc -t role velquor.zudiruv.site_update velquor.zudiruv.estate_summary
python=$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
offline_tests=(compile shebang line-endings future-import-boilerplate metaclass-boilerplate no-assert no-basestring
    no-dict-iteritems no-get-exception no-smart-quotes use-compat-six empty-init symlinks)
run "ansible-test sanity: ${offline_tests[*]}" \
    ansible-test sanity --local --python "$python" "${offline_tests[@]/#/--test=}"
echo "$failures failed"
[ "$failures" -eq 0 ]
