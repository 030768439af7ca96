#!/bin/sh
# Installs, builds and runs every test. This is what CI runs.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
ctest --test-dir build -j"$(nproc)" --output-on-failure --timeout 300
