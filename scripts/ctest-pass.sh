#!/usr/bin/env bash
# Runs one ctest pass and fails it when the suite has shrunk: when any test
# was skipped, disabled or not run, or when fewer tests ran than the floor
# recorded for the pass in .ci/test-floor.
#
#   scripts/ctest-pass.sh <pass> <build folder> [ctest arguments...]
#
# <pass> names the floor (a line "<pass> <count>" in .ci/test-floor). Tests
# that are added raise the count a pass prints; record it with
#   NETTLEBEAM_RAISE_TEST_FLOOR=1 scripts/ctest-pass.sh <pass> <build folder> ...
# which writes the new count into .ci/test-floor when the pass succeeds.
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: scripts/ctest-pass.sh <pass> <build folder> [ctest arguments...]" >&2
    exit 2
fi
pass=$1
build=$(cd "$2" && pwd)
shift 2
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
floors="$root/.ci/test-floor"

floor=$(awk -v pass="$pass" '$1 == pass { print $2 }' "$floors")
if [[ ! $floor =~ ^[0-9]+$ ]]; then
    echo "ctest-pass: .ci/test-floor has no count for the pass '$pass'" >&2
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
ran=$((passed + failed))
skipped=$(grep -cvE '"(run|fail)"' <<<"$statuses" || true)
[[ -n $statuses ]] || skipped=0

if [[ $skipped -gt 0 ]]; then
    echo "ctest-pass $pass: $skipped tests did not run:" >&2
    grep -E '^[[:space:]]*<testcase ' "$junit" | grep -vE ' status="(run|fail)"' |
        sed -E 's/^[[:space:]]*<testcase name="([^"]*)".* status="([a-z]+)".*/  \1 (\2)/' >&2
    status=1
fi
if [[ $ran -lt $floor ]]; then
    echo "ctest-pass $pass: $ran tests ran, fewer than the $floor recorded in .ci/test-floor" >&2
    status=1
fi
echo "ctest-pass $pass: $passed passed, $failed failed, $skipped not run (floor $floor)"
if [[ $status -eq 0 && $ran -gt $floor ]]; then
    if [[ ${NETTLEBEAM_RAISE_TEST_FLOOR:-0} == 1 ]]; then
        sed -i -E "s/^$pass [0-9]+/$pass $ran/" "$floors"
        echo "ctest-pass $pass: the floor in .ci/test-floor is now $ran"
    else
        echo "ctest-pass $pass: $((ran - floor)) tests more than the floor; record them in .ci/test-floor"
    fi
fi
exit $status
