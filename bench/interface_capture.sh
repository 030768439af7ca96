#!/usr/bin/env bash
# An interface device on veth pairs of its own (root needed):
#
# Passive capture: tcpreplay in a namespace sends 64-byte and 1500-byte
# frames into the veth that is port A. For each capturer in turn (the
# device's direct capture, `dumpcap -w`, `tcpdump -w`, each on its own, with
# their default buffers) the highest tcpreplay rate at which the file holds
# every frame sent: first at top speed, then halving the rate until nothing
# is lost and one step back up between the last lossless and lossy rates.
# The rate printed is the rate tcpreplay achieved, not the one asked for,
# and the CPU per frame is the capturer's whole process (utime + stime from
# /proc/<pid>/stat) over its highest lossless run, divided by the frames.
#
# Inline: iperf3 TCP between two namespaces joined by the device
# (attach --inline on the two middle veths) against the same namespaces
# joined by a Linux bridge, in turn, three rounds each (medians); then once
# with the device's direct capture running against the bridge with
# `dumpcap -w` on both ports: throughput and the share of frames each
# capture lost (the device's host drops, dumpcap's own count).
#
# Every namespace, veth, bridge and process the script makes goes with it,
# however it ends.
#
#   bench/interface_capture.sh BUILD_FOLDER LOG
set -euo pipefail
build=$1
log=$2
beamctl="$build/command-line-tool/beamctl"
daemon="$build/driver/nettlebeamd"
small_frames=${NETTLEBEAM_BENCH_SMALL_FRAMES:-400000}
large_frames=${NETTLEBEAM_BENCH_LARGE_FRAMES:-60000}
iperf_seconds=${NETTLEBEAM_BENCH_IPERF_SECONDS:-4}
inline_rounds=${NETTLEBEAM_BENCH_INLINE_ROUNDS:-3}

if [[ $(id -u) -ne 0 ]]; then
    echo "interface_capture: needs root (namespaces, veths, packet sockets)" >&2
    exit 1
fi
for tool in ip tcpreplay dumpcap tcpdump capinfos iperf3 python3; do
    command -v "$tool" >/dev/null || { echo "interface_capture: $tool is missing" >&2; exit 1; }
done

folder=$(mktemp -d)
# Interface names are at most 15 characters: the prefix, a letter and "p".
prefix="nbb$(($$ % 100000))"
namespaces=() links=() pids=() inline_folder=""
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for link in "${links[@]}"; do ip link del "$link" 2>/dev/null || true; done
    for space in "${namespaces[@]}"; do ip netns del "$space" 2>/dev/null || true; done
    rm -rf "$folder"
    [[ -z $inline_folder ]] || rm -rf "$inline_folder"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Starts a program in the background and records it for the clean-up; the
