#!/bin/sh
# Installs the Debian packages this project builds and tests with, when missing.
# Non-interactive and idempotent; prints nothing when everything is present.
set -eu

PACKAGES="build-essential cmake pkg-config git libgtest-dev libgmock-dev
qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqcustomplot-dev fonts-dejavu-core
libargtable2-dev libpcap-dev zlib1g-dev libmicrohttpd-dev libnl-route-3-dev
python3 tshark tcpdump tcpreplay iperf3 iproute2 iputils-ping chrony prometheus xvfb xauth clang
libclang-rt-14-dev clang-format ccache
dpkg-dev lintian desktop-file-utils man-db systemd"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing$missing" >&2
# tshark asks whether non-root users may capture; answer no without a prompt.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq >/dev/null
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
