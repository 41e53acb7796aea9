#!/usr/bin/env bash
# The package's installation, removal and purge by dpkg itself, into a root
# of the test's own: `dpkg --root=DIR --force-script-chrootless` unpacks into
# DIR and runs the maintainer scripts with DPKG_ROOT=DIR, as when a system
# image is built. All inside `unshare -r -m -n`, where this machine's /etc,
# /usr and /var are read-only and /run is empty (no systemd to reach).
#
# Usage: maintainer_scripts_test.sh PACKAGE.deb
set -uo pipefail

deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/etc" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nusers:x:100:\n' >"$root/etc/group"

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
# in_namespace COMMAND...: the command, with this machine read-only.
in_namespace() {
  unshare -r -m -n sh -c '
    mount -t tmpfs tmpfs /run || exit 97
    for dir in /etc /usr /var; do
      mount --bind "$dir" "$dir" && mount -o remount,bind,ro "$dir" || exit 98
    done
    exec "$@"' in_namespace "$@" >"$work/out" 2>&1
}
dpkg_root() {
  in_namespace env PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@"
}
gid() { sed -n 's/^veltrane:[^:]*:\([0-9][0-9]*\):.*/\1/p' "$root/etc/group"; }
is_system_group() { [[ -n $(gid) ]] && (($(gid) < 1000)); }
# The machine's runs' user: a system user without a shell.
is_system_user() {
  local uid
  uid=$(sed -n 's|^veltrane-sync:[^:]*:\([0-9][0-9]*\):[^:]*:[^:]*:[^:]*:/usr/sbin/nologin$|\1|p' "$root/etc/passwd")
  [[ -n $uid ]] && ((uid < 1000))
}
absent() { [[ ! -e $root/$1 && ! -L $root/$1 ]]; }

check "dpkg installs the package" dpkg_root --install "$deb"
check "the system group veltrane is made" is_system_group
check "the system user veltrane-sync is made" is_system_user
check "no unit is enabled" test -z "$(find "$root/etc" -path '*.wants/*' -o -path '*.requires/*')"
check "installing again goes well" dpkg_root --install "$deb"

# The administrator enables the timer (in the test's root), the service
# writes its log and a save leaves a temporary file; then removal.
check "the timer can be enabled" in_namespace systemctl --root="$root" enable veltrane-sync.timer
mkdir -p "$root/var/log/private/veltrane" "$root/var/log/private/other" "$root/var/lib/systemd/timers"
ln -s private/veltrane "$root/var/log/veltrane"
touch "$root/var/log/private/veltrane/Veltrane.log" "$root/var/log/private/other/other.log" \
  "$root/etc/veltrane/.Veltrane.INI.tmp-4711" "$root/var/lib/systemd/timers/stamp-veltrane-sync.timer"
check "dpkg removes the package" dpkg_root --remove veltrane
check "the polkit rule goes with it" absent usr/share/polkit-1/rules.d/50-veltrane-set-time.rules
check "the log stays until purge" test -f "$root/var/log/veltrane/Veltrane.log"

check "dpkg purges the package" dpkg_root --purge veltrane
for gone in etc/veltrane var/log/veltrane var/log/private/veltrane var/lib/systemd/timers/stamp-veltrane-sync.timer \
  etc/systemd/system/timers.target.wants/veltrane-sync.timer; do
  check "purge removes /$gone" absent "$gone"
done
check "purge leaves other logs" test -f "$root/var/log/private/other/other.log"
check "the group stays" is_system_group
check "the user stays" is_system_user

echo "maintainer scripts: $passed passed, $failed failed"
((failed == 0))
