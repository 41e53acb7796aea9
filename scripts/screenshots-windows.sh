#!/usr/bin/env bash
# Screenshots of the Win32 windows for the README, taken from the real
# veltrane.exe (64-bit) under Wine and Xvfb: the status window during its start
# delay, the About box opened from its About button, and the configuration
# dialog of `veltrane config`.
#
# Safe to run anywhere: Wine, Xvfb and the program run inside `unshare -r -n`
# (a private network namespace with only loopback, in a user namespace where
# the host's clock cannot be set), with the program's settings and log in a
# folder of build-windows/, and the settings name a server on 127.0.0.1 that
# does not answer before the pictures are taken. Wine never opens an address.
#
# Usage: scripts/screenshots-windows.sh   (after scripts/build-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
shots=$root/docs/screenshots
prefix=$out/wine-prefix

if [[ ${1:-} != --in-namespace ]]; then
  bash scripts/setup-windows.sh test
  [[ -x $out/x86_64/veltrane.exe ]] || bash scripts/build-windows.sh
  exec unshare -r -n bash "$0" --in-namespace
fi

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winebrowser.exe=d"
unset WAYLAND_DISPLAY
ip link set lo up
ip route add default via 127.0.0.2 dev lo

pids=()
work=$(mktemp -d)
cleanup() {
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

display=80
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp -nolisten unix >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$prefix"
wineserver -p
if [[ ! -e $prefix/system.reg ]]; then
  wineboot -i >/dev/null 2>&1
fi
# Debian's Wine leaves a new prefix without its own fonts (MS Sans Serif).
cp -n /usr/share/wine/fonts/* "$(winepath -u 'C:\windows\Fonts')/" || true

find_window() {  # find_window TITLE-REGEX
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window matching $1" >&2
  return 1
}

mkdir -p "$shots"
folder=$out/screenshots
rm -rf "$folder"
mkdir -p "$folder"
cp "$out/x86_64/veltrane.exe" "$folder/"

# The status window a few seconds into its start delay, then the About box.
printf '[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=30\r\nConnectionType=LAN\r\nQuietMode=N\r\n' \
  >"$folder/Veltrane.INI"
(cd "$folder" && exec wine ./veltrane.exe) >"$work/run.log" 2>&1 &
pids+=($!)
status=$(find_window '^Veltrane$')
sleep 2.5
import -window "$status" "$shots/win32-status-window.png"
xdotool key alt+a  # &About
about=$(find_window '^About Veltrane$')
sleep 1
import -window "$about" "$shots/win32-about-box.png"
wineserver -k
wineserver -p

# The configuration dialog.
printf '[Main]\r\nNTPServer=time-a-g.nist.gov (NIST, Gaithersburg, MD)\r\nDelay=10\r\nConnectionType=LAN\r\nQuietMode=N\r\nOnlyIfConnected=Y\r\n' \
  >"$folder/Veltrane.INI"
(cd "$folder" && exec wine ./veltrane.exe config) >"$work/config.log" 2>&1 &
pids+=($!)
config=$(find_window '^Veltrane Configuration$')
sleep 1
import -window "$config" "$shots/win32-config-dialog.png"

echo "wrote $shots/win32-status-window.png, win32-about-box.png and win32-config-dialog.png"
