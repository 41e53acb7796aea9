#!/usr/bin/env bash
# Builds the Debian source and binary packages (scripts/package.sh, with
# dpkg-buildpackage) and checks them: lintian --pedantic on both with no
# error and no warning, a second build of the binary package byte for byte
# the same, desktop-file-validate on both desktop entries, appstreamcli
# --pedantic on the AppStream metadata, the manual page through groff and
# man without a warning, the icon sizes, the systemd units (systemd-analyze
# verify, and the offline security rating of both services), the polkit rule,
# installation, removal and purge by dpkg into a root of the test's own, the
# packaged program itself, extracted and run in private namespaces, and the
# RPM of packaging/rpm/veltrane.rpmbuild built by rpmbuild from the same source.
# No unit is ever enabled or started and nothing is installed on this
# machine. Non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(lintian desktop-file-utils appstream groff man-db nodejs imagemagick dpkg-dev util-linux iproute2 systemd strace
  rpm rpmlint)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  run=()
  if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
  "${run[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both builds of the check take the time of the commit checked out now.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
echo "== Building the package"
if ! bash scripts/package.sh >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "package: the package was not built"
  exit 1
fi
deb=$(tail -n 1 "$work/package.log")
out=$(dirname "$deb")
version=$(dpkg-deb -f "$deb" Version)
dsc=$out/veltrane_$version.dsc
echo "$dsc"
echo "$deb"
dpkg-deb -x "$deb" "$work/root"
# As on a merged /usr (every Debian since 12): the system units the package
# puts in /lib/systemd/system are in /usr/lib/systemd/system.
if [[ -d $work/root/lib ]]; then cp -a "$work/root/lib/." "$work/root/usr/lib/" && rm -rf "$work/root/lib"; fi
dpkg-deb -e "$deb" "$work/control"
share=$work/root/usr/share

