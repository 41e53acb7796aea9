#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: lintian with
# no error and no warning, desktop-file-validate on both desktop entries,
# appstreamcli on the AppStream metadata, the manual page through groff and
# man without a warning, the icon sizes, nothing enabled or made active at
# installation, the example polkit rule, and the packaged program itself,
# extracted (never installed) and run in private namespaces.
# Non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

packages=(lintian desktop-file-utils appstream groff man-db nodejs imagemagick dpkg-dev util-linux iproute2)
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

echo "== Building the package"
if ! bash scripts/package.sh >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "package: the package was not built"
  exit 1
fi
deb=$(tail -n 1 "$work/package.log")
echo "$deb"
dpkg-deb -x "$deb" "$work/root"
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
  # Tags at error and warning level fail; an override needs its reason beside it.
  lintian --fail-on error,warning "$deb" 2>&1 |
    grep -v '^running with root privileges is not recommended!$'
  return "${PIPESTATUS[0]}"
}
check "lintian" lintian_clean

check "desktop-file-validate: the menu entry" \
  desktop-file-validate "$share/applications/example.veltrane.Veltrane.desktop"
check "desktop-file-validate: the autostart entry" desktop-file-validate "$share/veltrane/veltrane-autostart.desktop"
menu_entry_has_configure() {
  grep -qx 'Actions=Configure;' "$share/applications/example.veltrane.Veltrane.desktop" &&
    grep -qx 'Exec=veltrane config' "$share/applications/example.veltrane.Veltrane.desktop"
}
check "the menu entry's Configure action runs veltrane config" menu_entry_has_configure

appstream_valid() {
  appstreamcli validate --no-net "$share/metainfo/example.veltrane.Veltrane.metainfo.xml" >"$work/appstream.out" 2>&1 ||
    { cat "$work/appstream.out"; return 1; }
}
check "appstreamcli validate --no-net" appstream_valid

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

nothing_active() {
  # No maintainer script (nothing enabled at installation), nothing in /etc,
  # no unit linked into a target, and the polkit rule only as an example.
  ls "$work/control" | grep -vx -e control -e md5sums | sed 's/^/maintainer script: /'
  [[ ! -e $work/root/etc ]] || echo "files in /etc"
  find "$work/root" -name '*.wants' -o -path '*polkit-1*' | sed 's/^/active: /'
  [[ -f $share/doc/veltrane/examples/50-veltrane-set-time.rules ]] || echo "no example polkit rule"
  grep -qx 'ExecStart=/usr/bin/veltrane' "$work/root/usr/lib/systemd/user/veltrane.service" ||
    echo "the service does not run /usr/bin/veltrane"
  grep -qx 'WantedBy=timers.target' "$work/root/usr/lib/systemd/user/veltrane.timer" ||
    echo "the timer is not for timers.target"
}
check "nothing enabled or active at installation" nothing_active

polkit_rule() {
  node tests/package/polkit_rule_test.js "$share/doc/veltrane/examples/50-veltrane-set-time.rules" >"$work/polkit.out" ||
    { cat "$work/polkit.out"; return 1; }
}
check "the example polkit rule" polkit_rule

extracted_program() {
  bash tests/package/extracted_package_test.sh "$deb" build/package/daytime-server >"$work/extracted.out" ||
    { cat "$work/extracted.out"; return 1; }
}
check "the extracted program in private namespaces" extracted_program

echo "package: $passed passed, $failed failed"
((failed == 0))
