#!/usr/bin/env bash
# Records the tests each CI pass must run, in .ci/tests/<pass> (one test name
# a line, sorted), from the results of the pass's last run
# (scripts/ctest-pass.sh keeps them). After tests were added or renamed,
# run the passes (./.ci/run), then this, and commit what it changed:
#
#   scripts/record-tests.sh                 every pass from its last results:
#                                             gcc   build/ctest-gcc.xml
#                                             tsan  build-tsan/ctest-tsan.xml
#                                             asan  build-asan/ctest-asan.xml
#   scripts/record-tests.sh <pass>=<results file>...
#   scripts/record-tests.sh --names <results file>   prints the names only
#
# Every name of the results goes in, whatever the test's outcome. Nothing is
# written unless every results file named can be read. The changes are
# printed (+ added, - gone).
#   NETTLEBEAM_TEST_LISTS=<folder>  where the lists are (default .ci/tests)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lists="${NETTLEBEAM_TEST_LISTS:-$root/.ci/tests}"

# The test names of a ctest JUnit file: one <testcase name="..." ...> a line,
# with the XML escapes ctest writes undone.
names() {
    { grep -E '^[[:space:]]*<testcase ' "$1" || true; } |
        sed -E 's/^[[:space:]]*<testcase name="([^"]*)".*/\1/' |
        sed -e 's/&quot;/"/g' -e "s/&apos;/'/g" -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&amp;/\&/g' |
        LC_ALL=C sort -u
}

if [[ ${1:-} == --names ]]; then
    [[ $# == 2 && -s $2 ]] || {
        echo "record-tests: --names needs one results file" >&2
        exit 2
    }
    names "$2"
    exit 0
fi

if [[ $# == 0 ]]; then
    set -- "gcc=$root/build/ctest-gcc.xml" "tsan=$root/build-tsan/ctest-tsan.xml" \
        "asan=$root/build-asan/ctest-asan.xml"
fi
for entry in "$@"; do
    pass=${entry%%=*}
    results=${entry#*=}
    if [[ $entry != *=* || ! $pass =~ ^[a-z0-9_-]+$ ]]; then
        echo "record-tests: '$entry' is not <pass>=<results file>" >&2
        exit 2
    fi
    if ! grep -qE '^[[:space:]]*<testcase ' "$results" 2>/dev/null; then
        echo "record-tests: no test results for the pass $pass in $results; nothing recorded" >&2
        exit 1
    fi
done

mkdir -p "$lists"
for entry in "$@"; do
    pass=${entry%%=*}
    results=${entry#*=}
    list="$lists/$pass"
    before=$(grep -vsE '^(#|$)' "$list" | LC_ALL=C sort -u || true)
    after=$(names "$results")
    {
        echo "# The tests the $pass pass must run (scripts/ctest-pass.sh fails when one is"
        echo "# missing). Written by scripts/record-tests.sh from the pass's results."
        echo "$after"
    } >"$list.new"
    mv "$list.new" "$list"
    added=$(LC_ALL=C comm -13 <(echo "$before") <(echo "$after") | sed '/^$/d')
    gone=$(LC_ALL=C comm -23 <(echo "$before") <(echo "$after") | sed '/^$/d')
    echo "record-tests $pass: $(grep -c . <<<"$after") tests" \
        "(+$(grep -c . <<<"$added" || true) -$(grep -c . <<<"$gone" || true)) in ${list#"$root/"}"
    [[ -z $added ]] || sed 's/^/  + /' <<<"$added"
    [[ -z $gone ]] || sed 's/^/  - /' <<<"$gone"
done
