#!/bin/sh
# Installs, builds and runs every test. This is what CI runs:
#  1. the normal build (gcc, -Werror) and its whole test suite;
#  2. the whole test suite again under AddressSanitizer, UndefinedBehaviorSanitizer
#     and LeakSanitizer (clang; build-asan/);
#  3. a short run of every fuzz target from that same build.
# The ThreadSanitizer pass is `scripts/sanitize.sh thread`; long fuzz runs are
# `NETTLEBEAM_FUZZ_BUILD=build-asan fuzz/run.sh 600`.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build -j"$(nproc)" --output-on-failure --timeout 300

./scripts/sanitize.sh address

NETTLEBEAM_FUZZ_BUILD="$PWD/build-asan" NETTLEBEAM_FUZZ_PARALLEL="$(nproc)" \
    ./fuzz/run.sh "${NETTLEBEAM_FUZZ_SECONDS:-10}"
