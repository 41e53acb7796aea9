#!/usr/bin/env bash
# Builds the Windows program (scripts/build-windows.sh, installing what is
# missing) and tests it under Wine, in both widths:
#   - every behaviour test over the fakes (veltrane_tests.exe);
#   - the Win32 back end's own tests (veltrane_win32_tests.exe): files, the
#     registry, the socket against tools/daytime-server, the pump's CPU while
#     waiting, the clock with a recording setter, dial-up through a fake
#     function table, the windows under Xvfb (also at 144 dpi);
#   - black-box runs of veltrane.exe: a quiet run with a correct clock, one off
#     by 95 seconds with "noupdate", a refused connection, a clock that cannot
#     be set (an ERROR line, exit status 2), "debug" showing its message box in
#     a quiet run, window runs pressing Go and Cancel, a second window run of
#     the folder, quiet and window runs without a display;
#     the quiet runs' log lines compared with the Linux build's where there is
#     one (build/veltrane);
#   - the installer and the portable zips, with the silent switches; the
#     install for all users (the task, the machine's folder, its runs) and
#     the MSI (tests/win32/install_for_all_users.sh); the signing round trip
#     with a throw-away certificate (tests/win32/signing_test.sh).
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
# A prefix's first session keeps the service database locked, and the Task
# Scheduler (schtasks) cannot start: begin a second one.
wineserver -k
wineserver -w
wineserver -p
# Debian's Wine leaves the prefix without its own fonts (fonts-wine): the
# windows' MS Sans Serif is one of them.
fonts=$(winepath -u 'C:\windows\Fonts' 2>/dev/null)
cp -n /usr/share/wine/fonts/* "$fonts/" || true

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
  sed -i 's/\r$//' "$log"  # the console's line ends
  grep -v '^Running main()' "$log" | grep -v '^$' || true
  local summary
  summary=$(grep -E '^\[==========\]' "$log" | tail -n 1 || true)
  local passed skipped
  passed=$(grep -E '^\[  PASSED  \]' "$log" | tail -n 1 || true)
  skipped=$(grep -E '^\[  SKIPPED \] [0-9]+ test' "$log" | tail -n 1 || true)
  passed=${passed#\[  PASSED  \] }
  skipped=${skipped#\[  SKIPPED \] }
  summary=${summary#\[==========\] }
  if [[ $status -ne 0 || -z $passed ]]; then
    failures=$((failures + 1))
    note "$label: FAILED (exit $status): $summary"
  else
    note "$label: $summary: ${passed%.} passed${skipped:+, ${skipped%.} skipped (for the other time zone)}"
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
  # The windows' layout on a display of 144 dpi.
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1 || true
  VELTRANE_TEST_DPI=144 gtest "Win32 windows at 144 dpi, $bits-bit" "$out/$arch/veltrane_win32_tests.exe" \
    --gtest_filter='Win32WindowsTest.Every*:Win32WindowsTest.NoCaption*:Win32WindowsTest.Frames*:Win32WindowsTest.Labels*'
  wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
done
for pid in "${pids[@]:1}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${pids[@]:1}"; do wait "$pid" 2>/dev/null || true; done
pids=("${pids[0]}")


# ---- Black-box runs of veltrane.exe ------------------------------------------

bb=$out/blackbox
rm -rf "$bb"
mkdir -p "$bb"
linux=$root/build/veltrane
[[ -x $linux ]] || linux=
bbfailed=0
bbpassed=0

stripped() {  # stripped LOG: the lines without their time stamps and CR
  [[ -f $1 ]] || return 0
  sed -E 's/^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}.[0-9]{2} //' "$1" | tr -d '\r'
}

check() {  # check NAME CONDITION-TEXT RESULT(0/1)
  if [[ $3 -eq 0 ]]; then
    echo "   ok: $2"
    bbpassed=$((bbpassed + 1))
  else
    echo "   FAILED: $2"
    bbfailed=$((bbfailed + 1))
    casefailed=1
  fi
}

expect_log() {  # expect_log FOLDER EXPECTED-LINES (regular expressions, whole lines)
  local got expected
  got=$(stripped "$1/Veltrane.log")
  expected=$2
  if [[ $(printf '%s\n' "$got" | wc -l) -eq $(printf '%s\n' "$expected" | wc -l) ]] &&
    paste -d '\n' <(printf '%s\n' "$expected") <(printf '%s\n' "$got") |
      while IFS= read -r pattern && IFS= read -r line; do [[ $line =~ ^$pattern$ ]] || exit 1; done; then
    check "$1" "log lines" 0
  else
    check "$1" "log lines" 1
    echo "   expected:"; printf '      %s\n' "$expected"
    echo "   got:"; printf '      %s\n' "$got"
  fi
}

saved() {  # saved FOLDER: 0 when the run's end rewrote the settings file
  grep -q 'OnlyIfConnected=' "$1/Veltrane.INI" && echo 0 || echo 1
}

start_server() {  # start_server [options...]: the test server on port 13 for one case
  : >"$work/case-server.log"
  "$out/daytime-server" "$@" >"$work/case-server.log" 2>&1 &
  casepid=$!
  for _ in $(seq 50); do grep -q 'listening on' "$work/case-server.log" && return 0; sleep 0.1; done
  return 1
}

stop_server() {
  if [[ -n ${casepid:-} ]]; then
    kill "$casepid" 2>/dev/null || true
    wait "$casepid" 2>/dev/null || true
    casepid=
  fi
}

settings() {  # settings FOLDER QUIET DELAY
  printf '[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=%s\r\nConnectionType=LAN\r\nQuietMode=%s\r\n' \
    "$3" "$2" >"$1/Veltrane.INI"
}

prepare() {  # prepare ARCH NAME QUIET DELAY: a program folder of its own
  folder=$bb/$1/$2
  mkdir -p "$folder"
  cp "$out/$1/veltrane.exe" "$folder/"
  settings "$folder" "$3" "$4"
  casefailed=0
}

run_exe() {  # run_exe ARGUMENTS...: veltrane.exe in $folder; sets $status
  status=0
  (cd "$folder" && wine ./veltrane.exe "$@") >"$folder/output.txt" 2>&1 || status=$?
}

# The Linux build in the same case, for the same log lines.
compare_linux() {  # compare_linux NAME ARGUMENTS...
  [[ -n $linux ]] || return 0
  local home=$bb/linux/$arch/$1
  mkdir -p "$home"
  cp "$folder/Veltrane.INI.orig" "$home/Veltrane.INI"
  env -u DISPLAY VELTRANE_HOME="$home" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test \
    "$linux" "${@:2}" >"$home/output.txt" 2>&1 || true
  if [[ $(stripped "$home/Veltrane.log") == "$(stripped "$folder/Veltrane.log")" ]]; then
    check "$1" "the same log lines as the Linux build" 0
  else
    check "$1" "the same log lines as the Linux build" 1
    diff <(stripped "$home/Veltrane.log") <(stripped "$folder/Veltrane.log") | sed 's/^/      /' || true
  fi
}

start='\*\*\* VEL started \*\*\*
started in quiet mode
detected current connection via LAN
starting connect to 127\.0\.0\.1 \(local test server\)'
offby='system clock off by 1 minute 3[56] seconds'

for arch in i686 x86_64; do
  bits=$([[ $arch == i686 ]] && echo 32 || echo 64)

  echo "== Black-box, $bits-bit: a quiet run, the clock correct"
  prepare $arch correct Y 3
  cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
  start_server --layout nist
  run_exe
  check correct "exit status 0 (got $status)" $((status != 0))
  expect_log "$folder" "$start
system clock correct"
  check correct "settings saved at the end" "$(saved "$folder")"
  compare_linux correct
  stop_server

  echo "== Black-box, $bits-bit: off by 95 seconds with noupdate"
  prepare $arch noupdate Y 3
  cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
  start_server --offset -95
  run_exe noupdate
  check noupdate "exit status 0 (got $status)" $((status != 0))
  expect_log "$folder" "$start
$offby"
  stop_server

  echo "== Black-box, $bits-bit: the connection refused"
  prepare $arch refused Y 3
  cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
  run_exe
  check refused "exit status 1 (got $status)" $((status != 1))
  expect_log "$folder" "$start
ERROR: winsock error - 10061 .+"
  compare_linux refused

  echo "== Black-box, $bits-bit: the connection refused, \"debug\" in a quiet run"
  prepare $arch debug Y 3
  (cd "$folder" && exec wine ./veltrane.exe debug) >"$folder/output.txt" 2>&1 &
  program=$!
  box=
  for _ in $(seq 200); do
    box=$(xdotool search --onlyvisible --name '^Veltrane$' 2>/dev/null | head -n 1 || true)
    [[ -n $box ]] && break
    sleep 0.1
  done
  check debug "the error's message box appears" $([[ -n $box ]] && echo 0 || echo 1)
  sleep 0.5
  xdotool key Return || true
  status=0
  wait "$program" || status=$?
  check debug "exit status 1 once it is answered (got $status)" $((status != 1))
  expect_log "$folder" "$start
ERROR: winsock error - 10061 .+"

  echo "== Black-box, $bits-bit: a clock that cannot be set"
  prepare $arch unset Y 3
  start_server --offset -95
  run_exe
  check unset "exit status 2 (got $status)" $((status != 2))
  # Wine refuses a step of more than half a second as Windows refuses a user
  # without the right: the line names the fix for a copy of one's own.
  expect_log "$folder" "$start
$offby
ERROR: the system clock could not be set: .+ \(error 1314\); only an administrator may set it: install Veltrane for all users, .+"
  stop_server

  echo "== Black-box, $bits-bit: a window run, Go, then Cancel before the clock is set"
  prepare $arch window N 30
  start_server --offset -95
  (cd "$folder" && exec wine ./veltrane.exe) >"$folder/output.txt" 2>&1 &
  program=$!
  window=
  for _ in $(seq 300); do
    window=$(xdotool search --name '^Veltrane$' 2>/dev/null | head -n 1 || true)
    [[ -n $window ]] && break
    sleep 0.1
  done
  check window "the status window appears" $([[ -n $window ]] && echo 0 || echo 1)
  sleep 1
  xdotool key alt+g || true  # &Go
  for _ in $(seq 100); do grep -q '^connection' "$work/case-server.log" && break; sleep 0.1; done
  sleep 1  # into the three seconds before the clock is set
  xdotool key alt+c || true  # &Cancel
  status=0
  wait "$program" || status=$?
  check window "exit status 3, cancelled (got $status)" $((status != 3))
  expect_log "$folder" '\*\*\* VEL started \*\*\*
detected current connection via LAN
starting connect to 127\.0\.0\.1 \(local test server\)
'"$offby"'
system clock not corrected - user cancelled'
  stop_server

  echo "== Black-box, $bits-bit: a window run, Cancel during the start delay"
  prepare $arch cancel N 30
  (cd "$folder" && exec wine ./veltrane.exe) >"$folder/output.txt" 2>&1 &
  program=$!
  for _ in $(seq 300); do xdotool search --name '^Veltrane$' >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 1
  xdotool key alt+c || true
  status=0
  wait "$program" || status=$?
  check cancel "exit status 3, cancelled (got $status)" $((status != 3))
  expect_log "$folder" '\*\*\* VEL started \*\*\*
ERROR: user cancelled before connect started'
  check cancel "settings saved at the close" "$(saved "$folder")"

  echo "== Black-box, $bits-bit: a second window run of the folder brings the first to the front"
  prepare $arch twice N 30
  (cd "$folder" && exec wine ./veltrane.exe) >"$folder/output.txt" 2>&1 &
  program=$!
  for _ in $(seq 300); do xdotool search --name '^Veltrane$' >/dev/null 2>&1 && break; sleep 0.1; done
  status=0
  (cd "$folder" && wine ./veltrane.exe) >"$folder/output2.txt" 2>&1 || status=$?
  check twice "the second ends with status 0 (got $status)" $((status != 0))
  xdotool key alt+c || true
  status=0
  wait "$program" || status=$?
  check twice "the first goes on to its end, cancelled (got $status)" $((status != 3))
  expect_log "$folder" '\*\*\* VEL started \*\*\*
\*\*\* VEL started \*\*\*
another window run of this folder is in progress: its window was brought to the front
ERROR: user cancelled before connect started'

  # Without a display no window can be made: the run goes on without one,
  # and the "debug" box, which nobody could see, is its text on standard error.
  echo "== Black-box, $bits-bit: quiet and window runs without a display, \"debug\""
  for quiet in Y N; do
    prepare $arch nodisplay-$quiet $quiet 3
    status=0
    (cd "$folder" && exec env -u DISPLAY timeout 60 wine ./veltrane.exe debug) >"$folder/output.txt" 2>&1 || status=$?
    check nodisplay-$quiet "exit status 1, no time (got $status)" $((status != 1))
    if [[ $quiet == Y ]]; then second='started in quiet mode'; else
      second='WARNING: running without windows, as in quiet mode: no window can be created.*'; fi
    expect_log "$folder" "\*\*\* VEL started \*\*\*
$second
detected current connection via LAN
starting connect to 127\.0\.0\.1 \(local test server\)
ERROR: winsock error - 10061 .+"
    grep -q '^ERROR: winsock error - 10061' "$folder/output.txt" && r=0 || r=1
    check nodisplay-$quiet "the error on standard error" $r
    check nodisplay-$quiet "settings saved at the end" "$(saved "$folder")"
  done
done
if ((bbfailed)); then
  failures=$((failures + 1))
  note "black-box runs of veltrane.exe: 20 runs, $bbfailed of $((bbpassed + bbfailed)) checks FAILED"
else
  note "black-box runs of veltrane.exe: 20 runs (10 cases in each width), $bbpassed checks passed"
fi

# ---- The installer and the portable zips --------------------------------------

echo "== Installer, silent"
pkgfailed=0
pkgpassed=0
pcheck() {  # pcheck TEXT RESULT(0/1)
  if [[ $2 -eq 0 ]]; then
    echo "   ok: $1"
    pkgpassed=$((pkgpassed + 1))
  else
    echo "   FAILED: $1"
    pkgfailed=$((pkgfailed + 1))
  fi
}
exists() { [[ -e $1 ]] && echo 0 || echo 1; }
absent() { [[ -e $1 ]] && echo 1 || echo 0; }
folder_of() { winepath -u "$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')" 2>/dev/null; }

version=$(sed -n 's/^project(Veltrane VERSION \([0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
setup=$out/Veltrane-$version-setup.exe
installed=$(folder_of LOCALAPPDATA)/Programs/Veltrane
programs=$(folder_of APPDATA)/Microsoft/Windows/Start\ Menu/Programs
# Wine spells it StartUp.
startup=$(find "$programs" -maxdepth 1 -iname startup | head -n 1)
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrane'

uninstall() {  # the uninstaller copies itself away and returns at once: wait for its work
  wine "$installed/uninstall.exe" /S >/dev/null 2>&1 || true
  for _ in $(seq 300); do [[ -e $installed/veltrane.exe || -e $installed/uninstall.exe ]] || break; sleep 0.1; done
  sleep 0.5
}

status=0
wine "$setup" /S >/dev/null 2>&1 || status=$?
pcheck "setup /S ends with status 0 (got $status)" $((status != 0))
pcheck "per-user folder %LOCALAPPDATA%\\Programs\\Veltrane" "$(exists "$installed/veltrane.exe")"
cmp -s "$installed/veltrane.exe" "$out/x86_64/veltrane.exe" && r=0 || r=1
pcheck "the 64-bit program on a 64-bit system" $r
pcheck "README.txt and the uninstaller" "$([[ -e $installed/README.txt && -e $installed/uninstall.exe ]] && echo 0 || echo 1)"
pcheck "Start menu: Veltrane" "$(exists "$programs/Veltrane/Veltrane.lnk")"
pcheck "Start menu: Veltrane Configuration" "$(exists "$programs/Veltrane/Veltrane Configuration.lnk")"
strings -el "$programs/Veltrane/Veltrane Configuration.lnk" 2>/dev/null | grep -qx config && r=0 || r=1
pcheck "the configuration entry starts veltrane.exe config" $r
pcheck "Startup folder: Veltrane (started at log-on)" "$(exists "$startup/Veltrane.lnk")"
wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | grep -q "$version" && r=0 || r=1
pcheck "listed under installed programs, version $version" $r
entry=$(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
size=$(sed -n 's/^ *EstimatedSize *REG_DWORD *0x\([0-9a-fA-F]*\)$/\1/p' <<<"$entry")
[[ -n $size ]] && ((16#$size * 1024 >= $(stat -c %s "$out/x86_64/veltrane.exe"))) &&
  grep -qE 'URLInfoAbout +REG_SZ +https://' <<<"$entry" && grep -qE 'HelpLink +REG_SZ +https://' <<<"$entry" &&
  grep -qiE 'DisplayIcon +REG_SZ +.*\\veltrane\.exe,0$' <<<"$entry" && r=0 || r=1
pcheck "the entry's size (at least the program's), addresses and icon" $r

# The user's files: the uninstaller leaves them.
printf '[Main]\r\nQuietMode=Y\r\n' >"$installed/Veltrane.INI"
printf 'log\r\n' >"$installed/Veltrane.log"
printf 'old\r\n' >"$installed/OldLog.log"
uninstall
pcheck "uninstall /S removes the program and the uninstaller" \
  "$([[ ! -e $installed/veltrane.exe && ! -e $installed/uninstall.exe && ! -e $installed/README.txt ]] && echo 0 || echo 1)"
pcheck "and the Start menu entries" "$(absent "$programs/Veltrane")"
pcheck "and the Startup shortcut" "$(absent "$startup/Veltrane.lnk")"
wine reg query "$uninstall_key" >/dev/null 2>&1 && r=1 || r=0
pcheck "and the entry under installed programs" $r
pcheck "and keeps the settings and the logs" \
  "$([[ -e $installed/Veltrane.INI && -e $installed/Veltrane.log && -e $installed/OldLog.log ]] && echo 0 || echo 1)"

wine "$setup" /S /NOSTARTUP >/dev/null 2>&1 || true
pcheck "setup /S /NOSTARTUP: no Startup shortcut" "$(absent "$startup/Veltrane.lnk")"
pcheck "setup /S /NOSTARTUP: the program and its Start menu entries" \
  "$([[ -e $installed/veltrane.exe && -e $programs/Veltrane/Veltrane.lnk ]] && echo 0 || echo 1)"
grep -q 'QuietMode=Y' "$installed/Veltrane.INI" && r=0 || r=1
pcheck "an install over kept settings leaves them" $r
uninstall

# The install for all users and the MSI.
source "$root/tests/win32/install_for_all_users.sh"
source "$root/tests/win32/signing_test.sh"

echo "== The program's imports"
for arch in i686 x86_64; do
  imports=$("$arch-w64-mingw32-objdump" -p "$out/$arch/veltrane.exe" | sed -n 's/^\s*DLL Name: //p' |
    tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  others=$(printf '%s\n' $imports | grep -vxE 'advapi32.dll|comctl32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|ole32.dll|shell32.dll|user32.dll|ws2_32.dll' || true)
  pcheck "$arch: only the system's own DLLs ($imports)" "$([[ -z $others ]] && echo 0 || echo 1)"
  # The posix runtime imports SetSystemTime whether or not anything calls it;
  # the local-time setter must not be there.
  "$arch-w64-mingw32-objdump" -p "$out/$arch/veltrane.exe" | grep -qw SetLocalTime && r=1 || r=0
  pcheck "$arch: SetLocalTime is not imported" $r
done

echo "== Portable zips"
for bits in 32 64; do
  arch=$([[ $bits == 32 ]] && echo i686 || echo x86_64)
  zipfile=$out/Veltrane-$version-win$bits.zip
  listing=$(unzip -Z1 "$zipfile" 2>/dev/null | sort | tr '\n' ' ' || true)
  [[ $listing == "Veltrane/ Veltrane/README.txt Veltrane/veltrane.exe " ]] && r=0 || r=1
  pcheck "win$bits zip holds Veltrane\\veltrane.exe and README.txt ($listing)" $r
  unzip -p "$zipfile" Veltrane/veltrane.exe | cmp -s - "$out/$arch/veltrane.exe" && r=0 || r=1
  pcheck "win$bits zip: the $bits-bit program" $r
  unzip -p "$zipfile" Veltrane/README.txt | head -n 1 | grep -q $'\r$' && r=0 || r=1
  pcheck "win$bits zip: README.txt with Windows line ends" $r
done

if ((pkgfailed)); then
  failures=$((failures + 1))
  note "installers, MSI and zips: $pkgfailed of $((pkgpassed + pkgfailed)) checks FAILED"
else
  note "installers, MSI and zips: $pkgpassed checks passed"
fi

echo
echo "== Summary"
printf '%s\n' "${summaries[@]}"
if ((failures)); then
  echo "Windows tests: $failures FAILED"
  exit 1
fi
echo "Windows tests: all passed"
