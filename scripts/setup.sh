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

# chrony's chronyd, an NTP server for the tests inside their own network
# namespaces: where it is not installed, the package's files are unpacked
# into the user's cache, never installed, so no time service of this
# machine is started or replaced by it.
chrony_cache=${XDG_CACHE_HOME:-$HOME/.cache}/veltrane-tests/chrony
if ! command -v chronyd >/dev/null && [[ ! -x /usr/sbin/chronyd && ! -x $chrony_cache/usr/sbin/chronyd ]]; then
  echo "Unpacking chrony into $chrony_cache (not installed)"
  mkdir -p "$chrony_cache"
  download=$(mktemp -d)
  if ! (cd "$download" && apt-get download chrony >/dev/null); then
    apt-get -o DPkg::Lock::Timeout=600 update >/dev/null || true
    (cd "$download" && apt-get download chrony >/dev/null)
  fi
  dpkg-deb -x "$download"/chrony_*.deb "$chrony_cache"
  rm -rf "$download"
fi
