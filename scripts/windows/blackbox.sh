#!/usr/bin/env bash
# Black-box runs of veltrane.exe under Wine, in one width (ARCH: i686 or
# x86_64), run through scripts/windows/wine-run.sh (ctest's "blackbox"
# test): a quiet run with a correct clock, one off by 95 seconds with
# "noupdate", a refused connection, a clock that cannot be set (an ERROR
# line, exit status 2), "debug" showing its message box in a quiet run,
# window runs pressing Go and Cancel, a second window run of the folder,
# quiet and window runs without a display, a step of three days that no
# second source confirms and (with the HTTPS servers of wine-run.sh) one
# that their Date shows false. The quiet runs' log lines are
# compared with the Linux build's where there is one (build/veltrane).
set -euo pipefail
source "$(dirname "$0")/env.sh"
arch=$1
bits=$([[ $arch == i686 ]] && echo 32 || echo 64)
bb=$out/blackbox
rm -rf "${bb:?}/$arch" "$bb/linux/$arch"
mkdir -p "$bb"
linux=$root/build/veltrane
[[ -x $linux ]] || linux=

stripped() {  # stripped LOG: the lines without their time stamps and CR
  [[ -f $1 ]] || return 0
  sed -E 's/^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}.[0-9]{2} //' "$1" | tr -d '\r'
}

measured() {  # measured LOG: as stripped, the milliseconds measured left out (two runs differ in them)
  stripped "$1" | sed -E 's/^(the PC clock is )[0-9]+ ms (.*, measured to within )[0-9]+ ms/\1N ms \2N ms/'
}

bcheck() { check "$2" "$3"; }  # bcheck CASE CONDITION-TEXT RESULT(0/1)

log_report() {  # log_report FOLDER EXPECTED-LINES RESULT(0/1) WHAT
  bcheck "$1" "$4" "$3"
  if [[ $3 != 0 ]]; then
    echo "   expected:"; printf '%s\n' "$2" | sed 's/^/      /'
    echo "   got:"; stripped "$1/Veltrane.log" | sed 's/^/      /'
  fi
}

