#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 (installing what is missing):
#   build-windows/i686/veltrane.exe     32-bit, the old RAS record layouts
#   build-windows/x86_64/veltrane.exe   64-bit
# with the tests beside them, then the installer, the Windows Installer
# package for fleets (64-bit) and the portable zips:
#   build-windows/Veltrane-1.55-setup.exe
#   build-windows/Veltrane-1.55.msi
#   build-windows/Veltrane-1.55-win32.zip, build-windows/Veltrane-1.55-win64.zip
# and winget's manifests of the release, with the setup's and the MSI's
# SHA-256, validated against winget's schemas:
#   build-windows/winget/manifests/v/Veltrane/Veltrane/1.55/
# Last it prints each file's size. Extra arguments go to cmake (for example
# -DVELTRANE_WERROR=ON).
#
# PACKAGE_DIR (default build-windows) is where the setup, the MSI, the zips
# and the manifests go. Where a certificate is given (VELTRANE_SIGN_PKCS12,
# or VELTRANE_SIGN_CERT and VELTRANE_SIGN_KEY: see scripts/sign-windows.sh),
# the programs (signed copies in PACKAGE_DIR/signed/), the setup with its
# uninstaller, and the MSI are signed.
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
pkg=${PACKAGE_DIR:-$out}
mkdir -p "$pkg"
declare -A exe=([i686]=$out/i686/veltrane.exe [x86_64]=$out/x86_64/veltrane.exe)
sign=()
if bash scripts/sign-windows.sh --enabled; then
  echo "== Signing the programs"
  for arch in i686 x86_64; do
    mkdir -p "$pkg/signed/$arch"
    bash scripts/sign-windows.sh "${exe[$arch]}" "$pkg/signed/$arch/veltrane.exe"
    exe[$arch]=$pkg/signed/$arch/veltrane.exe
  done
  sign=(-DSIGN="bash $root/scripts/sign-windows.sh")
fi
echo "== Installer, MSI and portable zips of Veltrane $version"
# The notes with Windows line ends.
sed 's/$/\r/' packaging/windows/README.txt >"$out/README.txt"
sed 's/$/\r/' packaging/windows/installed-for-all-users.txt >"$out/installed-for-all-users.txt"
makensis -V2 -NOCD -DVERSION="$version" -DEXE32="${exe[i686]}" -DEXE64="${exe[x86_64]}" \
  -DREADME="$out/README.txt" -DALLUSERS_MARK_FILE="$out/installed-for-all-users.txt" \
  -DOUTFILE="$pkg/Veltrane-$version-setup.exe" "${sign[@]}" packaging/windows/veltrane.nsi
# wixl finds the files by paths relative to this folder (a signed copy may be
# elsewhere).
msi=$pkg/Veltrane-$version.msi
wixl -a x64 -D Version="$version" -D Exe="$(realpath --relative-to=. "${exe[x86_64]}")" -D Readme="$out/README.txt" \
  -D Mark="$out/installed-for-all-users.txt" -D Icon=src/platform/win32/resources/veltrane.ico \
  -o "$msi" packaging/windows/veltrane.wxs
# The public properties secure, so that a non-elevated msiexec passes them on
# to the elevated install: added to the list wixl made for MajorUpgrade (it
# takes no SecureCustomProperties of the source beside its own).
secure=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
msibuild "$msi" -q "DELETE FROM \`Property\` WHERE \`Property\` = 'SecureCustomProperties'" \
  -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', \
      'SERVER;DELAY;TOLERANCE;PURGE${secure:+;$secure}')"
if ((${#sign[@]})); then bash scripts/sign-windows.sh "$msi"; fi
for arch in i686 x86_64; do
  bits=$([[ $arch == i686 ]] && echo 32 || echo 64)
  zipfile=$(realpath -m "$pkg/Veltrane-$version-win$bits.zip")
  rm -f "$zipfile"
  stage=$(mktemp -d)
  mkdir "$stage/Veltrane"
  cp "${exe[$arch]}" "$stage/Veltrane/veltrane.exe"
  cp "$out/README.txt" "$stage/Veltrane/README.txt"
  (cd "$stage" && zip -q -X -r "$zipfile" Veltrane)
  rm -rf "$stage"
done
rm -rf "$pkg/winget"
python3 packaging/winget/make-manifests.py "$version" "$pkg/Veltrane-$version-setup.exe" "$pkg/Veltrane-$version.msi" \
  "$pkg/winget"

# What was built and its size, as a Markdown table (the README's).
echo "== Sizes"
echo "| File | Size |"
echo "|---|---|"
for file in "${exe[i686]}" "${exe[x86_64]}" "$pkg/Veltrane-$version-setup.exe" "$msi" \
  "$pkg/Veltrane-$version-win32.zip" "$pkg/Veltrane-$version-win64.zip"; do
  bytes=$(stat -c %s "$file")
  grouped=$(sed ':a; s/\B[0-9]\{3\}\>/,&/; ta' <<<"$bytes")
  echo "| \`$file\` | $grouped bytes ($(((bytes + 512) / 1024)) KiB) |"
done
