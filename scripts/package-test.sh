#!/usr/bin/env bash
# Installs the Debian package into a throw-away Debian 12 root made by debootstrap and checks
# it: the programs answer, kairelon --query asks the installed kairelon-daytimed on 127.0.0.1
# (started as root on port 13, so it must give root up), the group, the user and the folders
# are there, an enabled unit is disabled on removal, removal leaves none of the package's
# files, and purging removes /var/lib/kairelon. Needs root and a Debian mirror
# (KAIRELON_DEBIAN_MIRROR, default http://deb.debian.org/debian); not part of the test suite.
#
#   bash scripts/package-test.sh [kairelon_VERSION_ARCH.deb]
#
# Without an argument it builds the package with scripts/package.sh. KAIRELON_KEEP_ROOT=1
# keeps the Debian root for a look afterwards; KAIRELON_DEBOOTSTRAP_VARIANT=minbase (the
# default) or "" (a standard system) chooses its size.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mirror=${KAIRELON_DEBIAN_MIRROR:-http://deb.debian.org/debian}
variant=${KAIRELON_DEBOOTSTRAP_VARIANT-minbase}

if [ "$(id -u)" -ne 0 ]; then
    echo "package-test: needs root (debootstrap, chroot)" >&2
    exit 2
fi
KAIRELON_EXTRA_PACKAGES="debootstrap ${KAIRELON_EXTRA_PACKAGES:-}" "$top/scripts/install-deps.sh"

