#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it: control fields and file list,
# the menu entry, the manual pages; then, as root, installs it, checks the capabilities that
# its postinst grants, the dissector as tshark sees it, a start of the monitor and a live
# capture as a normal user, and purges it again, leaving nothing behind. Without root the
# package is only unpacked into a scratch folder and the installed checks are skipped.
#
# Usage: scripts/ci-package.sh [BUILD_DIR]     (default: build, configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build}")
package=qvlink-monitor
programs=(qvlink-monitor qvlink-sim qvlink-dump)
declare -A capabilities=(
    [qvlink-monitor]="cap_net_bind_service=ep"
    [qvlink-sim]="cap_net_bind_service,cap_net_raw=ep"
    [qvlink-dump]="cap_net_raw=ep"
)
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
for dependency in libqt6widgets6 libpcap0.8 libcap2-bin fonts-liberation; do
    grep -Eq "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done
grep -q fonts-wine <<<"$(field Recommends)" || fail "Recommends lacks fonts-wine"
dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | grep -Eq '^-rwxr-xr-x .* \./postinst$' ||
    fail "no executable postinst"
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
    /usr/bin/qvlink-monitor /usr/bin/qvlink-sim /usr/bin/qvlink-dump
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
for program in "${programs[@]}"; do
    file -b "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
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

# --- installation -----------------------------------------------------------------------------
if is_installed; then
    echo "ci-package: $package is installed already (an earlier run?); purging it first"
    apt_get purge "$package" >/dev/null
fi
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
ok "installed"

for program in "${programs[@]}"; do
    granted=$(getcap "/usr/bin/$program" | awk '{print $2}')
    [ "$granted" = "${capabilities[$program]}" ] ||
        fail "getcap $program: '$granted', expected '${capabilities[$program]}'"
done
ok "capabilities granted by the postinst"

if command -v tshark >/dev/null; then
    as_nobody=(setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --clear-groups)
    "${as_nobody[@]}" env HOME="$scratch" tshark -G plugins 2>/dev/null |
        grep -qF "$lua_dir/qvlink.lua" || fail "tshark does not load $lua_dir/qvlink.lua"
    # One sporadic TS report of device 10.0.0.60 in a raw-IPv4 capture file.
    printf '%b' '\xd4\xc3\xb2\xa1\x02\x00\x04\x00\0\0\0\0\0\0\0\0\xff\xff\0\0\xe4\0\0\0' \
        '\0\0\0\0\0\0\0\0\x28\0\0\0\x28\0\0\0' \
        '\x45\0\0\x28\0\0\0\0\x40\x11\0\0\x0a\0\0\x3c\xff\xff\xff\xff' \
        '\x03\xcd\x03\xcd\0\x14\0\0' '\xfa\xce\x10\x0a\0\x3c\x06\x02\x03\x0c\0\x01' \
        >"$scratch/report.pcap"
    decoded=$("${as_nobody[@]}" env HOME="$scratch" tshark -r "$scratch/report.pcap" \
        -T fields -e qvlink.description 2>/dev/null)
    [ "$decoded" = "Ларта-К: ТС спорадика (12 = вкл)" ] ||
        fail "the installed dissector decodes a TS report as '$decoded'"
    ok "tshark loads the dissector from $lua_dir and decodes with it"
fi

# As a normal user in a network namespace of its own (so no other monitor holds the bus
# port, and the privileged port range is the kernel's default): the monitor binds UDP 973
# and qvlink-dump captures, both through the capabilities alone; an unpacked copy of
# qvlink-dump, which carries no capability, is refused.
user_checks() {
    set -euo pipefail
    local scratch=$1 uid=$2 gid=$3 nocap_dump=$4
    local as_nobody=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
    local pid
    [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start)" -ge 1024 ] ||
        { echo "ports below 1024 are open to everyone here" >&2; return 1; }
    ip link set lo up
    trap '[ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null; true' EXIT

    wait_for_socket() { # ss options, pid: true once the process owns a matching socket
        local deadline=$((SECONDS + 15))
        until ss -H "${@:1:$#-1}" -p | grep -q "pid=${!#},"; do
            kill -0 "${!#}" 2>/dev/null || return 1
            [ "$SECONDS" -lt "$deadline" ] || return 1
            sleep 0.1
        done
    }

    install -d -o "$uid" -m 700 "$scratch/runtime"
    "${as_nobody[@]}" env QT_QPA_PLATFORM=offscreen HOME="$scratch/runtime" \
        XDG_RUNTIME_DIR="$scratch/runtime" qvlink-monitor 2>"$scratch/monitor.err" &
    pid=$!
    wait_for_socket -uln "sport = :973" "$pid" ||
        { echo "qvlink-monitor as nobody did not bind UDP 973" >&2; cat "$scratch/monitor.err" >&2; return 1; }
    kill -TERM "$pid"
    wait "$pid" || true
    [ -s "$scratch/runtime/.local/share/qvlink-monitor/history.sqlite3" ] ||
        { echo "qvlink-monitor as nobody recorded no history under its HOME" >&2; cat "$scratch/monitor.err" >&2; return 1; }

    "${as_nobody[@]}" qvlink-dump -i lo -q 2>"$scratch/dump.err" &
    pid=$!
    wait_for_socket -0 "$pid" ||
        { echo "qvlink-dump as nobody did not capture" >&2; cat "$scratch/dump.err" >&2; return 1; }
    kill -TERM "$pid"
    wait "$pid" || true
    pid=

    local status=0
    "${as_nobody[@]}" "$nocap_dump" -i lo -q 2>"$scratch/nocap.err" || status=$?
    { [ "$status" = 2 ] && grep -q setcap "$scratch/nocap.err"; } ||
        { echo "qvlink-dump without the capability was not refused (exit $status)" >&2; return 1; }
}
if unshare --net true 2>/dev/null; then
    unshare --net bash -c "$(declare -f user_checks); user_checks \"\$@\"" user_checks \
        "$scratch" "$nobody_uid" "$nobody_gid" "$root/usr/bin/qvlink-dump" ||
        fail "start as a normal user"
    ok "as nobody: the monitor binds UDP 973, qvlink-dump captures; without the capability it is refused"
else
    skip "no network namespace can be created here: start of the monitor as a normal user"
fi

# --- removal ----------------------------------------------------------------------------------
apt_get purge "$package" >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get purge $package"
}
installed_here=0
! dpkg -L "$package" >/dev/null 2>&1 || fail "dpkg still lists $package after the purge"
for path in "${expected[@]}" /usr/share/doc/$package; do
    [ ! -e "$path" ] || fail "$path is left after the purge"
done
ok "purged; nothing left"
