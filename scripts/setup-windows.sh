#!/usr/bin/env bash
# Installs the Debian packages of the Windows build (argument "build":
# mingw-w64, NSIS, wixl for the MSI, zip, osslsigncode, the validator of the
# winget manifests) or of the Windows build and its
# tests under Wine (argument "test": also 64- and 32-bit Wine, its fonts, Xvfb
# and the tools the tests use, msiinfo among them), where missing. Works as root without prompts (and through
# sudo otherwise).
set -euo pipefail

build=(cmake make ccache g++ g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools googletest nsis wixl zip
  osslsigncode python3 python3-yaml python3-jsonschema)
test=(wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick unzip binutils iproute2 util-linux procps msitools)

packages=("${build[@]}")
if [[ ${1:-build} == test ]]; then
  packages+=("${test[@]}")
  # chronyd for the black-box runs over NTP: installed, or unpacked (never installed).
  bash "$(dirname "$0")/setup-chrony.sh" >/dev/null
fi

run=()
if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0

# The 32-bit Wine comes from the i386 architecture.
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${run[@]}" dpkg --add-architecture i386
    "${run[@]}" apt-get update
  fi
done

echo "Installing: ${missing[*]}"
if ! "${run[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
  "${run[@]}" apt-get update
  "${run[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