if [ $# -ge 1 ]; then
    deb=$(realpath "$1")
else
    deb=$(bash "$top/scripts/package.sh" | tail -n 1)
fi
[ -f "$deb" ] || { echo "package-test: no package '$deb'" >&2; exit 2; }

root=$(mktemp -d /var/tmp/kairelon-root.XXXXXX)
daemon=""
cleanup() {
    if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null || true; fi
    umount "$root/proc" 2>/dev/null || true
    if [ "${KAIRELON_KEEP_ROOT:-}" = "1" ]; then
        echo "package-test: the Debian root stays in $root"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT

failures=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"; }

echo "==== debootstrap bookworm ($mirror, variant '${variant:-standard}')"
mkdir -p /var/cache/kairelon-debootstrap
debootstrap ${variant:+--variant="$variant"} --cache-dir=/var/cache/kairelon-debootstrap \
    bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 30 "$root.debootstrap.log"; exit 2; }
rm -f "$root.debootstrap.log"
mount -t proc proc "$root/proc"
# No service starts inside the throw-away root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
find "$root" -xdev \( -path "$root/proc" -o -path "$root/var/cache" -o -path "$root/var/lib/apt" \
    -o -path "$root/var/log" \) -prune -o -print | sort >"$root.before"

echo "==== apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get update -q >/dev/null
in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$(basename "$deb")" \
    | tail -n 4
rm -f "$root/tmp/$(basename "$deb")"
in_root dpkg-query -W -f='${Status} ${Version}\n' kairelon
echo "==== the package's files"
in_root dpkg -L kairelon | tee "$root.files"

echo "==== checks"
version=$(in_root kairelon --version)
echo "$ kairelon --version"
echo "$version"
check "kairelon --version" [ "${version#kairelon }" != "$version" ]
check "kairelon-clockd --version" in_root kairelon-clockd --version
check "kairelon-daytimed --help" in_root kairelon-daytimed --help
check "manual page kairelon(1)" in_root test -f /usr/share/man/man1/kairelon.1.gz
check "menu entry, autostart entry and icons" in_root test -f /usr/share/applications/kairelon.desktop \
    -a -f /etc/xdg/autostart/kairelon.desktop -a -f /usr/share/icons/hicolor/16x16/apps/kairelon.png

port=13
if (exec 3<>/dev/tcp/127.0.0.1/13) 2>/dev/null; then port=1313; fi
in_root kairelon-daytimed --bind 127.0.0.1 --port "$port" >"$root.daemon" 2>&1 &
daemon=$!
for _ in $(seq 50); do grep -q "serving on" "$root.daemon" 2>/dev/null && break; sleep 0.1; done
sleep 0.3
cat "$root.daemon"
pid=$(pgrep -n -P "$daemon" kairelon-dayti || echo "$daemon")
nobody=$(in_root id -u nobody)
check "kairelon-daytimed gave up root (uid $nobody)" \
    grep -Eq "^Uid:\s+$nobody\s+$nobody\s+$nobody\s+$nobody$" "/proc/$pid/status"
echo "$ kairelon --query 127.0.0.1:$port"
query=$(in_root kairelon --query "127.0.0.1:$port" --timeout 5000) || true
echo "$query"
check "kairelon --query against the installed kairelon-daytimed" \
    grep -q "^deviation: 0$" <<<"$query"
# The background job is the shell around the chrooted daemon: end the daemon itself too.
kill "$pid" "$daemon" 2>/dev/null || true
wait "$daemon" || true
daemon=""

check "group kairelon" in_root getent group kairelon
check "user kairelon in group kairelon" \
    test "$(in_root id -gn kairelon 2>/dev/null)" = kairelon
check "/var/lib/kairelon root:kairelon 2770" \
    test "$(in_root stat -c '%a %U %G' /var/lib/kairelon)" = "2770 root kairelon"
check "/var/lib/kairelon/headless kairelon:kairelon 700" \
    test "$(in_root stat -c '%a %U %G' /var/lib/kairelon/headless)" = "700 kairelon kairelon"
check "headless settings switch the service route on" \
    grep -q '"UseService"=dword:00000001' "$root/var/lib/kairelon/headless/kairelon/user.reg"
check "the units pass systemd-analyze verify" \
    in_root systemd-analyze verify --man=no /lib/systemd/system/kairelon-clockd.service \
    /lib/systemd/system/kairelon-daytimed.service /lib/systemd/system/kairelon-headless.service
in_root systemctl enable kairelon-clockd.service kairelon-headless.service 2>&1 | sed 's/^/  /'
check "kairelon-clockd enabled" \
    test -L "$root/etc/systemd/system/multi-user.target.wants/kairelon-clockd.service"

echo "==== apt-get remove kairelon"
in_root sh -c "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kairelon" | tail -n 2
left=0
while read -r path; do
    # Folders (and /lib, a link to one) may be shared with other packages; configuration files
    # under /etc (the autostart entry) stay until the package is purged.
    case $path in /etc/*) continue ;; esac
    if [ ! -d "$root$path" ] && { [ -e "$root$path" ] || [ -L "$root$path" ]; }; then
        echo "  left behind: $path"
        left=1
    fi
done <"$root.files"
check "no file of the package left after removal" [ "$left" = 0 ]
check "no unit left enabled" \
    test -z "$(find "$root/etc/systemd/system" -name 'kairelon-*' -print)"
check "kairelon is no longer installed" \
    test "$(in_root dpkg-query -W -f='${Status}' kairelon)" = "deinstall ok config-files"

echo "==== apt-get purge kairelon"
in_root sh -c "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kairelon" | tail -n 2
check "purge removes /var/lib/kairelon" test ! -e "$root/var/lib/kairelon"
check "purge removes the autostart entry" test ! -e "$root/etc/xdg/autostart/kairelon.desktop"
check "nothing of kairelon known to dpkg" \
    test -z "$(in_root dpkg-query -W -f='${Status}' kairelon 2>/dev/null)"
# Every path that is new since before the installation, other than the dependencies' own files.
find "$root" -xdev \( -path "$root/proc" -o -path "$root/var/cache" -o -path "$root/var/lib/apt" \
    -o -path "$root/var/log" \) -prune -o -print | sort >"$root.after"
leftovers=$(comm -13 "$root.before" "$root.after" | sed "s|^$root||" | grep -i kairelon || true)
[ -z "$leftovers" ] || echo "$leftovers" | sed 's/^/  left behind: /'
check "no path named kairelon left after purge" [ -z "$leftovers" ]
rm -f "$root.before" "$root.after" "$root.files" "$root.daemon"

if [ "$failures" -ne 0 ]; then
    echo "package-test: $failures check(s) failed"
    exit 1
fi
echo "package-test: all checks passed"
