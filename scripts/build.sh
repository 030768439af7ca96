#!/bin/sh
# Installs what is missing, then configures and builds into build/.
# The configure's progress goes to build/configure.log; its warnings and
# errors (a missing dependency among them) are printed.
#
#   scripts/build.sh [cmake configure options...]
#   NETTLEBEAM_BUILD_TARGETS="<target>..."  builds only those (default: all)
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETTLEBEAM_WERROR=ON "$@" >build/configure.log
if [ -n "${NETTLEBEAM_BUILD_TARGETS:-}" ]; then
    # shellcheck disable=SC2086
    cmake --build build -j"$(nproc)" --target $NETTLEBEAM_BUILD_TARGETS
else
    cmake --build build -j"$(nproc)"
fi
