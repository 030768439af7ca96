#!/usr/bin/env bash
# nettlebeam-exporter against 16 attached devices with traffic: one scrape's
# wall time and size (plain and gzip) against `beamctl statistics` run once
# per device, then the exporter's CPU and resident memory under a 1 s scrape
# for 30 s. Medians of seven scrapes. The daemon and the exporter end with
# the script, however it ends.
#
#   bench/exporter_scrape.sh BUILD_FOLDER LOG
set -euo pipefail
build=$1
log=$2
exporter="$build/exporter/nettlebeam-exporter"
beamctl="$build/command-line-tool/beamctl"
daemon="$build/driver/nettlebeamd"

folder=$(mktemp -d)
daemon_pid="" exporter_pid=""
cleanup() {
    for process in "$exporter_pid" "$daemon_pid"; do
        [[ -n $process ]] || continue
        kill "$process" 2>/dev/null || true
        wait "$process" 2>/dev/null || true
    done
    rm -rf "$folder"
}
trap cleanup EXIT
export NETTLEBEAM_CONTROL="$folder/KV7Control"

"$daemon" serve --fleet empty 2>>"$log" &
daemon_pid=$!
until [[ -S $NETTLEBEAM_CONTROL ]]; do
    kill -0 "$daemon_pid" 2>/dev/null || { echo "exporter_scrape: nettlebeamd did not start" >&2; exit 1; }
    sleep 0.05
done
for i in $(seq 16); do
    "$daemon" attach --type 5 --mac "$(printf '00:1b:c5:0b:00:%02x' "$i")" --traffic rate=1000 >/dev/null
done

"$exporter" --listen 127.0.0.1:0 >"$folder/exporter.out" 2>>"$log" &
exporter_pid=$!
port=""
until [[ -n $port ]]; do
    kill -0 "$exporter_pid" 2>/dev/null || { echo "exporter_scrape: the exporter did not start" >&2; exit 1; }
    sleep 0.05
    port=$(sed -n 's/^nettlebeam-exporter: listening on port \([0-9]*\)$/\1/p' "$folder/exporter.out")
done

# Wall time (µs) and bytes of one scrape; waits until all 16 devices are in it.
scrape() {
    python3 - "$port" "$1" <<'PY'
import sys, time, urllib.request
port, encoding = sys.argv[1], sys.argv[2]
request = urllib.request.Request(f"http://127.0.0.1:{port}/metrics",
                                 headers={"Accept-Encoding": encoding})
for _ in range(300):
    start = time.perf_counter()
    body = urllib.request.urlopen(request).read()
    took = time.perf_counter() - start
    if encoding == "gzip" or body.count(b"\nnettlebeam_device_info{") == 16:
        break
    time.sleep(0.1)
times = []
for _ in range(7):
    start = time.perf_counter()
    body = urllib.request.urlopen(request).read()
    times.append(time.perf_counter() - start)
print(int(sorted(times)[3] * 1e6), len(body))
PY
}
read -r plain_us plain_bytes < <(scrape identity)
read -r gzip_us gzip_bytes < <(scrape gzip)

# `beamctl statistics` once per device, as a script watching 16 devices would.
beamctl_runs() {
    for device in $(seq 0 15); do "$beamctl" statistics --device="$device" >/dev/null 2>&1; done
}
times=()
for _ in 1 2 3; do
    start=$(date +%s%N)
    beamctl_runs
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
done
beamctl_us=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
awk -v v="$plain_us" -v b="$beamctl_us" -v n="$plain_bytes" -v g="$gzip_us" -v gn="$gzip_bytes" 'BEGIN {
    printf "bench exporter_scrape_16_devices: %.1f ms (%.3fx beamctl statistics 16 times)\n", v / 1000, v / b
    printf "bench exporter_scrape_16_devices_speedup: %.1f x (beamctl statistics 16 times: %.1f ms)\n", b / v, b / 1000
    printf "bench exporter_scrape_16_devices_bytes: %d bytes (%.3fx gzip %d bytes in %.1f ms)\n", n, gn / n, gn, g / 1000 }'

# Idle: a Prometheus-like 1 s scrape for 30 s; CPU from /proc, in clock ticks.
ticks() { awk '{ print $14 + $15 }' "/proc/$exporter_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
start=$(date +%s%N)
python3 - "$port" <<'PY'
import sys, time, urllib.request
port = sys.argv[1]
deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics").read()
    time.sleep(1)
PY
end=$(date +%s%N)
after=$(ticks)
rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$exporter_pid/status")
awk -v t=$((after - before)) -v hz="$hz" -v ns=$((end - start)) -v rss="$rss" 'BEGIN {
    printf "bench exporter_cpu_1s_scrape_16_devices: %.2f %% of a core (%.3fx the 0.5%% goal)\n", 100 * t / hz / (ns / 1e9), (100 * t / hz / (ns / 1e9)) / 0.5
    printf "bench exporter_rss_16_devices: %.1f MB (%.3fx the 15 MB goal)\n", rss / 1024, rss / 1024 / 15 }'
