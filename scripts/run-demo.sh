#!/bin/sh
# Installs, builds the programs the demo runs (nettlebeamd, beamctl and the
# manager; ./scripts/test.sh builds the rest), starts nettlebeamd with its demo
# fleet and runs the main job against it: the manager when there is a display,
# else a device list and one statistics report from beamctl. The daemon and
# its temporary folder go when the script ends, however it ends.
set -eu
cd "$(dirname "$0")/.."
NETTLEBEAM_BUILD_TARGETS="nettlebeamd beamctl NettlebeamManager" ./scripts/build.sh

bin=build
daemon="$bin/driver/nettlebeamd"
manager="$bin/manager-linux/NettlebeamManager"
beamctl="$bin/command-line-tool/beamctl"

folder=$(mktemp -d /tmp/nettlebeam-demo.XXXXXX)
export NETTLEBEAM_CONTROL="${NETTLEBEAM_CONTROL:-$folder/KV7Control}"
daemon_pid=""
cleanup() {
  if [ -n "$daemon_pid" ]; then
    kill "$daemon_pid" 2>/dev/null || true
    wait "$daemon_pid" 2>/dev/null || true
  fi
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
"$daemon" serve --fleet demo --state-dir "$folder/state" &
daemon_pid=$!
# The daemon either makes its socket or stops with the reason on its log.
until [ -S "$NETTLEBEAM_CONTROL" ]; do
  if ! kill -0 "$daemon_pid" 2>/dev/null; then
    echo "nettlebeamd did not start" >&2
    exit 1
  fi
  sleep 0.05
done
echo "nettlebeamd serving the demo fleet on $NETTLEBEAM_CONTROL"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$manager" ]; then
  "$manager"
else
  "$beamctl" list
  "$beamctl" statistics --device=0
fi
