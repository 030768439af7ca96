#!/usr/bin/env bash
# A 500 MB capture file sent through the Cloudshark panel to the stand-in
# appliance of the tests (manager-linux/tests/upload_server.py, which only
# hashes the body): the growth of the sending process's resident memory over
# the upload, against its 30 MB target (the body is streamed from disk).
#
#   bench/cloudshark_upload.sh BUILD_FOLDER LOG
set -euo pipefail
build=$1
log=$2
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cmake --build "$build" -j2 --target nettlebeam-upload-probe >>"$log" 2>&1
probe="$build/manager-linux/nettlebeam-upload-probe"

folder=$(mktemp -d)
server_pid="" probe_pid=""
cleanup() {
    for process in "$probe_pid" "$server_pid"; do
        [[ -n $process ]] || continue
        kill "$process" 2>/dev/null || true
        wait "$process" 2>/dev/null || true
    done
    rm -rf "$folder"
}
trap cleanup EXIT
mkdir "$folder/server" "$folder/probe"
exec 3< <(exec python3 "$root/manager-linux/tests/upload_server.py" "$folder/server" --discard)
server_pid=$!
read -r -t 30 port <&3
"$probe" "http://127.0.0.1:$port" 500 "$folder/probe" >"$folder/out" 2>>"$log" &
probe_pid=$!
wait "$probe_pid"
probe_pid=""
cat "$folder/out" >>"$log"
awk '/^rss_growth_kb / {
    printf "bench cloudshark_upload_rss_growth: %.1f MB (%.2fx a 30 MB target)\n", $2 / 1024, $2 / 1024 / 30 }' \
    "$folder/out"
