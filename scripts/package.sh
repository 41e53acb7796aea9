#!/usr/bin/env bash
# Builds the Debian packages from this tree with dpkg-buildpackage (debian/):
# a copy of the source (the files git knows, and new ones it does not ignore)
# in build/veltrane-<version> is built there, and the source package
# (veltrane_<version>.dsc, .tar.xz) and the binary ones
# (veltrane_<version>_<arch>.deb and its -dbgsym) land in build/. Installs
# only the build dependencies that debian/control names, where missing.
# SOURCE_DATE_EPOCH is the last commit's time (unless the caller sets it), so
# two builds of a commit are the same byte for byte. Prints the .deb's path on the last line.
#
# Extra arguments go to dpkg-buildpackage instead of the default "-us -uc"
# (for example -b -us -uc: the binary packages alone). PACKAGE_DIR (default
# build) is the folder of the copy and the results; DEB_BUILD_OPTIONS=nocheck
# builds without the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run=()
if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
apt_install() {
  "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 "$@"
}
# dpkg-buildpackage itself, then what debian/control asks for.
dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q 'install ok installed' ||
  apt_install install -y -qq --no-install-recommends dpkg-dev
profiles=()
if [[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]]; then profiles=(-P nocheck); fi
if ! dpkg-checkbuilddeps "${profiles[@]}" debian/control 2>/dev/null; then
  apt_install build-dep -y -qq --no-install-recommends "${profiles[@]}" ./
fi

version=$(dpkg-parsechangelog -S Version)
out=$(realpath -m "${PACKAGE_DIR:-build}")
source=$out/veltrane-$version
rm -rf "$source"
mkdir -p "$source"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [[ -e $file ]] && printf '%s\0' "$file"; done |
    tar -c --null -T - | tar -x -C "$source"
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  export SOURCE_DATE_EPOCH
else
  tar -c --exclude=./build --exclude='./build-*' --exclude='./obj-*' . | tar -x -C "$source"
fi

# The compiler's cache, where there is one, under debhelper's own HOME too;
# paths below this tree count as relative, so any copy of it finds the
# objects of another.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$root
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
fi

# As many compilers and tests at once as there are processors, unless the
# caller says otherwise (parallel=N).
if [[ " ${DEB_BUILD_OPTIONS:-} " != *" parallel="* ]]; then
  DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=$(nproc)"
  export DEB_BUILD_OPTIONS
fi

arguments=("$@")
((${#arguments[@]})) || arguments=(-us -uc)
(cd "$source" && dpkg-buildpackage "${arguments[@]}")
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
echo "$out/veltrane_${version}_$arch.deb"