# pid is in $started.
start() {
    "$@" &
    started=$!
    pids+=("$started")
}
# Ends a program started above (SIGINT lets the capture tools close their files).
finish() {
    local pid=$1 signal=${2:-TERM}
    kill "-$signal" "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    local kept=()
    for p in "${pids[@]}"; do [[ $p == "$pid" ]] || kept+=("$p"); done
    pids=("${kept[@]}")
}
add_namespace() {
    namespaces+=("$1")
    ip netns add "$1"
    ip -n "$1" link set lo up
}
# A veth `$1` here, up, and its peer `$1p` in namespace `$2`, up; IPv6 off
# on both ends so the kernel sends nothing of its own into the captures.
add_veth() {
    links+=("$1")
    ip link add "$1" type veth peer name "$1p" netns "$2"
    sysctl -qw "net.ipv6.conf.$1.disable_ipv6=1"
    ip netns exec "$2" sysctl -qw "net.ipv6.conf.$1p.disable_ipv6=1"
    ip link set "$1" up
    ip -n "$2" link set "$1p" up
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# Frames of one size, each with its number in the payload, to one
# unicast address nobody has.
write_frames() {
    python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
path, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
header = bytes([2, 0x11, 0x22, 0x33, 0x44, 0x55, 2, 0x66, 0x77, 0x88, 0x99, 0xAA, 0x88, 0xB5])
with open(path, "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for i in range(count):
        frame = (header + struct.pack(">I", i) * (size // 4))[:size]
        out.write(struct.pack("<IIII", i // 1000000, i % 1000000, size, size) + frame)
PY
}

export NETTLEBEAM_CONTROL="$folder/KV7Control"
start "$daemon" serve --fleet empty --state-dir "$folder/state" --control "$NETTLEBEAM_CONTROL" 2>>"$log"
daemon_pid=$started
until [[ -S $NETTLEBEAM_CONTROL ]]; do
    kill -0 "$daemon_pid" 2>/dev/null || { echo "interface_capture: nettlebeamd did not start" >&2; exit 1; }
    sleep 0.05
done

# Frames the device has taken from both ports and frames it lost on the
# way (host drops), from `beamctl statistics --json`.
device_counts() {
    "$beamctl" statistics -d 0 --json 2>>"$log" | python3 -c '
import json, sys
s = json.load(sys.stdin)
if "ports" in s:
    frames = sum(p["totalValidPackets"] + p["totalInvalidPackets"] for p in s["ports"])
else:
    # The default counters 1 and 2: frames on port A and on port B.
    frames = s["counters"][0]["value"] + s["counters"][1]["value"]
print(frames, s["swDropped"])'
}
# Waits until the direct capture has closed its file (a minute at most).
wait_capture_closed() {
    local tries=0
    until "$beamctl" directcapture status -d 0 --json 2>>"$log" | grep -q '"enabled":false'; do
        tries=$((tries + 1))
        ((tries < 1200)) || { echo "interface_capture: the capture did not end" >&2; exit 1; }
        sleep 0.05
    done
}
frames_in() { capinfos -M -c -T -r "$1" 2>>"$log" | awk -F'\t' '{ n += $2 } END { print n + 0 }'; }

passive_space="${prefix}P"
passive_port="${prefix}C"
add_namespace "$passive_space"
add_veth "$passive_port" "$passive_space"

# Sends the file at `rate` frames/s ("top" for --topspeed); prints the rate
# tcpreplay achieved.
replay() {
    local file=$1 rate=$2 pacing
    if [[ $rate == top ]]; then pacing=--topspeed; else pacing=--pps=$rate; fi
    ip netns exec "$passive_space" tcpreplay "$pacing" -i "${passive_port}p" "$file" 2>>"$log" |
        tee -a "$log" | sed -n 's/.*Rated: .* Bps, .* Mbps, \([0-9.]*\) pps.*/\1/p'
}

# One run of a capturer at `rate`; sets run_pps (the rate tcpreplay
# achieved), run_frames (frames in the file) and run_ticks (the capturer's
# CPU over the run). Run in this shell, so the clean-up knows its processes.
run_device() {
    local file=$1 rate=$2 sent=$3 run="$folder/run" before after base_frames base_drops frames drops
    mkdir -p "$run"
    "$beamctl" directcapture start -d 0 -o "$run/device" --fullframes >>"$log" 2>&1
    read -r base_frames base_drops < <(device_counts)
    before=$(ticks "$daemon_pid")
    run_pps=$(replay "$file" "$rate")
    # Everything sent is taken or counted lost before the CPU is read (or
    # the counts stand still for a second: frames lost before the ring).
    local seen=-1 still=0
    while read -r frames drops < <(device_counts) &&
        ((frames - base_frames + drops - base_drops < sent && still < 20)); do
        if ((frames + drops == seen)); then still=$((still + 1)); else still=0; fi
        seen=$((frames + drops))
        sleep 0.05
    done
    after=$(ticks "$daemon_pid")
    "$beamctl" directcapture stop -d 0 >>"$log" 2>&1
    wait_capture_closed
    run_frames=$(frames_in "$run"/device*)
    run_ticks=$((after - before))
    rm -rf "$run"
}
run_tool() {
    local tool=$1 file=$2 rate=$3 run="$folder/run" before after size last=-1 steady=0 pid
    mkdir -p "$run"
    case $tool in
    dumpcap) start dumpcap -q -i "$passive_port" -w "$run/out.pcapng" 2>"$run/err" ;;
    tcpdump) start tcpdump -n -i "$passive_port" -w "$run/out.pcap" 2>"$run/err" ;;
    esac
    pid=$started
    until grep -qi 'capturing on\|listening on' "$run/err"; do
        kill -0 "$pid" 2>/dev/null || { cat "$run/err" >&2; exit 1; }
        sleep 0.05
    done
    before=$(ticks "$pid")
    run_pps=$(replay "$file" "$rate")
    # The tool has drained its ring when its file stops growing.
    # libpcap hands a block that is not full over after a second.
    while ((steady < 15)); do
        sleep 0.1
        size=$(stat -c %s "$run"/out.* 2>/dev/null || echo 0)
        if ((size == last)); then steady=$((steady + 1)); else steady=0; fi
        last=$size
    done
    after=$(ticks "$pid")
    finish "$pid" INT
    cat "$run/err" >>"$log"
    run_frames=$(frames_in "$run"/out.*)
    run_ticks=$((after - before))
    rm -rf "$run"
}
measure() {
    local capturer=$1 file=$2 sent=$3 rate=$4
    if [[ $capturer == device ]]; then
        run_device "$file" "$rate" "$sent"
    else
        run_tool "$capturer" "$file" "$rate"
    fi
    run_pps=${run_pps%.*}
    echo "interface_capture: $capturer $(basename "$file") at $rate: $run_pps frames/s," \
        "$run_frames of $sent frames in the file, $run_ticks ticks" >>"$log"
    if ((run_frames >= sent && run_pps > best)); then best=$run_pps best_ticks=$run_ticks; fi
    ((run_frames >= sent))
}

# The highest lossless rate of one capturer for one file: top speed first;
# after a loss, half the rate achieved until nothing is lost (four times at
# most), then once halfway back up. Sets best (frames/s, 0 when every rate
# lost frames) and best_ns (CPU per frame of that run).
search() {
    local capturer=$1 file=$2 sent=$3 lossy
    best=0 best_ticks=0
    if ! measure "$capturer" "$file" "$sent" top; then
        lossy=$run_pps
        for _ in 1 2 3 4; do
            measure "$capturer" "$file" "$sent" $((lossy / 2)) && break
            lossy=$run_pps
        done
        if ((best > 0)); then measure "$capturer" "$file" "$sent" $(((best + lossy) / 2)) || true; fi
    fi
    best_ns=$(awk -v t="$best_ticks" -v hz="$hz" -v n="$sent" 'BEGIN { printf "%.0f", t / hz * 1e9 / n }')
}

attach_passive() {
    "$daemon" attach --interfaces "$passive_port" 2>>"$log"
}

for size in 64 1500; do
    if ((size == 64)); then sent=$small_frames; else sent=$large_frames; fi
    file="$folder/frames_$size.pcap"
    write_frames "$file" "$sent" "$size"
    # Only the capturer being measured watches the interface.
    handle=$(attach_passive)
    search device "$file" "$sent"
    device_pps=$best device_ns=$best_ns
    "$daemon" detach "$handle" >>"$log" 2>&1
    search dumpcap "$file" "$sent"
    dumpcap_pps=$best dumpcap_ns=$best_ns
    search tcpdump "$file" "$sent"
    tcpdump_pps=$best tcpdump_ns=$best_ns
    rm -f "$file"
    awk -v s="$size" -v d="$device_pps" -v c="$dumpcap_pps" -v t="$tcpdump_pps" \
        -v dn="$device_ns" -v cn="$dumpcap_ns" -v tn="$tcpdump_ns" 'BEGIN {
        printf "bench interface_capture_lossless_%db: %d frames/s (%.2fx dumpcap -w %d frames/s)\n", s, d, (c > 0 ? d / c : 0), c
        printf "bench interface_capture_lossless_%db_vs_tcpdump: %d frames/s (%.2fx tcpdump -w %d frames/s)\n", s, d, (t > 0 ? d / t : 0), t
        printf "bench interface_capture_cpu_per_frame_%db: %d ns (%.2fx dumpcap -w %d ns, %.2fx tcpdump -w %d ns)\n", s, dn, (cn > 0 ? dn / cn : 0), cn, (tn > 0 ? dn / tn : 0), tn }'
done

# Inline: namespaces L and R, each with one veth whose other end is here.
left_space="${prefix}L" right_space="${prefix}R"
left_port="${prefix}A" right_port="${prefix}B"
add_namespace "$left_space"
add_namespace "$right_space"
add_veth "$left_port" "$left_space"
add_veth "$right_port" "$right_space"
ip -n "$left_space" addr add 10.231.0.1/24 dev "${left_port}p"
ip -n "$right_space" addr add 10.231.0.2/24 dev "${right_port}p"
start ip netns exec "$right_space" iperf3 -s -B 10.231.0.2 2>>"$log" >/dev/null
iperf_pid=$started
until ip netns exec "$right_space" ss -ltn | grep -q '10.231.0.2:5201'; do
    kill -0 "$iperf_pid" 2>/dev/null || { echo "interface_capture: iperf3 -s did not start" >&2; exit 1; }
    sleep 0.05
done
# TCP throughput from L to R, in bits/s as the receiver counted them.
throughput() {
    ip netns exec "$left_space" iperf3 -c 10.231.0.2 -t "$iperf_seconds" -J 2>>"$log" |
        tee -a "$log" | python3 -c '
import json, sys
print(int(json.load(sys.stdin)["end"]["sum_received"]["bits_per_second"]))'
}

bridge="${prefix}W"
links+=("$bridge")
join_bridge() {
    ip link add "$bridge" type bridge
    ip link set "$left_port" master "$bridge"
    ip link set "$right_port" master "$bridge"
    ip link set "$bridge" up
}
join_device() {
    inline_handle=$("$daemon" attach --interfaces "$left_port,$right_port" --inline 2>>"$log")
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The bridge and the device in turn, so that both see the machine's
# swings alike; medians.
bridge_runs=() device_runs=()
for _ in $(seq "$inline_rounds"); do
    join_bridge
    bridge_runs+=("$(throughput)")
    ip link del "$bridge"
    join_device
    device_runs+=("$(throughput)")
    "$daemon" detach "$inline_handle" >>"$log" 2>&1
done
echo "interface_capture: bridge ${bridge_runs[*]} bits/s, device ${device_runs[*]} bits/s" >>"$log"
bridge_bps=$(median "${bridge_runs[@]}")
device_bps=$(median "${device_runs[@]}")

# Capturing: the bridge with `dumpcap -w` on both its ports (a software TAP
# made of standard tools), then the device with its direct capture. Both
# write two files of 100 MB in turn, in memory: this machine's disk takes
# about 700 MB/s, less than the traffic, and the figures are about the
# capturers.
inline_folder=$(mktemp -d -p /dev/shm)
join_bridge
start dumpcap -i "$left_port" -i "$right_port" -w "$inline_folder/dumpcap.pcapng" \
    -b filesize:100000 -b files:2 2>"$folder/dumpcap.err"
dumpcap_pid=$started
until grep -q 'Capturing on' "$folder/dumpcap.err"; do
    kill -0 "$dumpcap_pid" 2>/dev/null || { cat "$folder/dumpcap.err" >&2; exit 1; }
    sleep 0.05
done
bridge_dumpcap_bps=$(throughput)
finish "$dumpcap_pid" INT
cat "$folder/dumpcap.err" >>"$log"
# "Packets received/dropped on interface 'X': R/D (...)", one line a port.
read -r dumpcap_frames dumpcap_drops < <(sed -n "s|.*received/dropped on interface '.*': \([0-9]*\)/\([0-9]*\) .*|\1 \2|p" \
    "$folder/dumpcap.err" | awk '{ r += $1; d += $2 } END { print r + 0, d + 0 }')
rm -f "$inline_folder"/*
ip link del "$bridge"

join_device
"$beamctl" directcapture start -d 0 -o "$inline_folder/device" --fullframes --loop --count=2 \
    --size=100 >>"$log" 2>&1
read -r frames_before drops_before < <(device_counts)
capturing_bps=$(throughput)
read -r frames_after drops_after < <(device_counts)
"$beamctl" directcapture stop -d 0 >>"$log" 2>&1
wait_capture_closed
"$beamctl" directcapture status -d 0 --json >>"$log" 2>&1 || true
awk -v d="$device_bps" -v c="$capturing_bps" -v b="$bridge_bps" -v bc="$bridge_dumpcap_bps" \
    -v f=$((frames_after - frames_before)) -v x=$((drops_after - drops_before)) \
    -v df="$dumpcap_frames" -v dx="$dumpcap_drops" 'BEGIN {
    share = (f + x > 0 ? x / (f + x) : 0)
    dshare = (df + dx > 0 ? dx / (df + dx) : 0)
    printf "bench interface_inline_tcp: %.2f Gbit/s (%.2fx Linux bridge %.2f Gbit/s, medians)\n", d / 1e9, (b > 0 ? d / b : 0), b / 1e9
    printf "bench interface_inline_tcp_capturing: %.2f Gbit/s (%.2fx Linux bridge with dumpcap -w %.2f Gbit/s; %.2fx the bare bridge)\n", c / 1e9, (bc > 0 ? c / bc : 0), bc / 1e9, (b > 0 ? c / b : 0)
    printf "bench interface_inline_capture_host_drops: %d frames of %d (share %.3f; %.2fx dumpcap -w on the bridge, share %.3f: %d of %d)\n", x, f + x, share, (dshare > 0 ? share / dshare : 0), dshare, dx, df + dx }'
