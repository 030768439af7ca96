#!/usr/bin/env bash
# Sanitizer passes over the test suite, each in its own build folder.
#
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer
#                                 + LeakSanitizer over the whole ctest suite
#   scripts/sanitize.sh thread    ThreadSanitizer over the tests labelled
#                                 `concurrency`
#
#   NETTLEBEAM_SANITIZE_BUILD=<folder>  build folder (default build-asan / build-tsan)
#   NETTLEBEAM_SANITIZE_JOBS=<n>        build and test jobs (default 2)
# Any sanitizer report fails the run.
set -euo pipefail

kind="${1:-}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${NETTLEBEAM_SANITIZE_JOBS:-2}"
suppressions="$root/fuzz/lsan.supp"

case "$kind" in
    address) default_build="$root/build-asan" ;;
    thread) default_build="$root/build-tsan" ;;
    *)
        echo "usage: scripts/sanitize.sh address|thread" >&2
        exit 2
        ;;
esac
build="${NETTLEBEAM_SANITIZE_BUILD:-$default_build}"

# No -Werror here: with the sanitizers GCC reports false "maybe uninitialized"
# warnings inside the standard library (<regex>); the normal build keeps -Werror.
cmake -S "$root" -B "$build" -DNETTLEBEAM_SANITIZE="$kind" -DNETTLEBEAM_BUILD_MANAGER=OFF \
    -DNETTLEBEAM_WERROR=OFF >/dev/null
cmake --build "$build" -j"$jobs"

# Reports stop the test that made them; leaks are reported at exit.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$suppressions"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

if [[ $kind == address ]]; then
    ctest --test-dir "$build" -j"$jobs" --output-on-failure --timeout 600
    exit 0
fi

labelled=$(ctest --test-dir "$build" -N -L concurrency | sed -n 's/^Total Tests: //p')
if [[ ${labelled:-0} -eq 0 ]]; then
    echo "sanitize thread: no test carries the CTest label 'concurrency'" >&2
    exit 1
fi
ctest --test-dir "$build" -j"$jobs" -L concurrency --output-on-failure --timeout 600
