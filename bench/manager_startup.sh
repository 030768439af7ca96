#!/usr/bin/env bash
# The manager's start-up against the demo fleet under xvfb-run: the time from
# the process's start to the first status answer of the selected device
# shown in the window, and its resident memory 30 s later.
#
#   bench/manager_startup.sh BUILD_FOLDER LOG
set -euo pipefail
build=$1
log=$2
manager="$build/manager-linux/NettlebeamManager"
daemon="$build/driver/nettlebeamd"

folder=$(mktemp -d)
trap 'kill "$daemon_pid" 2>/dev/null || true; pkill -P $$ 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$folder"' EXIT
export NETTLEBEAM_CONTROL="$folder/KV7Control"
export XDG_CONFIG_HOME="$folder/config"  # a first start, with no settings
"$daemon" serve --fleet demo --state-dir "$folder/state" 2>>"$log" &
daemon_pid=$!
for _ in $(seq 100); do [[ -S $NETTLEBEAM_CONTROL ]] && break; sleep 0.05; done

export QT_LOGGING_RULES="nettlebeam.manager.status.debug=true"
export QT_MESSAGE_PATTERN="%{category}: %{message}"
# The shell stamps the time and its pid right before it becomes the manager.
start_ns="" pid="" startup_ms="" rss_kb=""
exec 3< <(xvfb-run -a sh -c 'echo "exec $(date +%s%N) $$"; exec "$0"' "$manager" 2>&1)
deadline=$((SECONDS + 60))
while [[ -z $rss_kb ]] && ((SECONDS < deadline)) && IFS= read -r -t 60 line <&3; do
    echo "$line" >>"$log"
    case $line in
    "exec "*) read -r _ start_ns pid <<<"$line" ;;
    nettlebeam.manager.status:*)
        if [[ -z $startup_ms ]]; then
            startup_ms=$((($(date +%s%N) - start_ns) / 1000000))
            sleep 30
            rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
        fi
        ;;
    esac
done
[[ -n $pid ]] && kill "$pid" 2>/dev/null || true
if [[ -z $startup_ms || -z $rss_kb ]]; then
    echo "bench/run: the manager showed no status answer (see $log)" >&2
    exit 1
fi
awk -v v="$startup_ms" 'BEGIN { printf "bench manager_startup: %.2f s (%.2fx the 1.5 s target)\n", v / 1000, v / 1500 }'
awk -v v="$rss_kb" 'BEGIN { printf "bench manager_rss_after_30s: %.1f MB (%.2fx the 100 MB target)\n", v / 1024, v / 102400 }'
