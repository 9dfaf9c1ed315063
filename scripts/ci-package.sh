#!/usr/bin/env bash
# Builds the Debian package from a Release build with warnings as errors and checks it:
# control fields and maintainer scripts, file list, the menu entry, the manual pages; then,
# as root, installs it and checks who may do what for both answers to the capture question:
# the rights and modes of the installed programs, the dissector as tshark sees it, a start of
# the monitor, live capture and the reading of a capture file as users outside and inside
# group qvlink; that an upgrade keeps the answer, and that a purge leaves nothing behind.
# Without root the package is only unpacked into a scratch folder and the installed checks
# are skipped.
#
# Usage: scripts/ci-package.sh [BUILD_DIR]
#   without BUILD_DIR: configures and builds ${QVLINK_BUILD_ROOT:-build}-release (Release,
#   QVLINK_WERROR=ON, no tests) first; with it: packages that built tree as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
    build=$(realpath -m "${QVLINK_BUILD_ROOT:-build}-release")
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVLINK_WERROR=ON \
        -DQVLINK_BUILD_TESTS=OFF
    cmake --build "$build" -j "$(nproc)"
else
    build=$(realpath "$1")
fi
package=qvlink-monitor
programs=(qvlink-monitor qvlink-sim qvlink-dump)
helper=/usr/libexec/qvlink-monitor/qvlink-capture
question=qvlink-monitor/non-root-capture
nobody_uid=$(id -u nobody)
nobody_gid=$(id -g nobody)

fail() {
    echo "ci-package: FAIL: $*" >&2
    exit 1
}
ok() { echo "ci-package: ok: $*"; }
skip() { echo "ci-package: SKIPPED: $*"; }

is_installed() {
    dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -q '^installed$'
}

apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"
}

scratch=$(mktemp -d /tmp/qvlink-package.XXXXXX)
chmod 755 "$scratch" # the checks run as nobody read and run files from here
installed_here=0
cleanup() {
    if [ "$installed_here" = 1 ] && is_installed; then
        echo "ci-package: removing the package installed by this run"
        apt_get purge "$package" >/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- build ------------------------------------------------------------------------------------
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build tree"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/${package}_${version}_${arch}.deb"
rm -f "$build/${package}"_*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || {
    cat "$scratch/cpack.log" >&2
    fail "cpack -G DEB"
}
[ -f "$deb" ] || fail "cpack did not write $deb"
ok "built $(basename "$deb"), $(stat -c %s "$deb") bytes"

# --- control fields ---------------------------------------------------------------------------
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), project $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = net ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
for dependency in libqt6widgets6 libpcap0.8 libcap2-bin adduser debconf fonts-liberation; do
    grep -Eq "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done
grep -q fonts-wine <<<"$(field Recommends)" || fail "Recommends lacks fonts-wine"
dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - >"$scratch/control"
for script in config postinst postrm; do
    grep -Eq "^-rwxr-xr-x .* \./$script\$" "$scratch/control" || fail "no executable $script"
done
grep -Eq '^-rw-r--r-- .* \./templates$' "$scratch/control" || fail "no templates"
dpkg-deb --info "$deb" templates | grep -q "^Template: $question\$" ||
    fail "the templates do not ask $question"
ok "control fields; Depends: $depends"

# --- file list --------------------------------------------------------------------------------
# The dissector belongs in the folder from which Wireshark loads global Lua plugins.
if command -v tshark >/dev/null; then
    lua_dir=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
    [ -n "$lua_dir" ] || fail "tshark -G folders names no global Lua plugin folder"
else
    lua_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins
    skip "tshark is not installed: expecting the dissector in $lua_dir"
fi
expected=(
    /usr/bin/qvlink-monitor /usr/bin/qvlink-sim /usr/bin/qvlink-dump "$helper"
    "$lua_dir/qvlink.lua"
    /usr/share/applications/qvlink-monitor.desktop
    /usr/share/icons/hicolor/scalable/apps/qvlink-monitor.svg
    /usr/share/man/man1/qvlink-monitor.1.gz /usr/share/man/man1/qvlink-sim.1.gz
    /usr/share/man/man1/qvlink-dump.1.gz
)
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort \
    >"$scratch/files"
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected"
if ! diff -u "$scratch/expected" "$scratch/files"; then
    fail "the package's files differ from the expected ones (- missing, + unexpected)"
