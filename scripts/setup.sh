#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where missing.
# Works as root without prompts (and through sudo otherwise).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core fonts-dejavu-extra imagemagick xdotool openbox x11-utils
  iproute2 util-linux procps
  python3-dbusmock dbus-daemon librsvg2-bin tzdata
  prometheus-node-exporter
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  run=()
  if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  if ! "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"; then
    "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 update
    "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
  fi
fi

# chronyd for the NTP tests: installed, or unpacked (never installed).
bash "$(dirname "$0")/setup-chrony.sh" >/dev/null
