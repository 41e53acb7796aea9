#!/usr/bin/env bash
# The RPM of packaging/rpm/veltrane.rpmbuild, built here by Debian's rpmbuild with
# the recipe's own %build, %install and %check (the tests a build root can
# run). The source is the Debian source package's tarball (the same tree, as
# veltrane-VERSION/); Fedora's CMake and systemd macros come from
# fedora.macros beside this script. Fedora's libraries are not here, so the
# build dependencies are not checked (--nodeps) and the package's
# requirements are checked by name. rpmlint, with Fedora's settings
# (rpmlint-fedora.toml), must find no error.
#
# Usage: rpm_build_test.sh SOURCE.tar.xz TOPDIR   (JOBS: parallel jobs, default one per processor)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
recipe=$here/../../packaging/rpm/veltrane.rpmbuild
tarball=$(realpath "$1")
top=$(realpath -m "$2")
version=$(sed -n 's/^Version: *//p' "$recipe")
rm -rf "$top"
mkdir -p "$top/SOURCES"
xz -dc "$tarball" | gzip -9n >"$top/SOURCES/veltrane-$version.tar.gz"

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: counts, and names a failure
  local description=$1
  shift
  if "$@" >"$top/check.out" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $description"
    sed 's/^/    /' "$top/check.out"
  fi
}

# The compiler's cache, where there is one: paths below the build folder
# count as relative, so the next run's build finds this one's objects.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$top
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
fi
build() {
  rpmbuild -bb --nodeps --define "_topdir $top" --define "_smp_mflags -j${JOBS:-$(nproc)}" --load "$here/fedora.macros" \
    "$recipe" >"$top/build.log" 2>&1 ||
    { tail -n 40 "$top/build.log"; return 1; }
}
check "rpmbuild -bb: build, install and the recipe's tests" build
rpm=$(ls "$top"/RPMS/*/veltrane-"$version"-1.*.rpm 2>/dev/null | head -n 1)
[[ -n $rpm ]] || { echo "FAIL: no package veltrane-$version-1 built"; echo "rpm: $passed passed, $((failed + 1)) failed"; exit 1; }

tests_ran() { grep -E '^100% tests passed, 0 tests failed out of [1-9]' "$top/build.log"; }
check "%check ran the tests, all passed" tests_ran
check "License: MIT" test "$(rpm -qp --qf '%{LICENSE}' "$rpm")" = MIT
# needs QUERY LINE...: every line is among the answers of rpm -qp QUERY.
needs() {
  local query=$1 line missing=0
  shift
  rpm -qp "$query" "$rpm" >"$top/answer" 2>/dev/null
  for line; do grep -qxF -- "$line" "$top/answer" || { echo "missing from $query: $line"; missing=1; }; done
  return "$missing"
}
requires_by_name() {
  needs --requires 'libQt6Widgets.so.6()(64bit)' 'libQt6DBus.so.6()(64bit)' 'libQt6Network.so.6()(64bit)' \
    hicolor-icon-theme systemd && needs --recommends qt6-qtwayland
}
check "requires Qt 6 by its libraries, the icon theme and systemd; recommends the Wayland plugin" requires_by_name
files_in_place() {
  needs --list /usr/bin/veltrane /usr/lib/systemd/system/veltrane-sync.service /usr/lib/systemd/system/veltrane-sync.timer \
    /usr/lib/systemd/user/veltrane.timer /usr/lib/sysusers.d/veltrane.conf \
    /usr/share/polkit-1/rules.d/50-veltrane-set-time.rules /usr/share/licenses/veltrane/LICENSE \
    /usr/share/applications/io.github.veltrane.veltrane.desktop /usr/share/bash-completion/completions/veltrane &&
    needs --configfiles /etc/veltrane/Veltrane.INI
}
check "the units in Fedora's folders, the licence, the completion, the machine's settings as a configuration file" files_in_place
presets_decide() {
  rpm -qp --scripts "$rpm" | grep -q 'install-system-units veltrane-sync.service veltrane-sync.timer' &&
    rpm -qp --scripts "$rpm" | grep -q 'install-user-units veltrane.service veltrane.timer'
}
check "installation hands the units to systemd's presets (nothing enabled by the package)" presets_decide

rpmlint_no_error() {
  rpmlint -c "$here/rpmlint-fedora.toml" "$rpm" >"$top/rpmlint.out" 2>&1
  cat "$top/rpmlint.out"
  grep -qE ' 0 errors' "$top/rpmlint.out"
}
check "rpmlint: no error" rpmlint_no_error
sed -n 's/^\(.*checked;.*\)$/rpmlint: \1/p' "$top/rpmlint.out"

echo "rpm: $passed passed, $failed failed"
((failed == 0))
