#!/usr/bin/env bash
# Checks the Debian packages in build/packages/ (scripts/package.sh makes
# them), as a user of them would see them:
#   - lintian reports no error on any package;
#   - they unpack (dpkg-deb -x) into a temporary root, and from there:
#     desktop-file-validate accepts the desktop entry; the manager's link
#     leads to the manager with its firmware catalogue beside it; the user
#     unit starts the installed program and systemd-analyze verify accepts
#     it (its programs and its manual page from the packages); the C example
#     of README.md, copied outside the tree, builds through pkg-config and
#     through the CMake package and lists the devices of a private
#     nettlebeamd; beamctl list and nettlebeamd devices run against that
#     daemon; the exporter serves that daemon's devices at /metrics and its
#     alerting rules pass promtool; every library of the manager resolves, the packaged one among
#     them, and the manager started offscreen lists the daemon's devices
#     (--list-devices) and exits 0; man -l renders every manual page without
#     a warning.
# Any failure fails the run, naming the check. Whatever the script starts
# (the daemon, the manager) ends with it.
#
#   scripts/check-packages.sh [package folder]
set -euo pipefail

root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
packages="$(cd "${1:-$root_dir/build/packages}" && pwd)"
expected=(libnettlebeamapi2 libnettlebeamapi-dev beamctl nettlebeamd nettlebeam-exporter
    nettlebeam-manager)

