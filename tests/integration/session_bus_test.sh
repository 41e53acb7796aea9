#!/usr/bin/env bash
# A window run on a display without a session bus starts none: Qt's
# accessibility bridge asks for the session bus at the first window, and
# libdbus would start one with dbus-launch that outlives the program. Where
# the user's bus lies at $XDG_RUNTIME_DIR/bus, the run still uses it and
# starts no other. Each run is stopped by SIGTERM during its start delay;
# everything happens inside private user, network, mount and process
# namespaces (the process list is the namespace's own), with a display of
# their own. Usage: session_bus_test.sh PROGRAM
set -euo pipefail
program=$1
for tool in Xvfb xdotool dbus-launch dbus-daemon dbus-send pgrep unshare; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"
printf '[Main]\r\nNTPServer=127.0.0.1 (nowhere)\r\nDelay=30\r\nConnectionType=LAN\r\nQuietMode=N\r\n' \
  >"$work/home/Veltrane.INI"

cat >"$work/inside.sh" <<'INSIDE'
set -u
program=$1 work=$2
mkdir -p /tmp/.X11-unix && mount -t tmpfs tmpfs /tmp/.X11-unix || exit 96
Xvfb :1 -nolisten tcp -nolock -noreset -screen 0 640x480x24 >/dev/null 2>&1 &
for _ in $(seq 100); do [ -S /tmp/.X11-unix/X1 ] && break; sleep 0.1; done
failed=0
for bus in none own; do
  runtime=$work/runtime-$bus
  mkdir -m 700 "$runtime"
  if [ $bus = own ]; then
    dbus-daemon --session --address="unix:path=$runtime/bus" --fork --print-pid >"$runtime/daemon.pid"
  fi
  env -u DBUS_SESSION_BUS_ADDRESS DISPLAY=:1 XDG_RUNTIME_DIR="$runtime" VELTRANE_HOME="$work/home" \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test "$program" noupdate 2>"$runtime/err" &
  pid=$!
  # The window is shown (its bridge asks for the bus as it is made), on a
  # busy machine perhaps seconds after the start.
  for _ in $(seq 300); do
    DISPLAY=:1 xdotool search --name '^Veltrane$' >/dev/null 2>&1 && break
    sleep 0.1
  done
  names=0
  if [ $bus = own ]; then
    # The program's name and dbus-send's, once the program has connected.
    for _ in $(seq 150); do
      names=$(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus" dbus-send --session --print-reply \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames | grep -c '":1\.' || true)
      [ "$names" -ge 2 ] && break
      sleep 0.1
    done
  else
    sleep 1  # time for a dbus-launch to appear, were one started
  fi
  kill -TERM $pid
  wait $pid
  status=$?
  launched=$(pgrep -c -x dbus-launch || true)
  daemons=$(pgrep -c -x dbus-daemon || true)
  echo "$bus: exit status $status, dbus-launch $launched, dbus-daemon $daemons, names on the bus $names"
  if [ $bus = none ]; then
    [ "$launched" = 0 ] && [ "$daemons" = 0 ] || failed=1
  else
    # Ours alone, and the program was on it (with dbus-send: two names).
    [ "$launched" = 0 ] && [ "$daemons" = 1 ] && [ "$names" -ge 2 ] || failed=1
    kill "$(cat "$runtime/daemon.pid")"
  fi
  [ $status = 143 ] || failed=1
  rm -f "$work/home/Veltrane.log"
done
exit $failed
INSIDE
env -u DBUS_SESSION_BUS_ADDRESS unshare -r -n -m -p -f --mount-proc bash "$work/inside.sh" "$program" "$work"
