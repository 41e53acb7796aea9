#!/usr/bin/env bash
# Makes chrony's chronyd available to the tests, which run it as an NTP
# server inside their own network namespaces: where it is not installed, the
# package's files are unpacked into the user's cache, never installed, so no
# time service of this machine is started or replaced by it. Prints where
# chronyd is.
set -euo pipefail
cache=${XDG_CACHE_HOME:-$HOME/.cache}/veltrane-tests/chrony
for candidate in "$(command -v chronyd || true)" /usr/sbin/chronyd "$cache/usr/sbin/chronyd"; do
  if [[ -n $candidate && -x $candidate ]]; then
    echo "$candidate"
    exit 0
  fi
done
echo "Unpacking chrony into $cache (not installed)" >&2
mkdir -p "$cache"
download=$(mktemp -d)
trap 'rm -rf "$download"' EXIT
if ! (cd "$download" && apt-get download chrony >/dev/null 2>&1); then
  run=()
  if [ "$(id -u)" -ne 0 ]; then run=(sudo); fi
  "${run[@]}" apt-get -o DPkg::Lock::Timeout=600 update >/dev/null
  (cd "$download" && apt-get download chrony >/dev/null)
fi
dpkg-deb -x "$download"/chrony_*.deb "$cache"
echo "$cache/usr/sbin/chronyd"