work=$(mktemp -d /tmp/nettlebeam-packages.XXXXXX)
daemon_up=0
manager_pid=""
exporter_pid=""
cleanup() {
    if [[ -n $exporter_pid ]]; then
        kill "$exporter_pid" 2>/dev/null || true
        wait "$exporter_pid" 2>/dev/null || true
    fi
    if [[ -n $manager_pid ]]; then
        kill "$manager_pid" 2>/dev/null || true
        wait "$manager_pid" 2>/dev/null || true
    fi
    if [[ $daemon_up == 1 ]]; then
        "$sysroot/usr/bin/nettlebeamd" stop --control "$control" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

checks=0
fail() {
    echo "check-packages: $*" >&2
    exit 1
}
passed() {
    checks=$((checks + 1))
    echo "check-packages: $1: ok"
}

# --- the packages and lintian -------------------------------------------------
debs=()
for package in "${expected[@]}"; do
    matches=("$packages/${package}"_*.deb)
    [[ -f ${matches[0]} && ${#matches[@]} == 1 ]] ||
        fail "expected one ${package}_*.deb in $packages"
    debs+=("${matches[0]}")
done

# Errors fail; warnings are printed for whoever reads the log.
status=0
report=$(lintian --fail-on error --tag-display-limit 0 "${debs[@]}" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[[ $status == 0 ]] || fail "lintian reports errors (above)"
passed "lintian"

# Dependencies come from dpkg-shlibdeps: the programs linking the library
# must depend on its package, the development package on its exact version.
for program in beamctl nettlebeam-exporter nettlebeam-manager; do
    depends=$(dpkg-deb -f "$packages/${program}"_*.deb Depends)
    grep -qE '(^|, )libnettlebeamapi2 \(>= ' <<<"$depends" ||
        fail "$program does not depend on libnettlebeamapi2: $depends"
done
version=$(dpkg-deb -f "$packages"/libnettlebeamapi2_*.deb Version)
depends=$(dpkg-deb -f "$packages"/libnettlebeamapi-dev_*.deb Depends)
grep -qF "libnettlebeamapi2 (= $version)" <<<"$depends" ||
    fail "libnettlebeamapi-dev does not depend on libnettlebeamapi2 (= $version): $depends"
passed "package dependencies"

sysroot="$work/root"
mkdir "$sysroot"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$sysroot"; done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir="$sysroot/usr/lib/$multiarch"

# --- files a desktop and systemd use ------------------------------------------
desktop="$sysroot/usr/share/applications/nettlebeam-manager.desktop"
[[ -f $desktop ]] || fail "no desktop entry in nettlebeam-manager"
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -f $sysroot/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] ||
    fail "the desktop entry's icon $icon is not installed"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -L $sysroot/usr/bin/$exec_name ]] || fail "the desktop entry runs $exec_name, not a link in /usr/bin"
passed "desktop entry"

# The link is relative, so it resolves inside the unpacked root too.
manager=$(readlink -f "$sysroot/usr/bin/nettlebeam-manager")
[[ $manager == "$libdir/nettlebeam-manager/NettlebeamManager" && -x $manager ]] ||
    fail "/usr/bin/nettlebeam-manager does not lead to the manager in its folder ($manager)"
catalogue="$(dirname "$manager")/firmware/firmware.xml"
[[ -f $catalogue ]] || fail "no firmware catalogue beside the manager"
while read -r image; do
    [[ -f $(dirname "$catalogue")/$image ]] || fail "the catalogue lists $image, which is not installed"
done < <(sed -n 's|.*<file>\(.*\)</file>.*|\1|p' "$catalogue")
passed "manager layout"

mkdir -m 0700 "$work/runtime" "$work/unit"
for service in nettlebeamd nettlebeam-exporter; do
    unit="$sysroot/usr/lib/systemd/user/$service.service"
    [[ -f $unit ]] || fail "no systemd user unit in $service"
    while read -r program; do
        [[ $program == /* && -x $sysroot$program ]] || fail "the unit runs $program, which $service does not install"
    done < <(sed -n 's/^Exec[A-Za-z]*=\([^ ]*\).*/\1/p' "$unit")
    # systemd's own reading of the unit, as a user manager would load it: its
    # programs are those of the unpacked root, its manual page the packaged one.
    # Warnings (an unknown key, a value it cannot parse) fail as well as errors.
    sed "s#^\(Exec[A-Za-z]*=\)/#\1$sysroot/#" "$unit" >"$work/unit/$service.service"
    status=0
    report=$(XDG_RUNTIME_DIR="$work/runtime" MANPATH="$sysroot/usr/share/man" \
        systemd-analyze verify --user "$work/unit/$service.service" 2>&1) || status=$?
    [[ $status == 0 && -z $report ]] || fail "systemd-analyze verify refuses the $service unit: $report"
done
passed "systemd user units"

# --- programs from the unpacked root against a private daemon -----------------
export LD_LIBRARY_PATH="$libdir"
control="$work/control/KV7Control"
mkdir -m 0700 "$work/control"
export NETTLEBEAM_CONTROL="$control"
"$sysroot/usr/bin/nettlebeamd" serve --fleet demo --daemon 2>"$work/daemon.log" ||
    fail "nettlebeamd from the package did not start: $(cat "$work/daemon.log")"
daemon_up=1
devices=$("$sysroot/usr/bin/nettlebeamd" devices) || fail "nettlebeamd devices failed"
macs=$(sed -n 's/.* mac \([0-9a-f:]*\)$/\1/p' <<<"$devices")
[[ $(wc -l <<<"$macs") == 3 ]] || fail "nettlebeamd devices lists other than the demo's three devices: $devices"
passed "nettlebeamd devices"

# The program must list exactly the daemon's devices: the library lists the
# devices found by one enumeration together.
expect_daemon_macs() {
    local what=$1 output=$2 listed
    listed=$(grep -oE '([0-9a-f]{2}:){5}[0-9a-f]{2}' <<<"$output" | sort || true)
    [[ $listed == "$(sort <<<"$macs")" ]] ||
        fail "$what did not list the daemon's devices ($(echo $macs)): $output"
}

grep -q "libNettlebeamAPI.so.2 => $libdir/" < <(ldd "$sysroot/usr/bin/beamctl") ||
    fail "beamctl does not load the packaged library"
output=$("$sysroot/usr/bin/beamctl" list) || fail "beamctl list failed: $output"
expect_daemon_macs "beamctl list" "$output"
passed "beamctl list"

# The exporter as installed, on a free loopback port: one scrape lists the
# daemon's devices, and its alerting rules pass promtool.
"$sysroot/usr/bin/nettlebeam-exporter" --listen 127.0.0.1:0 >"$work/exporter.out" 2>"$work/exporter.err" &
exporter_pid=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^nettlebeam-exporter: listening on port \([0-9]*\)$/\1/p' "$work/exporter.out")
    [[ -n $port ]] && break
    kill -0 "$exporter_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -n $port ]] || fail "the exporter did not start: $(cat "$work/exporter.err")"
scrape=""
for _ in $(seq 100); do
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET /metrics HTTP/1.0\r\n\r\n' >&3
    scrape=$(cat <&3)
    exec 3<&-
    [[ $(grep -c '^nettlebeam_device_info{' <<<"$scrape") == 3 ]] && break
    sleep 0.1
done
grep -q '^nettlebeam_up 1' <<<"$scrape" || fail "the exporter's scrape has no nettlebeam_up 1: $scrape"
expect_daemon_macs "the exporter" "$(grep '^nettlebeam_device_info{' <<<"$scrape")"
promtool check rules "$sysroot/usr/share/nettlebeam-exporter/alerts.yml" >/dev/null ||
    fail "promtool refuses the packaged alerting rules"
kill "$exporter_pid"
wait "$exporter_pid" || true
exporter_pid=""
passed "exporter scrape"

# The manager as installed: every library it needs resolves, the packaged
# one among them; started without a display it lists the daemon's devices.
libraries=$(ldd "$manager") || fail "ldd cannot read the manager"
! grep -q 'not found' <<<"$libraries" || fail "the manager's libraries do not resolve: $libraries"
grep -q "libNettlebeamAPI.so.2 => $libdir/" <<<"$libraries" ||
    fail "the manager does not load the packaged library"
# The manager bounds its own wait (30 s); timeout only keeps a manager that
# never quits (one without --list-devices, say) from hanging the check.
mkdir -m 0700 "$work/config"
XDG_CONFIG_HOME="$work/config" timeout --kill-after=10 120 "$sysroot/usr/bin/nettlebeam-manager" \
    -platform offscreen --list-devices >"$work/manager.out" 2>"$work/manager.err" &
manager_pid=$!
status=0
wait "$manager_pid" || status=$?
manager_pid=""
output=$(cat "$work/manager.out")
[[ $status == 0 ]] ||
    fail "the manager --list-devices exited with $status: $output $(cat "$work/manager.err")"
expect_daemon_macs "the manager" "$output"
passed "manager start"

# The README's C example, built outside the tree.
example="$work/example"
mkdir "$example"
awk '/^```c$/ { inside = 1; next } /^```$/ { if (inside) exit } inside' "$root_dir/README.md" \
    >"$example/list_devices.c"
[[ -s $example/list_devices.c ]] || fail "README.md has no C example"

pkg_config() {
    PKG_CONFIG_LIBDIR="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$sysroot" \
        PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1 pkg-config "$@"
}
flags=$(pkg_config --cflags --libs nettlebeamapi) || fail "pkg-config finds no nettlebeamapi"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror -pedantic "$example/list_devices.c" $flags \
    -o "$example/list_devices_pkgconfig" || fail "the C example does not build through pkg-config"
output=$("$example/list_devices_pkgconfig") || fail "the C example (pkg-config) failed: $output"
expect_daemon_macs "the C example built through pkg-config" "$output"
passed "C example through pkg-config"

cat >"$example/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(list_devices C)
find_package(NettlebeamAPI 2 REQUIRED)
if(NOT NettlebeamAPI_DIR MATCHES "^${EXPECTED_ROOT}/")
  message(FATAL_ERROR "NettlebeamAPI found in ${NettlebeamAPI_DIR}, not in ${EXPECTED_ROOT}")
endif()
add_executable(list_devices list_devices.c)
set_target_properties(list_devices PROPERTIES C_STANDARD 99)
target_compile_options(list_devices PRIVATE -Wall -Wextra -Werror -pedantic)
target_link_libraries(list_devices PRIVATE NettlebeamAPI::NettlebeamAPI)
CMAKE
if ! cmake -S "$example" -B "$example/build" -DCMAKE_PREFIX_PATH="$sysroot/usr" \
    -DEXPECTED_ROOT="$sysroot" >"$work/cmake.log" 2>&1 ||
    ! cmake --build "$example/build" >>"$work/cmake.log" 2>&1; then
    fail "the C example does not build through the CMake package: $(cat "$work/cmake.log")"
fi
output=$("$example/build/list_devices") || fail "the C example (CMake) failed: $output"
expect_daemon_macs "the C example built through the CMake package" "$output"
passed "C example through the CMake package"

# --- manual pages -------------------------------------------------------------
pages=$(find "$sysroot/usr/share/man" -name '*.gz' | sort)
for page in "$sysroot/usr/share/man/man1/beamctl.1.gz" "$sysroot/usr/share/man/man8/nettlebeamd.8.gz" \
    "$sysroot/usr/share/man/man1/nettlebeam-exporter.1.gz"; do
    grep -qx "$page" <<<"$pages" || fail "missing manual page ${page#"$sysroot"}"
done
for page in $pages; do
    name=$(basename "$page" .gz)
    rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err") ||
        fail "man -l ${page#"$sysroot"} failed: $(cat "$work/man.err")"
    [[ ! -s $work/man.err ]] || fail "man -l ${page#"$sysroot"} warns: $(cat "$work/man.err")"
    if ! grep -q "^NAME" <<<"$rendered" || ! grep -qi "^${name%.*}(${name##*.})" <<<"$rendered"; then
        fail "man -l ${page#"$sysroot"} renders no page named ${name%.*}(${name##*.})"
    fi
done
passed "manual pages ($(wc -w <<<"$pages"))"

echo "check-packages: all $checks checks of ${#debs[@]} packages passed"
