#!/usr/bin/env bash
# Screenshots for the README: the status window during its start delay, the
# About box opened from its About button, and the configuration dialog of
# `veltrane config`, taken from the real program under Xvfb.
#
# Safe to run anywhere: the program runs inside `unshare -r -n` (a private
# network namespace with only loopback, in a user namespace where setting the
# clock fails), with its settings and log in a temporary folder, and the
# settings name a server on 127.0.0.1; the system bus it sees is a private one
# of this script's, where python-dbusmock stands in for NetworkManager. Only
# the processes started here are ended, by their ids.
#
# Usage: scripts/screenshots.sh [build folder]   (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" 2>/dev/null && pwd || echo "${1:-$root/build}")
out=$root/docs/screenshots

# fonts-dejavu-extra brings DejaVu Sans Condensed, the font the windows prefer;
# xdotool presses the About button; dbus-daemon, dbus-bin and python3-dbusmock
# make the private system bus with a stand-in for NetworkManager.
packages=(xvfb xauth fonts-dejavu-core fonts-dejavu-extra imagemagick xdotool iproute2
          dbus-daemon dbus-bin python3-dbusmock)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [[ ! -x $build/veltrane ]]; then
  cmake -S "$root" -B "$build"
  cmake --build "$build" -j2 --target veltrane
fi

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -m 0700 "$work/runtime"
mkdir "$work/home"
printf '[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=30\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=LAN\r\nConnectoid=\r\nQuietMode=N\r\nOnlyIfConnected=N\r\n' \
  >"$work/home/Veltrane.INI"

# A display number nobody uses.
display=90
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [[ -S /tmp/.X11-unix/X$display ]] && break
  sleep 0.1
done
[[ -S /tmp/.X11-unix/X$display ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

export DISPLAY=":$display" XDG_RUNTIME_DIR="$work/runtime" VELTRANE_HOME="$work/home"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# A system bus of our own (never the machine's), with NetworkManager as
# python-dbusmock plays it: connected, with two dial-up profiles for the
# configuration dialog's list.
sed "s|@FOLDER@|$work|" tests/support/dbus/system-bus.conf.in >"$work/bus.conf"
dbus-daemon --config-file="$work/bus.conf" --nofork >"$work/bus.log" 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
for _ in $(seq 100); do
  [[ -S $work/system_bus_socket ]] && break
  sleep 0.1
done
/usr/bin/python3 -m dbusmock --system --template "$root/tests/support/dbus/dialup_networkmanager.py" \
  --parameters '{"State": 70, "PrimaryType": "802-3-ethernet", "Profiles": [["Wired connection 1", "802-3-ethernet"], ["Mobile", "gsm"], ["Home DSL", "pppoe"]]}' \
  >"$work/networkmanager.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.NetworkManager 2>/dev/null | grep -q 'boolean true' && break
  sleep 0.1
done

# exec keeps the process id: the one recorded is the program's own.
unshare -r -n sh -c 'ip link set lo up && ip route add default dev lo && exec "$0"' "$build/veltrane" \
  >"$work/veltrane.log" 2>&1 &
pids+=($!)

find_window() {  # find_window TITLE-REGEX
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window matching $1" >&2
  cat "$work/veltrane.log" >&2
  return 1
}

mkdir -p "$out"
status=$(find_window '^Veltrane$')
sleep 2.5  # a few seconds into the start delay
import -window "$status" "$out/status-window.png"

# Press About: the button's centre in the window's coordinates (2880, 1680,
# 975 x 375 twips at 15 twips a pixel).
xdotool mousemove --window "$status" $((192 + 32)) $((112 + 12)) click 1
about=$(find_window '^About Veltrane$')
sleep 1
import -window "$about" "$out/about-box.png"

# That run is done with: end it before the next one starts.
kill "${pids[-1]}" 2>/dev/null || true
wait "${pids[-1]}" 2>/dev/null || true
unset 'pids[-1]'

# The configuration dialog, with settings of its own and the two dial-up
# entries of the NetworkManager stand-in, so that the dial-up list has
# something to show.
mkdir "$work/config"
printf '[Main]\r\nNTPServer=time-a-g.nist.gov (NIST, Gaithersburg, MD)\r\nDelay=10\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=BOTH\r\nConnectoid=Mobile\r\nQuietMode=N\r\nOnlyIfConnected=Y\r\n' \
  >"$work/config/Veltrane.INI"
VELTRANE_HOME="$work/config" \
  unshare -r -n sh -c 'ip link set lo up && ip route add default dev lo && exec "$0" config' "$build/veltrane" \
  >"$work/veltrane-config.log" 2>&1 &
pids+=($!)
config=$(find_window '^Veltrane Configuration$')
sleep 1
import -window "$config" "$out/config-dialog.png"

echo "wrote $out/status-window.png, $out/about-box.png and $out/config-dialog.png"
