#!/usr/bin/env bash
# The manager left open against the demo fleet on a private X server, with the
# fleet's second-generation gigabit device with GPS (type 9) selected: the
# CPU time of the whole process (every thread) over 60 s on the "Charts"
# page, then over 60 s on the "Features" page, as a percentage of one core;
# then its resident memory 10 minutes after its start with the "Charts" page
# open (chart points are trimmed to each scale's span, so it stays bounded).
# Then, in a second run with the fleet's ten-gigabit device (type 12)
# selected, the CPU over 60 s on its programmable "Counters" page (sixteen
# rows, each with a rate plot).
# The window is the one NettlebeamManager runs; nettlebeam-idle-probe only
# selects the device and the pages as a user would. The daemon, the probe and
# the X server end with the script, however it ends.
#
#   bench/manager_idle.sh BUILD_FOLDER LOG [SECONDS_PER_PAGE [RSS_AT_SECONDS]]
set -euo pipefail
build=$1
log=$2
seconds=${3:-60}
rss_at=${4:-600}
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
probe="$build/manager-linux/nettlebeam-idle-probe"
daemon="$build/driver/nettlebeamd"
# shellcheck source=display.sh
source "$root/bench/display.sh"

folder=$(mktemp -d)
daemon_pid="" probe_pid=""
cleanup() {
    for process in "$probe_pid" "$daemon_pid"; do
        [[ -n $process ]] || continue
        kill "$process" 2>/dev/null || true
        wait "$process" 2>/dev/null || true
    done
    stop_display
    rm -rf "$folder"
}
trap cleanup EXIT
export NETTLEBEAM_CONTROL="$folder/KV7Control"
"$daemon" serve --fleet demo --state-dir "$folder/state" 2>>"$log" &
daemon_pid=$!
until [[ -S $NETTLEBEAM_CONTROL ]]; do
    kill -0 "$daemon_pid" 2>/dev/null || { echo "bench/run: nettlebeamd did not start (see $log)" >&2; exit 1; }
    sleep 0.05
done
start_display "$folder" "$log"

# Runs the probe with the arguments given, in this shell (so that the exit
# trap knows it); its figures go to $folder/probe.out.
probe() {
    local status=0
    # Its temporary settings go in the script's folder, which goes whatever
    # ends the probe.
    TMPDIR="$folder" "$probe" "$@" >"$folder/probe.out" 2>>"$log" &
    probe_pid=$!
    wait "$probe_pid" || status=$?
    probe_pid=""
    return $status
}

echo "== manager_idle ($seconds s per page, memory at $rss_at s)" >>"$log"
if ! probe 9 Charts "$seconds" Features "$seconds" --rss-at "$rss_at"; then
    echo "bench/run: the idle probe failed (see $log)" >&2
    exit 1
fi
output=$(cat "$folder/probe.out")
echo "$output" >>"$log"
figure() { awk -v what="$1" -v page="$2" '$1 == what && (page == "" || $2 == page) { print $NF }' <<<"$output"; }
charts=$(figure cpu Charts)
features=$(figure cpu Features)
rss_kb=$(figure rss "")
if [[ -z $charts || -z $features || -z $rss_kb ]]; then
    echo "bench/run: the idle probe printed no figures (see $log)" >&2
    exit 1
fi
if ! probe 12 Counters "$seconds"; then
    echo "bench/run: the idle probe failed on the programmable counters (see $log)" >&2
    exit 1
fi
counters_output=$(cat "$folder/probe.out")
echo "$counters_output" >>"$log"
counters=$(awk '$1 == "cpu" && $2 == "Counters" { print $NF }' <<<"$counters_output")
[[ -n $counters ]] || { echo "bench/run: no programmable counters figure (see $log)" >&2; exit 1; }
label=$([[ $rss_at == 600 ]] && echo 10min || echo "${rss_at}s")
awk -v v="$charts" 'BEGIN { printf "bench manager_idle_cpu_charts: %.2f %% of a core (%.2fx the 1 %% target)\n", v, v }'
awk -v v="$features" 'BEGIN { printf "bench manager_idle_cpu_features: %.2f %% of a core (%.2fx the 1 %% target)\n", v, v }'
awk -v v="$counters" 'BEGIN { printf "bench manager_idle_cpu_counters_v2: %.2f %% of a core (%.2fx the 1 %% target)\n", v, v }'
awk -v v="$rss_kb" -v l="$label" 'BEGIN { printf "bench manager_rss_after_%s: %.1f MB (%.2fx the 120 MB target)\n", l, v / 1024, v / 122880 }'
