#!/usr/bin/env bash
# Runs one Windows test under Wine: the Windows build's emulator
# (CMAKE_CROSSCOMPILING_EMULATOR, set by the windows presets), and the
# runner of the scripts that drive veltrane.exe (blackbox.sh, installer.sh).
#   wine-run.sh PROGRAM.exe [arguments...]   the program under Wine
#   wine-run.sh SCRIPT [arguments...]        a script that calls wine itself
# Each run gets a private network namespace with only loopback (`unshare -r
# -n -m`, with mounts of its own: the test servers' ports are ours, nothing leaves the machine, and the
# host's clock cannot be set), a default route over loopback (the system
# counts as online, a LAN), its own wineserver and Xvfb. The Wine prefix,
# build-windows/wine-prefix, is made by the first run and reused; runs take
# turns on it (a lock). With VELTRANE_TEST_SERVERS=1 the servers of
# win32_socket_test.cpp and win32_datagram_socket_test.cpp listen; with
# VELTRANE_TEST_DPI the display has that many dots per inch for the run; with
# VELTRANE_TEST_HTTPS=1 the HTTPS servers of win32_https_date_test.cpp listen,
# their authority among the host's (in a mount namespace of the run's own).
set -euo pipefail
if [[ -z ${VELTRANE_WINE_WORK:-} ]]; then
  exec unshare -r -n -m env VELTRANE_WINE_WORK=new bash "$0" "$@"
fi
work=$(mktemp -d)
export VELTRANE_WINE_WORK=$work
source "$(dirname "$0")/env.sh"

ip link set lo up
ip route add default via 127.0.0.2 dev lo

pids=()
cleanup() {
  local pid
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "wine-run.sh: failed at line $LINENO" >&2' ERR

mkdir -p "$out"
exec 9>"$prefix.lock"
flock 9

# The test servers are Linux programs, beside the Windows ones.
for name in daytime-server sntp-server; do
  server_source=$root/tools/$name/${name//-/_}.cpp
  if [[ ! -x $out/$name || $server_source -nt $out/$name ]]; then
    g++ -O2 -std=c++20 -Wall -Wextra -o "$out/$name.$$" "$server_source"
    mv "$out/$name.$$" "$out/$name"
  fi
done

# A display for the windows (the namespace has its own abstract sockets, so
# the number only has to be free on the file system, where another run may
# take it first: then the next one).
display=70
while :; do
  while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
  Xvfb ":$display" -noreset -screen 0 1024x768x24 -nolisten tcp -nolisten unix >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  export DISPLAY=:$display
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break 2
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  grep -q 'already active' "$work/xvfb.log" || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  display=$((display + 1))
done
pids+=("$xvfb")

new_prefix=
if [[ ! -e $prefix/system.reg ]]; then
  new_prefix=1
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1 || true
  # A prefix's first session keeps the service database locked, and the
  # Task Scheduler (schtasks) cannot start: later sessions can.
  wineserver -k 2>/dev/null || true
  wineserver -w
fi
wineserver -p
# Wine learns the adapters and routes through a driver its services load as
# the session starts; a program that asks sooner finds no gateway, and so no
# LAN. Until ipconfig shows the route over loopback (20 s at most).
for _ in $(seq 40); do
  wine ipconfig 2>/dev/null | tr -d '\r' | grep -q 'Default gateway.*127\.0\.0\.2' && break
  sleep 0.5
done
if [[ -n $new_prefix ]]; then
  # Debian's Wine leaves the prefix without its own fonts (fonts-wine): the
  # windows' MS Sans Serif is one of them.
  cp -n /usr/share/wine/fonts/* "$(winepath -u 'C:\windows\Fonts' 2>/dev/null)/" || true
fi

if [[ ${VELTRANE_TEST_SERVERS:-} == 1 ]]; then
  server() {  # server PORT [options...]
    local port=$1
    shift
    "$out/daytime-server" --port "$port" "$@" >>"$work/servers.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -q "listening on 127.0.0.1:$port\$" "$work/servers.log" && return 0; sleep 0.1; done
    echo "daytime-server on $port did not start" >&2
    return 1
  }
  server 13
  server 1301 --mode silent
  server 1302 --mode split --pause 1
  server 1303 --mode refuse
  server 1304 --hold 0.9
  # NTP on UDP 123 (win32_datagram_socket_test.cpp).
  "$out/sntp-server" --port 123 >>"$work/servers.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q "listening on 127.0.0.1:123\$" "$work/servers.log" && break; sleep 0.1; done
fi

if [[ ${VELTRANE_TEST_HTTPS:-} == 1 ]]; then
  # HTTPS servers of a throw-away authority made here (win32_https_date_test.cpp).
  https=$root/tools/https-date-server
  sh "$https/make-test-certificates.sh" "$work/certs"
  https_server() {  # https_server PORT CERTIFICATE [options...]
    local port=$1 name=$2 line
    shift 2
    line=$(/usr/bin/python3 "$https/https_date_server.py" --background --port "$port" --cert "$work/certs/$name.pem" \
      --key "$work/certs/$name.key" "$@" 2>>"$work/servers.log" | tail -n 1)
    pids+=("$line")
  }
  https_server 4431 good
  https_server 4432 expired --date 'Wed, 01 Jul 2020 12:00:00 GMT'
  https_server 4433 wrong-name
  https_server 4434 self
  https_server 4435 good --no-date
  # Wine's crypt32 takes the host's authorities from this bundle: in this
  # run's mount namespace it holds the test's authority too.
  cat /etc/ssl/certs/ca-certificates.crt "$work/certs/ca.pem" >"$work/certs/bundle.pem"
  mount --bind "$work/certs/bundle.pem" /etc/ssl/certs/ca-certificates.crt
fi

desktop='HKCU\Control Panel\Desktop'
if [[ -n ${VELTRANE_TEST_DPI:-} ]]; then
  wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$VELTRANE_TEST_DPI" /f >/dev/null 2>&1
fi

status=0
if [[ $1 == *.exe ]]; then
  # The console's line ends.
  (cd "$(dirname "$1")" && wine "$@") >"$work/output.txt" 2>&1 || status=$?
  sed 's/\r$//' "$work/output.txt" | grep -v '^Running main()' || true
else
  "$@" || status=$?
fi

if [[ -n ${VELTRANE_TEST_DPI:-} ]]; then
  wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true
fi
exit "$status"
