#!/bin/sh
# Installs, builds, starts nettlebeamd with its demo fleet and runs the main
# job against it: the manager when there is a display, else a device list and
# one statistics report from beamctl.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh

bin=build
daemon="$bin/driver/nettlebeamd"
manager="$bin/manager-linux/NettlebeamManager"
beamctl="$bin/command-line-tool/beamctl"

export NETTLEBEAM_CONTROL="${NETTLEBEAM_CONTROL:-$(mktemp -d /tmp/nettlebeam-demo.XXXXXX)/KV7Control}"
"$daemon" serve --fleet demo --state-dir "$(dirname "$NETTLEBEAM_CONTROL")/state" &
daemon_pid=$!
trap 'kill "$daemon_pid" 2>/dev/null; wait "$daemon_pid" 2>/dev/null || true' EXIT INT TERM
tries=0
until [ -S "$NETTLEBEAM_CONTROL" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 100 ] && { echo "nettlebeamd did not start" >&2; exit 1; }
  sleep 0.05
done
echo "nettlebeamd serving the demo fleet on $NETTLEBEAM_CONTROL"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$manager" ]; then
  "$manager"
elif [ -x "$beamctl" ]; then
  "$beamctl" list
  "$beamctl" statistics --device=0
else
  "$daemon" devices
fi
