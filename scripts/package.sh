#!/bin/sh
# Builds the Debian packages into build/packages/ from the normal build in
# build/, configured for the prefix /usr where the packages install (the
# build is reused as it is; only what the prefix changes is made again).
#   libnettlebeamapi2, libnettlebeamapi-dev, beamctl, nettlebeamd, nettlebeam-exporter,
#   nettlebeam-manager
# scripts/check-packages.sh checks them.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh -DCMAKE_INSTALL_PREFIX=/usr
rm -rf build/packages
cpack --config build/CPackConfig.cmake >build/packages.log 2>&1 || {
    cat build/packages.log >&2
    exit 1
}
ls build/packages/*.deb
