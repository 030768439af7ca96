#!/bin/sh
# Installs, builds and runs every test. This is what CI runs:
#  1. the normal build (gcc, -Werror) and its whole test suite (the pass
#     "gcc"); the one-minute soak runs alone, after the other tests. The build
#     is configured for the prefix /usr the packages install to, so that
#     packaging it rebuilds nothing;
#  1b. the Debian packages built from that build and checked
#     (scripts/package.sh, scripts/check-packages.sh);
#  2. the tests labelled `concurrency` under ThreadSanitizer (the pass "tsan",
#     build-tsan/, only the programs they need);
#  3. the whole test suite again under AddressSanitizer, UndefinedBehaviorSanitizer
#     and LeakSanitizer (the pass "asan", clang, build-asan/);
#  4. a short run of every fuzz target from that same build.
# A pass fails when any test was skipped or a test recorded for it in
# .ci/tests/<pass> did not run (scripts/ctest-pass.sh); after adding or
# renaming tests, scripts/record-tests.sh records them from this run's results.
# The time of each stage is printed at the end, with the compiler cache's hits
# and misses of the whole run (all misses: a cold run).
# Long fuzz runs are `NETTLEBEAM_FUZZ_BUILD=build-asan fuzz/run.sh 600`.
set -eu
cd "$(dirname "$0")/.."

times=""
# Runs a stage and records how long it took.
stage() {
    name=$1
    shift
    started=$(date +%s)
    echo "== $name"
    "$@"
    times="$times$name $(($(date +%s) - started)) s
"
}
# The tests a pass ran, from the results ctest-pass.sh keeps.
passed() { grep -cE '^[[:space:]]*<testcase .* status="run"' "$1"; }

all_started=$(date +%s)
# The compiler cache's hits and misses so far, to tell this run's from them.
cache_counts() {
    { command -v ccache >/dev/null && ccache --print-stats 2>/dev/null; } | awk -F'\t' '
        $1 == "direct_cache_hit" || $1 == "preprocessed_cache_hit" { hits += $2 }
        $1 == "cache_miss" { misses += $2 }
        END { print hits + 0, misses + 0 }'
}
before=$(cache_counts)
stage "build" ./scripts/build.sh -DCMAKE_INSTALL_PREFIX=/usr
stage "tests" ./scripts/ctest-pass.sh gcc build -j"$(nproc)" --output-on-failure --timeout 300
stage "packages" sh -c './scripts/package.sh >/dev/null && ./scripts/check-packages.sh'
stage "tsan" ./scripts/sanitize.sh thread
stage "asan" ./scripts/sanitize.sh address
stage "fuzz" env NETTLEBEAM_FUZZ_BUILD="$PWD/build-asan" NETTLEBEAM_FUZZ_PARALLEL="$(nproc)" \
    ./fuzz/run.sh "${NETTLEBEAM_FUZZ_SECONDS:-5}"

echo "== stage times"
printf '%s' "$times"
echo "all $(($(date +%s) - all_started)) s"
after=$(cache_counts)
echo "compiler cache: $((${after% *} - ${before% *})) hits, $((${after#* } - ${before#* })) misses"
total=$(($(passed build/ctest-gcc.xml) + $(passed build-tsan/ctest-tsan.xml) +
    $(passed build-asan/ctest-asan.xml)))
echo "ci: $total passed, 0 failed"
