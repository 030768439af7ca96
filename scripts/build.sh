#!/bin/sh
# Installs what is missing, then configures and builds everything into build/.
# The configure's progress goes to build/configure.log; its warnings and
# errors (a missing dependency among them) are printed.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETTLEBEAM_WERROR=ON "$@" >build/configure.log
cmake --build build -j"$(nproc)"