passed=0
failed=0
# check NAME COMMAND...: the command must succeed and print nothing.
check() {
  local name=$1
  shift
  echo "== $name"
  if "$@" >"$work/check.out" 2>&1 && [[ ! -s $work/check.out ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    cat "$work/check.out"
    echo "FAIL: $name"
  fi
}

lintian_clean() {
  # Tags at error and warning level fail, and every one is shown, down to the
  # pedantic ones; an override needs its reason beside it.
  lintian --pedantic --fail-on error,warning "$dsc" "$deb" 2>&1 |
    grep -v -e '^running with root privileges is not recommended!$' -e '^[IPXN]: '
  return "${PIPESTATUS[0]}"
}
check "lintian --pedantic: the source and the binary package" lintian_clean

# The binary package once more, in another folder and without the tests (the
# compiler's cache makes it short), from the same commit: the same bytes.
reproducible() {
  PACKAGE_DIR=$out/reproducible DEB_BUILD_OPTIONS=nocheck bash scripts/package.sh -us -uc -b \
    >"$work/again.log" 2>&1 || { tail -n 30 "$work/again.log"; return 1; }
  cmp "$deb" "$(tail -n 1 "$work/again.log")"
}
SECONDS=0
check "reproducible: a second build of the binary package is the same byte for byte" reproducible
echo "(the second build took $SECONDS s)"

check "desktop-file-validate: the menu entry" \
  desktop-file-validate "$share/applications/io.github.veltrane.veltrane.desktop"
check "desktop-file-validate: the autostart entry" desktop-file-validate "$share/veltrane/veltrane-autostart.desktop"
menu_entry_has_its_actions() {
  grep -qx 'Actions=Configure;OpenLog;' "$share/applications/io.github.veltrane.veltrane.desktop" &&
    grep -qx 'Exec=veltrane config' "$share/applications/io.github.veltrane.veltrane.desktop" &&
    grep -qx 'Exec=veltrane --open-log' "$share/applications/io.github.veltrane.veltrane.desktop"
}
check "the menu entry's actions run veltrane config and veltrane --open-log" menu_entry_has_its_actions

appstream_valid() {
  # Nothing but the line of success: no issue, not even a pedantic one.
  appstreamcli validate --pedantic --no-net "$share/metainfo/io.github.veltrane.veltrane.metainfo.xml" \
    >"$work/appstream.out" 2>&1 && [[ $(grep -cv 'Validation was successful' "$work/appstream.out") == 0 ]] ||
    { cat "$work/appstream.out"; return 1; }
}
check "appstreamcli validate --pedantic --no-net" appstream_valid

completion_installed() {
  bash -c 'source "$1" && complete -p veltrane' completion "$share/bash-completion/completions/veltrane" >/dev/null ||
    echo "bash completes nothing for veltrane"
}
check "bash completion: /usr/share/bash-completion/completions/veltrane completes veltrane" completion_installed

zcat "$share/man/man1/veltrane.1.gz" >"$work/veltrane.1"
check "groff -ww -z: the manual page" env LC_ALL=C.UTF-8 groff -ww -z -man "$work/veltrane.1"
man_renders() {
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/veltrane.1" >"$work/man.txt" || return 1
  grep -q '^EXIT STATUS' "$work/man.txt" || echo "no EXIT STATUS section"
}
check "man -l: the manual page" man_renders

icons_sized() {
  local png size
  for png in "$share"/icons/hicolor/*x*/apps/veltrane.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    [[ $(identify -format '%wx%h' "$png") == "$size" ]] || echo "$png is not $size"
  done
  [[ -s $share/icons/hicolor/scalable/apps/veltrane.svg ]] || echo "no scalable icon"
  [[ -s $share/icons/hicolor/48x48/apps/veltrane.png ]] || echo "no 48 x 48 icon"
}
check "icons: the SVG and PNG sizes as their folders say" icons_sized

units_installed_disabled() {
  # None linked into a target (maintainer_scripts_test.sh installs and looks
  # again); each timer can be enabled; the service runs the machine's mode.
  find "$work/root" -name '*.wants' -o -name '*.requires' | sed 's/^/linked: /'
  grep -L -x 'WantedBy=timers.target' "$work"/root/usr/lib/systemd/*/*.timer | sed 's/^/no [Install]: /'
  grep -qx 'ExecStart=/usr/bin/veltrane --machine' "$work/root/usr/lib/systemd/system/veltrane-sync.service" ||
    echo "the system service does not run veltrane --machine"
}
check "units installed, none enabled" units_installed_disabled

# The units as they would be on this machine: the package's /usr laid over
# this machine's (an overlay in a private mount namespace), where their
# targets, the program and the manual page are found.
mkdir -m 700 "$work/runtime"
units_verify() {
  unshare -r -m sh -c '
    mount -t overlay overlay -o lowerdir="$1/usr:/usr" /usr || exit 97
    systemd-analyze verify /usr/lib/systemd/system/veltrane-sync.service /usr/lib/systemd/system/veltrane-sync.timer
    XDG_RUNTIME_DIR=$2 systemd-analyze --user verify /usr/lib/systemd/user/veltrane.service \
      /usr/lib/systemd/user/veltrane.timer' units_verify "$work/root" "$work/runtime"
}
check "systemd-analyze verify: the system and user units" units_verify

# exposure --system|--user UNIT: the figure of the unit's offline rating.
exposure() {
  XDG_RUNTIME_DIR=$work/runtime systemd-analyze "$1" security --offline=yes "$2" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p'
}
at_most() { awk -v got="$1" -v most="$2" 'BEGIN { exit !(got != "" && got + 0 <= most + 0) }' || echo "exposure '$1'"; }
figure=$(exposure --system "$work/root/usr/lib/systemd/system/veltrane-sync.service")
check "systemd-analyze security: veltrane-sync.service at $figure, at most 3.0" at_most "$figure" 3.0
# A user service cannot drop capabilities or use namespaces without one of
# users, so its figure counts rights the user does not have; it must not grow.
figure=$(exposure --user "$work/root/usr/lib/systemd/user/veltrane.service")
check "systemd-analyze security: the user's veltrane.service at $figure, at most 6.3" at_most "$figure" 6.3

polkit_rule() {
  node tests/package/polkit_rule_test.js "$share/polkit-1/rules.d/50-veltrane-set-time.rules" >"$work/polkit.out" ||
    { cat "$work/polkit.out"; return 1; }
}
check "the polkit rule: active local members of veltrane start the machine's run, and nothing else" polkit_rule

maintainer_scripts() {
  bash tests/package/maintainer_scripts_test.sh "$deb" >"$work/maintainer.out" || { cat "$work/maintainer.out"; return 1; }
}
check "dpkg --root: installation, removal and purge" maintainer_scripts

extracted_program() {
  bash tests/package/extracted_package_test.sh "$deb" "$out/veltrane-$version"/obj-*/daytime-server \
    >"$work/extracted.out" ||
    { cat "$work/extracted.out"; return 1; }
}
check "the extracted program in private namespaces" extracted_program

rpm_built() {
  bash tests/package/rpm_build_test.sh "$out/veltrane_$version.tar.xz" "$out/rpm" >"$work/rpm.out" 2>&1 ||
    { cat "$work/rpm.out"; return 1; }
}
SECONDS=0
check "rpmbuild -bb: the RPM from packaging/rpm/veltrane.rpmbuild, its tests, rpmlint" rpm_built
echo "(the RPM took $SECONDS s)"

echo "package: $passed passed, $failed failed"
((failed == 0))
