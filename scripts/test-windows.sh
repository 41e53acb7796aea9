#!/usr/bin/env bash
# Builds the Windows program (scripts/build-windows.sh, installing what is
# missing) and tests it under Wine, in both widths:
#   - every behaviour test over the fakes (veltrane_tests.exe);
#   - the Win32 back end's own tests (veltrane_win32_tests.exe): files, the
#     registry, the socket against tools/daytime-server, the pump's CPU while
#     waiting, the clock with a recording setter, dial-up through a fake
#     function table, the windows under Xvfb;
#   - black-box runs of veltrane.exe: a quiet run with a correct clock, one off
#     by 95 seconds with "noupdate", a refused connection, a clock that cannot
#     be set (an ERROR line, exit status 2), window runs pressing Go and Cancel;
#     the quiet runs' log lines compared with the Linux build's where there is
#     one (build/veltrane);
#   - the installer and the portable zips, with the silent switches.
# It closes with the summaries of the runners.
#
# Safe to run anywhere: everything under Wine runs inside `unshare -r -n`, a
# private network namespace with only loopback (the test servers' port 13 is
# ours, nothing leaves the machine) in a user namespace where the host's clock
# cannot be set; wineserver, Xvfb and the servers start and stop inside it.
# Wine never opens an address (winebrowser is switched off). The prefix is
# made afresh in build-windows/wine-prefix at every run.
#
# Extra arguments go to cmake (for example -DVELTRANE_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
prefix=$out/wine-prefix

if [[ ${1:-} != --in-namespace ]]; then
  started=$(date +%s)
  bash scripts/setup-windows.sh test
  bash scripts/build-windows.sh "$@"
  # The test server is a Linux program, beside the Windows ones.
  g++ -O2 -std=c++20 -Wall -Wextra -o "$out/daytime-server" tools/daytime-server/daytime_server.cpp
  rm -rf "$prefix"
  status=0
  unshare -r -n bash "$0" --in-namespace || status=$?
  echo "Windows leg: $(($(date +%s) - started)) s"
  exit "$status"
fi

# ---- Inside the private namespace --------------------------------------------

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers, no menu entries, and never a browser.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winebrowser.exe=d"
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

ip link set lo up
# A default route over loopback: the system counts as online (a LAN).
ip route add default via 127.0.0.2 dev lo

pids=()
work=$(mktemp -d)
cleanup() {
  local pid
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A display for the windows (the namespace has its own abstract sockets, so
# the number only has to be free on the file system).
display=70
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -nolisten unix >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

mkdir -p "$prefix"
wineserver -p
echo "== Wine prefix"
wineboot -i >/dev/null 2>&1
# Debian's Wine leaves the prefix without its own fonts (fonts-wine): the
# windows' MS Sans Serif is one of them.
fonts=$(winepath -u 'C:\windows\Fonts' 2>/dev/null)
cp -n /usr/share/wine/fonts/* "$fonts/"

summaries=()
failures=0
note() { summaries+=("$1"); }

server() {  # server PORT [options...]: a daytime-server in the background
  local port=$1
  shift
  "$out/daytime-server" --port "$port" "$@" >>"$work/servers.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q "listening on 127.0.0.1:$port\$" "$work/servers.log" && return 0; sleep 0.1; done
  echo "daytime-server on $port did not start" >&2
  return 1
}

gtest() {  # gtest LABEL EXE [arguments...]: runs a test program, keeps its summary
  local label=$1 exe=$2
  shift 2
  local log=$work/$label.log
  echo "== $label"
  local status=0
  (cd "$(dirname "$exe")" && wine "$exe" --gtest_brief=1 "$@") >"$log" 2>&1 || status=$?
  grep -v '^Running main()' "$log" | grep -v '^$' || true
  local summary
  summary=$(grep -E '^\[==========\]' "$log" | tail -n 1 || true)
  local passed
  passed=$(grep -E '^\[  PASSED  \]' "$log" | tail -n 1 || true)
  if [[ $status -ne 0 || -z $passed ]]; then
    failures=$((failures + 1))
    note "$label: FAILED (exit $status) ${summary#\[==========\] }"
  else
    note "$label: ${summary#\[==========\] }; ${passed#\[  PASSED  \] } passed"
  fi
}

for arch in i686 x86_64; do
  bits=$([[ $arch == i686 ]] && echo 32 || echo 64)
  gtest "behaviour tests, $bits-bit" "$out/$arch/veltrane_tests.exe"
done

# The back end's own tests, with the servers of win32_socket_test.cpp.
server 13
server 1301 --mode silent
server 1302 --mode split --pause 1
server 1303 --mode refuse
for arch in i686 x86_64; do
  bits=$([[ $arch == i686 ]] && echo 32 || echo 64)
  VELTRANE_TEST_SERVERS=1 VELTRANE_TEST_ONLINE=1 TZ=Asia/Kolkata \
    gtest "Win32 back-end tests, $bits-bit" "$out/$arch/veltrane_win32_tests.exe"
  TZ=Europe/Berlin gtest "Win32 clock tests in Berlin, $bits-bit" "$out/$arch/veltrane_win32_tests.exe" \
    --gtest_filter='Win32Clock*'
done
for pid in "${pids[@]:1}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${pids[@]:1}"; do wait "$pid" 2>/dev/null || true; done
pids=("${pids[0]}")

# BLACKBOX

echo
echo "== Summary"
printf '%s\n' "${summaries[@]}"
if ((failures)); then
  echo "Windows tests: $failures FAILED"
  exit 1
fi
echo "Windows tests: all passed"
