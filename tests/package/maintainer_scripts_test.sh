#!/usr/bin/env bash
# The package's installation, removal and purge, by dpkg itself, into a root
# of the test's own: `dpkg --root=DIR --force-script-chrootless` unpacks into
# DIR and runs the maintainer scripts with DPKG_ROOT=DIR, as when a system
# image is built. Everything runs inside `unshare -r -m -n`, where this
# machine's /etc, /usr and /var are mounted read-only and /run is empty (no
# systemd to reach), so nothing of this machine can change.
#
# Usage: maintainer_scripts_test.sh PACKAGE.deb
set -uo pipefail

deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/etc" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
touch "$root/var/lib/dpkg/status"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nusers:x:100:\n' >"$root/etc/group"
host_files=$(cat /etc/group /etc/passwd | sha256sum)

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: counts, and names a failure
  local description=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $description"
    sed 's/^/    /' "$work/out"
  fi
}

# in_namespace COMMAND...: runs the command with this machine read-only.
in_namespace() {
  unshare -r -m -n sh -c '
    mount -t tmpfs tmpfs /run || exit 97
    for dir in /etc /usr /var; do
      mount --bind "$dir" "$dir" && mount -o remount,bind,ro "$dir" || exit 98
    done
    exec "$@"' in_namespace "$@" >"$work/out" 2>&1
}
# dpkg_root ARGUMENTS...: dpkg on the test's root.
dpkg_root() {
  in_namespace env PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@"
}

gid() { sed -n 's/^veltrane:[^:]*:\([0-9][0-9]*\):.*/\1/p' "$root/etc/group"; }
has_group() { [[ -n $(gid) ]]; }
is_system_group() { has_group && (($(gid) < 1000)); }
timer_link=$root/etc/systemd/system/timers.target.wants/veltrane-sync.timer
rule=$root/usr/share/polkit-1/rules.d/50-veltrane-set-time.rules
no_links() { [[ -z $(find "$root/etc" -path '*.wants/*' -o -path '*.requires/*') ]]; }

# Installation: the group, the rule, the settings; nothing enabled.
check "dpkg installs the package" dpkg_root --install "$deb"
check "the group veltrane is made" has_group
check "it is a system group" is_system_group
check "the polkit rule is in place" test -f "$rule"
check "the machine's settings are a conffile" grep -qx /etc/veltrane/Veltrane.INI "$root/var/lib/dpkg/info/veltrane.conffiles"
check "no unit is enabled" no_links
first_gid=$(gid)
check "installing again keeps the group as it was" dpkg_root --install "$deb"
check "  with its number" test "$(gid)" = "$first_gid"

# An administrator's `systemctl enable`, made in the test's root, and what the
# service writes; then removal: the package's files go, settings, log,
# group and the administrator's choice stay.
check "the administrator enables the timer" in_namespace systemctl --root="$root" enable veltrane-sync.timer
check "  its link exists" test -L "$timer_link"
printf ';changed\r\n' >>"$root/etc/veltrane/Veltrane.INI"
touch "$root/etc/veltrane/.Veltrane.INI.tmp-4711"
mkdir -p "$root/var/log/private/veltrane" "$root/var/log/private/other" "$root/var/lib/systemd/timers"
ln -s private/veltrane "$root/var/log/veltrane"
touch "$root/var/log/private/veltrane/Veltrane.log" "$root/var/log/private/veltrane/OldLog.log" \
  "$root/var/log/private/other/other.log" "$root/var/lib/systemd/timers/stamp-veltrane-sync.timer"
check "dpkg removes the package" dpkg_root --remove veltrane
check "the polkit rule has gone" test ! -e "$rule"
check "the units have gone" test ! -e "$root/usr/lib/systemd/system/veltrane-sync.service"
check "the settings stay" grep -q ';changed' "$root/etc/veltrane/Veltrane.INI"
check "the log stays" test -f "$root/var/log/veltrane/Veltrane.log"
check "the administrator's link stays" test -L "$timer_link"

# Purge: everything the package and its runs made, except the group.
check "dpkg purges the package" dpkg_root --purge veltrane
for gone in etc/veltrane var/log/veltrane var/log/private/veltrane var/lib/systemd/timers/stamp-veltrane-sync.timer \
  etc/systemd/system/timers.target.wants/veltrane-sync.timer; do
  check "purge removes /$gone" test ! -e "$root/$gone" -a ! -L "$root/$gone"
done
check "purge leaves other logs" test -f "$root/var/log/private/other/other.log"
check "the group stays" has_group

check "this machine's users and groups are untouched" test "$(cat /etc/group /etc/passwd | sha256sum)" = "$host_files"

echo "maintainer scripts: $passed passed, $failed failed"
((failed == 0))
