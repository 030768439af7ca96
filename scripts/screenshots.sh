#!/bin/sh
# Builds, starts a private nettlebeamd with the demo fleet and writes a picture
# of every visible page of the manager for each demo device into
# build/screenshots/; the Features page of the ten-gigabit device becomes
# docs/manager.png, the picture the README shows. The window is pictured at
# its design size with fonts for 96 dpi; QT_FONT_DPI=120 shows it for 120 dpi,
# and a size argument (1024x740) as a small screen would hold it:
#   scripts/screenshots.sh [WIDTHxHEIGHT]
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh

folder=$(mktemp -d /tmp/nettlebeam-screenshots.XXXXXX)
export NETTLEBEAM_CONTROL="$folder/KV7Control"
# --daemon returns once the socket is ready. The daemon and the folder go
# however the script ends (an interrupt ends it too).
trap 'build/driver/nettlebeamd stop >/dev/null 2>&1 || true; rm -rf "$folder"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
build/driver/nettlebeamd serve --fleet demo --state-dir "$folder/state" --daemon

rm -rf build/screenshots
QT_FONT_DPI="${QT_FONT_DPI:-96}" build/manager-linux/nettlebeam-screenshots build/screenshots 3 2.5 \
    "${1:-1126x712}"
mkdir -p docs
cp build/screenshots/00-1b-c5-0a-00-01-features.png docs/manager.png
echo "docs/manager.png updated"