fi
ok "file list: ${#expected[@]} files"

# --- unpacked contents ------------------------------------------------------------------------
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for program in "${programs[@]/#//usr/bin/}" "$helper"; do
    file -b "$root$program" | grep -q ', stripped' || fail "$program is not stripped"
done

desktop="$root/usr/share/applications/qvlink-monitor.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ -x "$root/usr/bin/$(entry Exec)" ] || fail "Exec=$(entry Exec) is no installed program"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg" ] ||
    fail "Icon=$(entry Icon) has no icon file"
grep -q '^Comment\[ru\]=' "$desktop" || fail "no Russian comment"
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/qvlink-monitor.svg" ||
    fail "the icon is no SVG"
ok "menu entry and icon"

for program in "${programs[@]}"; do
    page="$root/usr/share/man/man1/$program.1.gz"
    text=$(MANWIDTH=80 LC_ALL=C MAN_KEEP_STDERR=1 man --warnings -l "$page" 2>"$scratch/man.err") ||
        fail "man -l $program.1.gz"
    [ ! -s "$scratch/man.err" ] || fail "man -l $program.1.gz warns: $(cat "$scratch/man.err")"
    for section in NAME SYNOPSIS DESCRIPTION; do
        grep -q "^$section" <<<"$text" || fail "$program.1 has no $section section"
    done
    # Every option the program lists in its --help must be documented on its page.
    if [ "$program" != qvlink-monitor ]; then
        for option in $("$root/usr/bin/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
            grep -qF -- "$option" <<<"$text" || fail "$program.1 does not document $option"
        done
    fi
done
ok "manual pages"

if [ "$(id -u)" -ne 0 ]; then
    skip "not root: the package was only unpacked; capabilities, start as a normal user and removal are not checked"
    exit 0
fi

# --- installation, capture left to root --------------------------------------------------------
if is_installed; then
    echo "ci-package: $package is installed already (an earlier run?); purging it first"
    apt_get purge "$package" >/dev/null
fi
group_existed=0
getent group qvlink >/dev/null && group_existed=1

# answer <true|false>: preseeds the capture question, as an administrator would.
answer() {
    echo "$package $question boolean $1" | debconf-set-selections
}

answer false
installed_here=1
apt_get install --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get install $deb"
}
is_installed || fail "$package is not installed after apt-get install"
dpkg -L "$package" | sort >"$scratch/installed"
for path in "${expected[@]}"; do
    case $path in
    /usr/share/man/*) continue ;; # may be excluded by the machine's dpkg path-exclude
    esac
    { grep -qxF "$path" "$scratch/installed" && [ -f "$path" ]; } || fail "$path is not installed"
done
getent group qvlink >/dev/null || fail "the installation did not create group qvlink"
ok "installed; group qvlink exists"

# rights <program> <mode owner:group> <capabilities>: checks one installed program.
rights() {
    local granted shown
    granted=$(getcap "$1" | awk '{print $2}')
    shown=$(stat -c '%A %U:%G' "$1")
    [ "$shown" = "$2" ] || fail "$1 is '$shown', expected '$2'"
    [ "$granted" = "$3" ] || fail "getcap $1: '$granted', expected '$3'"
}

# show_rights <answer>: what the closing note of a change shows.
show_rights() {
    echo "ci-package: answer $1:"
    ls -l /usr/bin/qvlink-monitor /usr/bin/qvlink-sim /usr/bin/qvlink-dump "$helper" |
        sed 's/^/    /'
    getcap /usr/bin/qvlink-monitor /usr/bin/qvlink-sim /usr/bin/qvlink-dump "$helper" |
        sed 's/^/    getcap: /'
}

# no_capture_right: no file of the package may capture.
no_capture_right() {
    local found
    found=$(grep -v '/$' "$scratch/installed" | while read -r path; do
        [ -f "$path" ] && getcap "$path"
    done | grep cap_net_raw || true)
    [ -z "$found" ] || fail "with capture left to root, some file may capture: $found"
}

common_rights() {
    rights /usr/bin/qvlink-monitor "-rwxr-xr-x root:root" "cap_net_bind_service=ep"
    rights /usr/bin/qvlink-sim "-rwxr-xr-x root:root" ""
    rights /usr/bin/qvlink-dump "-rwxr-xr-x root:root" ""
}

show_rights false
common_rights
rights "$helper" "-rwxr-xr-x root:root" ""
no_capture_right
ok "capture left to root: no program may capture; the monitor and the simulator bind privileged ports"

# One sporadic TS report of device 10.0.0.60 in a raw-IPv4 capture file.
printf '%b' '\xd4\xc3\xb2\xa1\x02\x00\x04\x00\0\0\0\0\0\0\0\0\xff\xff\0\0\xe4\0\0\0' \
    '\0\0\0\0\0\0\0\0\x28\0\0\0\x28\0\0\0' \
    '\x45\0\0\x28\0\0\0\0\x40\x11\0\0\x0a\0\0\x3c\xff\xff\xff\xff' \
    '\x03\xcd\x03\xcd\0\x14\0\0' '\xfa\xce\x10\x0a\0\x3c\x06\x02\x03\x0c\0\x01' \
    >"$scratch/report.pcap"
chmod 644 "$scratch/report.pcap"
as_nobody=(setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --clear-groups)

if command -v tshark >/dev/null; then
    "${as_nobody[@]}" env HOME="$scratch" tshark -G plugins 2>/dev/null |
        grep -qF "$lua_dir/qvlink.lua" || fail "tshark does not load $lua_dir/qvlink.lua"
    decoded=$("${as_nobody[@]}" env HOME="$scratch" tshark -r "$scratch/report.pcap" \
        -T fields -e qvlink.description 2>/dev/null)
    [ "$decoded" = "Ларта-К: ТС спорадика (12 = вкл)" ] ||
        fail "the installed dissector decodes a TS report as '$decoded'"
    ok "tshark loads the dissector from $lua_dir and decodes with it"
fi

# reads_capture_file <user command...>: qvlink-dump -r decodes the report for that user.
reads_capture_file() {
    local shown
    shown=$("$@" env LC_ALL=C.UTF-8 qvlink-dump -r "$scratch/report.pcap") ||
        fail "qvlink-dump -r as $*: exit $?"
    grep -q "10.0.0.60.*Ларта-К: ТС спорадика" <<<"$shown" ||
        fail "qvlink-dump -r as $* shows '$shown'"
}

# captures_live <user command...>: qvlink-dump captures on lo and ends cleanly on SIGTERM.
captures_live() {
    local err=$scratch/live.err pid deadline=$((SECONDS + 30))
    "$@" qvlink-dump -i lo -q 2>"$err" &
    pid=$!
    until grep -q "capturing on lo" "$err"; do
        if ! kill -0 "$pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            kill -KILL "$pid" 2>/dev/null || true
            fail "qvlink-dump as $* did not capture: $(cat "$err")"
        fi
        sleep 0.1
    done
    kill -TERM "$pid"
    wait "$pid" || fail "qvlink-dump as $* did not end cleanly on SIGTERM: $(cat "$err")"
}

# refused_live <message> <user command...>: qvlink-dump may not capture and says why.
refused_live() {
    local message=$1 status=0
    shift
    timeout 30 "$@" qvlink-dump -i lo -q 2>"$scratch/refused.err" || status=$?
    { [ "$status" = 2 ] && grep -qF "$message" "$scratch/refused.err"; } ||
        fail "qvlink-dump as $* was not refused with '$message' (exit $status): $(cat "$scratch/refused.err")"
}

# As a normal user in a network namespace of its own (so no other monitor holds the bus
# port, and the privileged port range is the kernel's default), the monitor binds UDP 973
# through its capability alone.
monitor_starts() {
    set -euo pipefail
    local scratch=$1 uid=$2 gid=$3 deadline=$((SECONDS + 15))
    [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start)" -ge 1024 ] ||
        { echo "ports below 1024 are open to everyone here" >&2; return 1; }
    ip link set lo up
    install -d -o "$uid" -m 700 "$scratch/runtime"
    setpriv --reuid="$uid" --regid="$gid" --clear-groups env QT_QPA_PLATFORM=offscreen \
        HOME="$scratch/runtime" XDG_RUNTIME_DIR="$scratch/runtime" qvlink-monitor \
        2>"$scratch/monitor.err" &
    pid=$!
    trap '[ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null; true' EXIT
    until ss -H -uln "sport = :973" -p | grep -q "pid=$pid,"; do
        if ! kill -0 "$pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            echo "qvlink-monitor as nobody did not bind UDP 973" >&2
            cat "$scratch/monitor.err" >&2
            return 1
        fi
        sleep 0.1
    done
    kill -TERM "$pid"
    wait "$pid" || true
    pid=
    [ -s "$scratch/runtime/.local/share/qvlink-monitor/history.sqlite3" ] ||
        { echo "qvlink-monitor as nobody recorded no history under its HOME" >&2; cat "$scratch/monitor.err" >&2; return 1; }
}
check_monitor_starts() {
    if unshare --net true 2>/dev/null; then
        unshare --net bash -c "$(declare -f monitor_starts); monitor_starts \"\$@\"" \
            monitor_starts "$scratch" "$nobody_uid" "$nobody_gid" ||
            fail "start of the monitor as nobody"
        ok "as nobody: the monitor binds UDP 973"
    else
        skip "no network namespace can be created here: start of the monitor as a normal user"
    fi
}

check_monitor_starts
reads_capture_file "${as_nobody[@]}"
refused_live "qvlink-capture: permission denied: live capture needs root or cap_net_raw" \
    "${as_nobody[@]}"
captures_live env
ok "capture left to root: nobody reads a capture file but cannot capture live; root can"

# --- capture for group qvlink -----------------------------------------------------------------
answer true
dpkg-reconfigure -f noninteractive "$package" >"$scratch/reconfigure.log" 2>&1 || {
    cat "$scratch/reconfigure.log" >&2
    fail "dpkg-reconfigure $package"
}
qvlink_gid=$(getent group qvlink | cut -d: -f3)
as_member=(setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --groups="$qvlink_gid")

capture_for_group() {
    common_rights
    rights "$helper" "-rwxr-x--- root:qvlink" "cap_net_raw=ep"
}
show_rights true
capture_for_group
check_monitor_starts
reads_capture_file "${as_nobody[@]}"
refused_live "permission denied: live capture is for root and the members of group qvlink" \
    "${as_nobody[@]}"
captures_live "${as_member[@]}"
reads_capture_file "${as_member[@]}"
ok "capture for group qvlink: a member captures live; nobody else can, everyone reads files"

# An upgrade replaces every file, which drops its capabilities: the answer must hold after.
apt_get install --reinstall --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get install --reinstall $deb"
}
capture_for_group
captures_live "${as_member[@]}"
ok "an upgrade keeps the answer"

answer false
dpkg-reconfigure -f noninteractive "$package" >"$scratch/reconfigure.log" 2>&1 || {
    cat "$scratch/reconfigure.log" >&2
    fail "dpkg-reconfigure $package"
}
common_rights
rights "$helper" "-rwxr-xr-x root:root" ""
no_capture_right
refused_live "qvlink-capture: permission denied" "${as_member[@]}"
ok "dpkg-reconfigure back to root only: no program may capture"

# --- removal ----------------------------------------------------------------------------------
apt_get purge "$package" >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get purge $package"
}
installed_here=0
! dpkg -L "$package" >/dev/null 2>&1 || fail "dpkg still lists $package after the purge"
for path in "${expected[@]}" /usr/share/doc/$package /var/lib/qvlink-monitor; do
    [ ! -e "$path" ] || fail "$path is left after the purge"
done
! dpkg-statoverride --list "$helper" >/dev/null || fail "an owner override of $helper is left"
[ -z "$(debconf-show "$package" 2>/dev/null)" ] || fail "the debconf answer is left"
if [ "$group_existed" = 0 ]; then
    ! getent group qvlink >/dev/null || fail "group qvlink, created by the package, is left"
else
    getent group qvlink >/dev/null || fail "the purge removed group qvlink, which it had not created"
fi
ok "purged; nothing left"
