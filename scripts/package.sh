#!/usr/bin/env bash
# Builds the Debian package build/veltrane_<version>_<arch>.deb from this tree:
# a build for /usr with Debian's build flags (hardening included) in
# build/package, then CPack's DEB generator, which strips the program and
# reads its library dependencies with dpkg-shlibdeps. Prints the package's
# path on the last line. Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
# dpkg-shlibdeps, and rsvg-convert for the icon's PNG sizes.
missing=()
for package in dpkg-dev librsvg2-bin; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  run=()
  if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
  "${run[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

dir=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# The preset's build type None: the flags are Debian's alone.
cmake --preset package "${launcher[@]}" -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build --preset package -j"$(nproc)"

rm -f "$dir"/veltrane_*.deb build/veltrane_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/veltrane_*.deb)
cp "$deb" build/
echo "$root/build/$(basename "$deb")"
