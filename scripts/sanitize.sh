#!/usr/bin/env bash
# Sanitizer passes over the test suite, each in its own build folder.
#
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer
#                                 + LeakSanitizer over the whole ctest suite
#                                 (clang; the build also holds the fuzz targets,
#                                 but not the benchmarks and the manager's
#                                 probe and screenshot tools, which no test runs)
#   scripts/sanitize.sh thread    ThreadSanitizer over the tests labelled
#                                 `concurrency` (builds only their programs)
#
#   NETTLEBEAM_SANITIZE_BUILD=<folder>  build folder (default build-asan / build-tsan)
#   NETTLEBEAM_SANITIZE_JOBS=<n>        build and test jobs (default: the cores)
# Any sanitizer report fails the run, and so does a pass that skipped a test
# or missed one recorded in .ci/tests/asan or .ci/tests/tsan
# (scripts/ctest-pass.sh).
set -euo pipefail

kind="${1:-}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${NETTLEBEAM_SANITIZE_JOBS:-$(nproc)}"
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

# No -Werror here: the sanitizers make compilers report false "maybe
# uninitialized" warnings inside the standard library; the normal build keeps
# -Werror. The address pass builds with clang and instruments every component
# for coverage as well, so the same build also runs the fuzz targets
# (fuzz/run.sh with NETTLEBEAM_FUZZ_BUILD pointing at it).
# -O1 with line tables keeps reports readable and the build short (a third
# less compile time than -O2 -g).
# The configure's progress goes to configure.log in the build folder; its
# warnings and errors are printed.
mkdir -p "$build"
# Test discovery runs the test programs while building: the leak check's
# suppressions apply there too.
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
started=$SECONDS
if [[ $kind == address ]]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DNETTLEBEAM_FUZZ=ON \
        -DNETTLEBEAM_BUILD_TESTS=ON -DNETTLEBEAM_BUILD_BENCH=OFF -DNETTLEBEAM_WERROR=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" >"$build/configure.log"
    cmake --build "$build" -j"$jobs"
else
    cmake -S "$root" -B "$build" -DNETTLEBEAM_SANITIZE=thread -DNETTLEBEAM_BUILD_MANAGER=OFF \
        -DNETTLEBEAM_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
        >"$build/configure.log"
    cmake --build "$build" -j"$jobs" --target nettlebeam_concurrency_tests
fi
echo "sanitize $kind: configure and build took $((SECONDS - started)) s"

# Reports stop the test that made them; leaks are reported at exit.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

if [[ $kind == address ]]; then
    exec "$root/scripts/ctest-pass.sh" asan "$build" -j"$jobs" --output-on-failure --timeout 600
fi
exec "$root/scripts/ctest-pass.sh" tsan "$build" -j"$jobs" -L concurrency \
    --output-on-failure --timeout 600
