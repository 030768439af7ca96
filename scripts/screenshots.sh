#!/bin/sh
# Builds, starts a private nettlebeamd with the demo fleet and writes a picture
# of every visible page of the manager for each demo device into
# build/screenshots/; the counters page of the ten-gigabit device becomes
# docs/manager.png, the picture the README shows.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh

folder=$(mktemp -d /tmp/nettlebeam-screenshots.XXXXXX)
export NETTLEBEAM_CONTROL="$folder/KV7Control"
build/driver/nettlebeamd serve --fleet demo --state-dir "$folder/state" &
daemon_pid=$!
trap 'kill "$daemon_pid" 2>/dev/null; wait "$daemon_pid" 2>/dev/null || true; rm -rf "$folder"' EXIT INT TERM
tries=0
until [ -S "$NETTLEBEAM_CONTROL" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && { echo "nettlebeamd did not start" >&2; exit 1; }
  sleep 0.05
done

rm -rf build/screenshots
build/manager-linux/nettlebeam-screenshots build/screenshots 3
mkdir -p docs
cp build/screenshots/00-1b-c5-0a-00-01-features.png docs/manager.png
echo "docs/manager.png updated"
