#!/bin/sh
# Installs what is missing, then configures and builds everything into build/.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETTLEBEAM_WERROR=ON "$@" >/dev/null
cmake --build build -j"$(nproc)"
