#!/usr/bin/env bash
# Runs one ctest pass and fails it when the suite has shrunk: when any test
# was skipped, disabled or not run, or when a test recorded for the pass in
# .ci/tests/<pass> is missing from the run (a test program that stops being
# built, tests that stop being discovered, a renamed test). The missing tests
# are named.
#
#   scripts/ctest-pass.sh <pass> <build folder> [ctest arguments...]
#
# The results stay in <build folder>/ctest-<pass>.xml. Tests the run has
# beyond the list are printed and pass; record them (and renames) with
#   scripts/record-tests.sh
# after the run, which rewrites the lists from the results of the last run
# of every pass, or with NETTLEBEAM_RECORD_TESTS=1 set for this script,
# which rewrites this pass's list when the pass succeeds.
#   NETTLEBEAM_TEST_LISTS=<folder>  where the lists are (default .ci/tests)
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: scripts/ctest-pass.sh <pass> <build folder> [ctest arguments...]" >&2
    exit 2
fi
pass=$1
build=$(cd "$2" && pwd)
shift 2
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lists="${NETTLEBEAM_TEST_LISTS:-$root/.ci/tests}"
list="$lists/$pass"

if [[ ! -f $list ]]; then
    echo "ctest-pass: no list of the tests of the pass '$pass' ($list)" >&2
    exit 2
fi

junit="$build/ctest-$pass.xml"
rm -f "$junit"
status=0
ctest --test-dir "$build" --output-junit "$junit" "$@" || status=$?
if [[ ! -s $junit ]]; then
    echo "ctest-pass $pass: ctest wrote no results ($junit)" >&2
    exit 1
fi

# ctest writes one <testcase ...> element per line; its status is "run" for a
# test that passed, "fail" for one that failed, and "notrun" or "disabled" for
# one that was skipped, not built or switched off.
statuses=$(grep -E '^[[:space:]]*<testcase ' "$junit" | grep -oE ' status="[a-z]+"' || true)
count() { grep -c "\"$1\"" <<<"$statuses" || true; }
passed=$(count run)
failed=$(count fail)
skipped=$(grep -cvE '"(run|fail)"' <<<"$statuses" || true)
[[ -n $statuses ]] || skipped=0

if [[ $skipped -gt 0 ]]; then
    echo "ctest-pass $pass: $skipped tests did not run:" >&2
    grep -E '^[[:space:]]*<testcase ' "$junit" | grep -vE ' status="(run|fail)"' |
        sed -E 's/^[[:space:]]*<testcase name="([^"]*)".* status="([a-z]+)".*/  \1 (\2)/' >&2
    status=1
fi

# The names the run has (whatever their outcome) against the recorded ones.
ran=$("$root/scripts/record-tests.sh" --names "$junit")
recorded=$(grep -vE '^(#|$)' "$list" | LC_ALL=C sort -u)
missing=$(LC_ALL=C comm -23 <(echo "$recorded") <(echo "$ran") | sed '/^$/d')
added=$(LC_ALL=C comm -13 <(echo "$recorded") <(echo "$ran") | sed '/^$/d')
if [[ -n $missing ]]; then
    echo "ctest-pass $pass: $(wc -l <<<"$missing") tests recorded in ${list#"$root/"} did not run:" >&2
    sed 's/^/  /' <<<"$missing" >&2
    status=1
fi
echo "ctest-pass $pass: $passed passed, $failed failed, $skipped not run" \
    "($(grep -c . <<<"$recorded") recorded)"
if [[ -n $added ]]; then
    echo "ctest-pass $pass: $(wc -l <<<"$added") tests are not recorded yet:"
    sed 's/^/  /' <<<"$added"
    if [[ $status -eq 0 && ${NETTLEBEAM_RECORD_TESTS:-0} == 1 ]]; then
        "$root/scripts/record-tests.sh" "$pass=$junit"
    else
        echo "ctest-pass $pass: record them with scripts/record-tests.sh"
    fi
fi
exit $status