# expect_log FOLDER EXPECTED-LINES (regular expressions, whole lines): each
# is found in the log after the one before it; other lines may come between.
expect_log() {
  local -a lines patterns
  local pattern at=0 r=0
  mapfile -t lines < <(stripped "$1/Veltrane.log")
  mapfile -t patterns <<<"$2"
  for pattern in "${patterns[@]}"; do
    while [[ $at -lt ${#lines[@]} ]] && ! [[ ${lines[at]} =~ ^$pattern$ ]]; do at=$((at + 1)); done
    if [[ $at -ge ${#lines[@]} ]]; then r=1; break; fi
    at=$((at + 1))
  done
  log_report "$1" "$2" $r "log lines, in order"
}

# expect_whole_log FOLDER EXPECTED-LINES: the log is these lines and no others
# (one case: a quiet run's fixed lines).
expect_whole_log() {
  local got r=0
  got=$(stripped "$1/Veltrane.log")
  if [[ $(printf '%s\n' "$got" | wc -l) -eq $(printf '%s\n' "$2" | wc -l) ]] &&
    paste -d '\n' <(printf '%s\n' "$2") <(printf '%s\n' "$got") |
      while IFS= read -r pattern && IFS= read -r line; do [[ $line =~ ^$pattern$ ]] || exit 1; done; then
    r=0
  else
    r=1
  fi
  log_report "$1" "$2" $r "the whole log"
}

saved() {  # saved FOLDER: 0 when the run's end rewrote the settings file
  grep -q 'OnlyIfConnected=' "$1/Veltrane.INI" && echo 0 || echo 1
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
  if [[ $(measured "$home/Veltrane.log") == "$(measured "$folder/Veltrane.log")" ]]; then
    bcheck "$1" "the same log lines as the Linux build" 0
  else
    bcheck "$1" "the same log lines as the Linux build" 1
    diff <(measured "$home/Veltrane.log") <(measured "$folder/Veltrane.log") | sed 's/^/      /' || true
  fi
}

start='\*\*\* VEL started \*\*\*
started in quiet mode
detected current connection via LAN
starting connect to 127\.0\.0\.1 \(local test server\)'
offby='system clock off by 1 minute 3[56] seconds'
# Nobody on TCP 13: the same host over NTP.
asked='the server does not answer on the Daytime port; asked it over NTP'
# A clock left as it is: how far off, measured.
offset='the PC clock is [0-9]+ ms (ahead of|behind) the server, measured to within [0-9]+ ms over [0-9]+ answers?'



echo "== Black-box, $bits-bit: a quiet run, the clock correct"
prepare $arch correct Y 3
cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
start_server --layout nist
run_exe
bcheck correct "exit status 0 (got $status)" $((status != 0))
expect_whole_log "$folder" "$start
system clock correct
$offset"
bcheck correct "settings saved at the end" "$(saved "$folder")"
compare_linux correct
stop_server

echo "== Black-box, $bits-bit: off by 95 seconds with noupdate"
prepare $arch noupdate Y 3
cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
start_server --offset -95
run_exe noupdate
bcheck noupdate "exit status 0 (got $status)" $((status != 0))
expect_log "$folder" "$start
$offby
$offset"
stop_server

echo "== Black-box, $bits-bit: the connection refused"
prepare $arch refused Y 3
cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
run_exe
bcheck refused "exit status 1 (got $status)" $((status != 1))
expect_log "$folder" "$start
$asked
ERROR: winsock error - 10061 .+; over NTP: winsock error - 10061 .+"
compare_linux refused

echo "== Black-box, $bits-bit: no Daytime server, chrony over NTP"
chronyd=$(bash "$root/scripts/setup-chrony.sh")
prepare $arch ntp Y 3
cp "$folder/Veltrane.INI" "$folder/Veltrane.INI.orig"
printf 'allow 127.0.0.1\nlocal stratum 1\nport 123\ncmdport 0\npidfile %s/chronyd.pid\n' "$work" >"$work/chrony.conf"
"$chronyd" -x -d -u root -f "$work/chrony.conf" >"$work/chrony.log" 2>&1 &
chrony=$!
for _ in $(seq 50); do ss -Hlun | grep -q ':123 ' && break; sleep 0.1; done
run_exe
bcheck ntp "exit status 0 (got $status)" $((status != 0))
expect_log "$folder" "$start
$asked
the server answered over NTP \(stratum 1\)
system clock correct
$offset"
compare_linux ntp
kill "$chrony" 2>/dev/null || true
wait "$chrony" 2>/dev/null || true

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
bcheck debug "the error's message box appears" $([[ -n $box ]] && echo 0 || echo 1)
sleep 0.5
xdotool key Return || true
status=0
wait "$program" || status=$?
bcheck debug "exit status 1 once it is answered (got $status)" $((status != 1))
expect_log "$folder" "$start
$asked
ERROR: winsock error - 10061 .+; over NTP: winsock error - 10061 .+"

echo "== Black-box, $bits-bit: a clock that cannot be set"
prepare $arch unset Y 3
start_server --offset -95
run_exe
bcheck unset "exit status 2 (got $status)" $((status != 2))
# Wine refuses a step of more than half a second as Windows refuses a user
# without the right: the line names the fix for a copy of one's own.
expect_log "$folder" "$start
$offby
ERROR: the system clock could not be set: .+ \(error 1314\); only an administrator may set it: install Veltrane for all users, .+"
stop_server

# Three days, give or take the second the answer falls in.
days3='(3 days|3 days 1 second|2 days 23 hours 59 minutes 59 seconds)'

echo "== Black-box, $bits-bit: a step of three days, no second source"
prepare $arch guarded Y 3
printf 'SecondServers=N\r\nHTTPSCheck=N\r\n' >>"$folder/Veltrane.INI"
start_server --offset -259200
run_exe
bcheck guarded "exit status 9 (got $status)" $((status != 9))
expect_log "$folder" "$start
system clock off by $days3
the step of $days3 is larger than the step limit of 1 hour: a second source must agree
WARNING: system clock not corrected - no second source agreed with a step of $days3 \(no second source is configured\)"
stop_server

if [[ ${VELTRANE_TEST_HTTPS:-} == 1 ]]; then
  echo "== Black-box, $bits-bit: a step of three days that the HTTPS Date shows false"
  prepare $arch https Y 3
  printf 'SecondServers=N\r\nHTTPSServers=localhost:4431\r\n' >>"$folder/Veltrane.INI"
  start_server --offset -259200
  run_exe
  bcheck https "exit status 9 (got $status)" $((status != 9))
  expect_log "$folder" "$start
system clock off by $days3
the step of $days3 is larger than the step limit of 1 hour: a second source must agree
HTTPS Date of localhost:4431 puts the PC clock [0-9.]+ s (ahead|behind) \(± [0-9.]+ s\): disagrees
WARNING: system clock not corrected - the time server's answer lies outside every HTTPS Date: it is not used"
  stop_server
fi

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
bcheck window "the status window appears" $([[ -n $window ]] && echo 0 || echo 1)
sleep 1
xdotool key alt+g || true  # &Go
for _ in $(seq 100); do grep -q '^connection' "$server_log" && break; sleep 0.1; done
sleep 1  # into the three seconds before the clock is set
xdotool key alt+c || true  # &Cancel
status=0
wait "$program" || status=$?
bcheck window "exit status 3, cancelled (got $status)" $((status != 3))
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
bcheck cancel "exit status 3, cancelled (got $status)" $((status != 3))
expect_log "$folder" '\*\*\* VEL started \*\*\*
ERROR: user cancelled before connect started'
bcheck cancel "settings saved at the close" "$(saved "$folder")"

echo "== Black-box, $bits-bit: a second window run of the folder brings the first to the front"
prepare $arch twice N 30
(cd "$folder" && exec wine ./veltrane.exe) >"$folder/output.txt" 2>&1 &
program=$!
for _ in $(seq 300); do xdotool search --name '^Veltrane$' >/dev/null 2>&1 && break; sleep 0.1; done
status=0
(cd "$folder" && wine ./veltrane.exe) >"$folder/output2.txt" 2>&1 || status=$?
bcheck twice "the second ends with status 0 (got $status)" $((status != 0))
xdotool key alt+c || true
status=0
wait "$program" || status=$?
bcheck twice "the first goes on to its end, cancelled (got $status)" $((status != 3))
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
  bcheck nodisplay-$quiet "exit status 1, no time (got $status)" $((status != 1))
  if [[ $quiet == Y ]]; then second='started in quiet mode'; else
    second='WARNING: running without windows, as in quiet mode: no window can be created.*'; fi
  expect_log "$folder" "\*\*\* VEL started \*\*\*
$second
detected current connection via LAN
starting connect to 127\.0\.0\.1 \(local test server\)
$asked
ERROR: winsock error - 10061 .+; over NTP: winsock error - 10061 .+"
  grep -q '^ERROR: winsock error - 10061' "$folder/output.txt" && r=0 || r=1
  bcheck nodisplay-$quiet "the error on standard error" $r
  bcheck nodisplay-$quiet "settings saved at the end" "$(saved "$folder")"
done

echo "== The program's imports"
imports=$("$arch-w64-mingw32-objdump" -p "$out/$arch/veltrane.exe" | sed -n 's/^\s*DLL Name: //p' |
  tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
others=$(printf '%s\n' $imports | grep -vxE 'advapi32.dll|comctl32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|ole32.dll|shell32.dll|user32.dll|ws2_32.dll' || true)
check "$arch: only the system's own DLLs ($imports)" "$([[ -z $others ]] && echo 0 || echo 1)"
# The posix runtime imports SetSystemTime whether or not anything calls it;
# the local-time setter must not be there.
"$arch-w64-mingw32-objdump" -p "$out/$arch/veltrane.exe" | grep -qw SetLocalTime && r=1 || r=0
check "$arch: SetLocalTime is not imported" $r

summary "black-box runs of veltrane.exe, $bits-bit: 10 cases"
