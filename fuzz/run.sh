#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in their own
# build folder and runs each for the given number of seconds (default 10).
# Prints one line per target: executions, coverage (cov/ft) and crashes.
# New inputs go to the build folder, never into the committed seed corpora.
# Exits non-zero when a target crashes or fails to build, or when there is
# no target to run.
#
#   fuzz/run.sh [seconds] [target...]
#   NETTLEBEAM_FUZZ_BUILD=<folder>  build folder (default build-fuzz)
#   NETTLEBEAM_FUZZ_JOBS=<n>        build jobs (default 2)
set -euo pipefail

seconds="${1:-10}"
shift || true
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${NETTLEBEAM_FUZZ_BUILD:-$root/build-fuzz}"
jobs="${NETTLEBEAM_FUZZ_JOBS:-2}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

mkdir -p "$build"
# A build folder already configured for fuzzing (for example the sanitizer
# pass of the test suite) is reused as it is.
if ! grep -q '^NETTLEBEAM_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DNETTLEBEAM_FUZZ=ON \
        -DNETTLEBEAM_BUILD_TESTS=OFF -DNETTLEBEAM_BUILD_MANAGER=OFF \
        >"$build/fuzz-configure.log" 2>&1 ||
        { cat "$build/fuzz-configure.log" >&2; exit 1; }
fi
cmake --build "$build" -j"$jobs" --target nettlebeam_fuzzers >"$build/fuzz-build.log" 2>&1 ||
    { tail -50 "$build/fuzz-build.log" >&2; exit 1; }

if [[ $# -gt 0 ]]; then
    targets=("$@")
else
    mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -name '*_fuzz' -type f -executable \
        -printf '%f\n' | sort)
fi
if [[ ${#targets[@]} -eq 0 ]]; then
    echo "fuzz: no fuzz targets were built in $build/fuzz" >&2
    exit 1
fi

export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Runs one target and prints its line; fails when the target crashed.
fuzz_one() {
    local target=$1 status=0
    local work="$build/fuzz-runs/$target"
    mkdir -p "$work/corpus" "$work/artifacts"
    seeds="$root/fuzz/corpus/$target"
    [[ -d "$seeds" ]] || seeds=""
    log="$work/last.log"
    extra=()
    # The server logs every refused request; keep only the fuzzer's reports.
    # Its in-process server keeps state across inputs (queues, devices, their
    # capture caches), so per-input leak detection re-runs inputs while a
    # heap of that size is traced; the suite's LeakSanitizer pass covers it.
    [[ $target == control_socket_fuzz ]] && extra+=(-close_fd_mask=2 -detect_leaks=0 -timeout=40)
    # argtable2 leaks a compiled expression on every command line that fails
    # to parse (suppressed in lsan.supp): per-input leak detection would then
    # trace the whole heap after nearly every input, a few inputs a second.
    [[ $target == beamctl_argv_fuzz ]] && extra+=(-detect_leaks=0)
    started=$(date +%s)
    set +e
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${extra[@]}" \
        "$work/corpus" ${seeds:+"$seeds"} >"$log" 2>&1
    status=$?
    set -e
    elapsed=$(( $(date +%s) - started ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    crashes=$(grep -cE '^==[0-9]+==ERROR|invariant broken|^SUMMARY: (Address|UndefinedBehavior|libFuzzer)' "$log" || true)
    if [[ $status -ne 0 ]]; then
        [[ $crashes -gt 0 ]] || crashes=1
        artifact=$(grep -oE 'Test unit written to [^ ]+' "$log" | tail -1 | sed 's/Test unit written to //')
        echo "fuzz $target: ${execs:-0} execs, ${coverage:-cov: ? ft: ?}, crashes: $crashes (${elapsed}s) input: ${artifact:-none} log: $log"
    else
        echo "fuzz $target: ${execs:-0} execs, ${coverage:-cov: ? ft: ?}, crashes: 0 (${elapsed}s)"
    fi
    return $status
}

# NETTLEBEAM_FUZZ_PARALLEL targets run at once (default 1).
parallel="${NETTLEBEAM_FUZZ_PARALLEL:-1}"
failed=0
running=0
for target in "${targets[@]}"; do
    fuzz_one "$target" &
    running=$((running + 1))
    if ((running >= parallel)); then
        wait -n || failed=1
        running=$((running - 1))
    fi
done
while ((running > 0)); do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
