#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 (installing what is missing):
#   build-windows/i686/veltrane.exe     32-bit, the old RAS record layouts
#   build-windows/x86_64/veltrane.exe   64-bit
# with the tests beside them, then the installer, the Windows Installer
# package for fleets (64-bit) and the portable zips:
#   build-windows/Veltrane-1.55-setup.exe
#   build-windows/Veltrane-1.55.msi
#   build-windows/Veltrane-1.55-win32.zip, build-windows/Veltrane-1.55-win64.zip
# Extra arguments go to cmake (for example -DVELTRANE_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup-windows.sh build

out=build-windows
jobs=${JOBS:-2}
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
fi

for arch in i686 x86_64; do
  echo "== Building $out/$arch"
  cmake --preset windows-$arch "$@" >/dev/null
  cmake --build --preset windows-$arch -j"$jobs"
done

version=$(sed -n 's/^project(Veltrane VERSION \([0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)
echo "== Installer, MSI and portable zips of Veltrane $version"
# The notes with Windows line ends.
sed 's/$/\r/' packaging/windows/README.txt >"$out/README.txt"
sed 's/$/\r/' packaging/windows/installed-for-all-users.txt >"$out/installed-for-all-users.txt"
makensis -V2 -NOCD -DVERSION="$version" -DEXE32="$out/i686/veltrane.exe" -DEXE64="$out/x86_64/veltrane.exe" \
  -DREADME="$out/README.txt" -DALLUSERS_MARK_FILE="$out/installed-for-all-users.txt" \
  -DOUTFILE="$out/Veltrane-$version-setup.exe" packaging/windows/veltrane.nsi
# wixl finds the files by paths relative to this folder.
wixl -a x64 -D Version="$version" -D Exe="$out/x86_64/veltrane.exe" -D Readme="$out/README.txt" \
  -D Mark="$out/installed-for-all-users.txt" -D Icon=src/platform/win32/resources/veltrane.ico \
  -o "$out/Veltrane-$version.msi" packaging/windows/veltrane.wxs
for arch in i686 x86_64; do
  bits=$([[ $arch == i686 ]] && echo 32 || echo 64)
  zipfile=$root/$out/Veltrane-$version-win$bits.zip
  rm -f "$zipfile"
  stage=$(mktemp -d)
  mkdir "$stage/Veltrane"
  cp "$out/$arch/veltrane.exe" "$stage/Veltrane/"
  cp "$out/README.txt" "$stage/Veltrane/README.txt"
  (cd "$stage" && zip -q -X -r "$zipfile" Veltrane)
  rm -rf "$stage"
done
ls -l "$out"/*.exe "$out"/*.msi "$out"/*.zip "$out"/i686/veltrane.exe "$out"/x86_64/veltrane.exe
