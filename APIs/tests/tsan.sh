#!/bin/sh
# Builds the library, nettlebeamd and the threaded tests with ThreadSanitizer
# in build-tsan/ and runs them. Slower than the normal test run, so it is a
# separate step: ./APIs/tests/tsan.sh [build folder]
set -eu
cd "$(dirname "$0")/../.."
build="${1:-build-tsan}"
tests="concurrency_test library_frame_test callbacks_test firmware_update_test"
cmake -S . -B "$build" -DNETTLEBEAM_SANITIZE=thread -DNETTLEBEAM_BUILD_MANAGER=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target nettlebeamd $tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
for test in $tests; do
    "$build/APIs/tests/$test"
done
echo "ThreadSanitizer: all threaded library tests passed"
