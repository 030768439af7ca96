#!/usr/bin/env bash
# The manager's start-up against the demo fleet on a private X server: the
# time from the process's start to the first status answer of the selected
# device shown in the window, and its resident memory 30 s later. The daemon,
# the manager and the X server end with the script, however it ends.
#
#   bench/manager_startup.sh BUILD_FOLDER LOG
set -euo pipefail
build=$1
log=$2
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
manager="$build/manager-linux/NettlebeamManager"
daemon="$build/driver/nettlebeamd"
# shellcheck source=display.sh
source "$root/bench/display.sh"

folder=$(mktemp -d)
daemon_pid="" reader_pid="" pid="" sleeper_pid=""
cleanup() {
    # The reader is the shell that became the manager: $pid is the same process.
    for process in "$sleeper_pid" "$pid" "$reader_pid" "$daemon_pid"; do
        [[ -n $process ]] || continue
        kill "$process" 2>/dev/null || true
        wait "$process" 2>/dev/null || true
    done
    stop_display
    rm -rf "$folder"
}
trap cleanup EXIT
export NETTLEBEAM_CONTROL="$folder/KV7Control"
export XDG_CONFIG_HOME="$folder/config"  # a first start, with no settings
"$daemon" serve --fleet demo --state-dir "$folder/state" 2>>"$log" &
daemon_pid=$!
until [[ -S $NETTLEBEAM_CONTROL ]]; do
    kill -0 "$daemon_pid" 2>/dev/null || { echo "bench/run: nettlebeamd did not start (see $log)" >&2; exit 1; }
    sleep 0.05
done
start_display "$folder" "$log"

export QT_LOGGING_RULES="nettlebeam.manager.status.debug=true"
export QT_MESSAGE_PATTERN="%{category}: %{message}"
# The shell stamps the time and its pid right before it becomes the manager.
start_ns="" startup_ms="" rss_kb=""
exec 3< <(exec sh -c 'echo "exec $(date +%s%N) $$"; exec "$0"' "$manager" 2>&1)
reader_pid=$!
deadline=$((SECONDS + 60))
while [[ -z $rss_kb ]] && ((SECONDS < deadline)) && IFS= read -r -t 60 line <&3; do
    echo "$line" >>"$log"
    case $line in
    "exec "*) read -r _ start_ns pid <<<"$line" ;;
    nettlebeam.manager.status:*)
        if [[ -z $startup_ms ]]; then
            startup_ms=$((($(date +%s%N) - start_ns) / 1000000))
            # In the background, so that a signal ends the script at once.
            sleep 30 &
            sleeper_pid=$!
            wait "$sleeper_pid"
            sleeper_pid=""
            rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
        fi
        ;;
    esac
done
if [[ -z $startup_ms || -z $rss_kb ]]; then
    echo "bench/run: the manager showed no status answer (see $log)" >&2
    exit 1
fi
awk -v v="$startup_ms" 'BEGIN { printf "bench manager_startup: %.2f s (%.2fx the 1.5 s target)\n", v / 1000, v / 1500 }'
awk -v v="$rss_kb" 'BEGIN { printf "bench manager_rss_after_30s: %.1f MB (%.2fx the 100 MB target)\n", v / 1024, v / 102400 }'
