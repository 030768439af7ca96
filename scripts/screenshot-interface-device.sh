#!/bin/sh
# Pictures the manager's pages for an interface device: a veth pair whose
# peers sit in a private network namespace, attached passive (an inline
# device reports one link shared by both ports, as a hardware TAP in the
# cable does), with the peer of port B taken down so the Features page shows
# one link up and one down.
# Needs root (or CAP_NET_ADMIN and CAP_NET_RAW) for the namespace, the veths
# and the device's packet sockets. Writes build/screenshots-interface/ and
# copies the Features page to docs/interface-device.png. A gigabit type by
# default (veths report 10 Gbit/s, which would make a ten-gigabit device),
# as its Features page shows each port's link; a veth's 10 Gbit/s is a speed
# a gigabit device has no word for, so port A reads "Unknown".
#   NETTLEBEAM_SCREENSHOT_TYPE=N scripts/screenshot-interface-device.sh [WIDTHxHEIGHT]
set -eu
cd "$(dirname "$0")/.."
NETTLEBEAM_BUILD_TARGETS="nettlebeamd nettlebeam-screenshots" ./scripts/build.sh

space="nbshot$$"
folder=$(mktemp -d /tmp/nettlebeam-screenshots.XXXXXX)
export NETTLEBEAM_CONTROL="$folder/KV7Control"
cleanup() {
    build/driver/nettlebeamd stop >/dev/null 2>&1 || true
    ip link del nbshotA >/dev/null 2>&1 || true
    ip link del nbshotB >/dev/null 2>&1 || true
    ip netns del "$space" >/dev/null 2>&1 || true
    rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ip netns add "$space"
for port in A B; do
    ip link add "nbshot$port" type veth peer name "peer$port" netns "$space"
    ip link set "nbshot$port" up
    ip -n "$space" link set "peer$port" up
done
build/driver/nettlebeamd serve --fleet empty --state-dir "$folder/state" --daemon
build/driver/nettlebeamd attach --interfaces nbshotA,nbshotB --mac 00:1b:c5:0c:00:01 \
    --type "${NETTLEBEAM_SCREENSHOT_TYPE:-5}"
ip -n "$space" link set peerB down

rm -rf build/screenshots-interface
QT_FONT_DPI="${QT_FONT_DPI:-96}" build/manager-linux/nettlebeam-screenshots \
    build/screenshots-interface 1 2.5 "${1:-1126x712}"
mkdir -p docs
cp build/screenshots-interface/00-1b-c5-0c-00-01-features.png docs/interface-device.png
echo "docs/interface-device.png updated"
