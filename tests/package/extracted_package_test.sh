#!/usr/bin/env bash
# The packaged program as a user gets it. The package is extracted with
# dpkg-deb -x (never installed on this machine), and the extracted
# /usr/bin/veltrane runs inside `unshare -r -n -m`: a private network with
# only loopback (tools/daytime-server answers on 127.0.0.1:13, the clock
# 95 seconds ahead), a user namespace where setting the clock fails, and the
# extracted /usr mounted read-only as on an installed system. HOME is a
# temporary folder and nothing else of the caller's environment is passed.
# A run under strace shows that the units' sandboxes (system calls, address
# families, no writable executable memory) leave the program what it uses.
#
# Usage: extracted_package_test.sh PACKAGE.deb DAYTIME-SERVER
set -uo pipefail

deb=$(realpath "$1")
server=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root" || exit 1
# As on a merged /usr (every Debian since 12): the system units the package
# puts in /lib/systemd/system are in /usr/lib/systemd/system.
if [[ -d $work/root/lib ]]; then cp -a "$work/root/lib/." "$work/root/usr/lib/" && rm -rf "$work/root/lib"; fi
version=$(dpkg-deb -f "$deb" Version)
mkdir "$work/home"
folder=$work/home/.config/veltrane
find "$work/root" | sort >"$work/files-before"

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: counts, and names a failure
  local description=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $description"
    echo "  exit status $status; standard output:"
    sed 's/^/    /' "$work/out"
    echo "  standard error:"
    sed 's/^/    /' "$work/err"
  fi
}

# run ARGUMENTS...: the extracted program once; sets status. With TRACE set,
# under strace, which writes every system call to the file $TRACE. With
# MACHINE set, $work/etc-veltrane and $work/log-veltrane are the machine's
# folders: bound over /etc/veltrane and /var/log/veltrane, made in overlays
# of /etc and /var/log that vanish with the namespace.
run() {
  env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 ROOT="$work/root" SERVER="$server" \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test TRACE="${TRACE:-}" MACHINE="${MACHINE:-}" \
    WORK="$work" unshare -r -n -m sh -c '
      mount --bind "$ROOT/usr" "$ROOT/usr" && mount -o remount,bind,ro "$ROOT/usr" || exit 97
      if [ -n "$MACHINE" ]; then
        o=$WORK/overlay
        mkdir -p "$o" && mount -t tmpfs tmpfs "$o" || exit 96
        for pair in etc:/etc log:/var/log; do
          name=${pair%%:*} system=${pair#*:}
          mkdir "$o/$name" "$o/$name-work" &&
            mount -t overlay overlay -o "lowerdir=$system,upperdir=$o/$name,workdir=$o/$name-work" "$system" &&
            mkdir -p "$system/veltrane" && mount --bind "$WORK/$name-veltrane" "$system/veltrane" || exit 96
        done
      fi
      ip link set lo up && ip route add default dev lo || exit 98
      pid=$("$SERVER" --address 127.0.0.1 --port 13 --offset -95 --background | tail -n 1)
      set -- "$ROOT/usr/bin/veltrane" "$@"
      if [ -n "$TRACE" ]; then set -- strace -f -qq -o "$TRACE" "$@"; fi
      timeout -s KILL 60 "$@"
      rc=$?
      kill "$pid"
      exit $rc' veltrane "$@" >"$work/out" 2>"$work/err"
  status=$?
}

home_is_empty() { [[ -z $(ls -A "$work/home") ]]; }
log_has() { grep -qF -- "$1" "$folder/Veltrane.log"; }
settings_have() { grep -qF -- "$1" "$folder/Veltrane.INI"; }

# --version and --help: an answer, status 0, and no file.
run --version
check "--version prints the package's version" test "$(cat "$work/out")" = "Veltrane $version"
check "--version prints 1.55" grep -qx "Veltrane 1.55" "$work/out"
check "--version ends with status 0" test "$status" -eq 0
check "--version makes no file" home_is_empty
run --help
check "--help prints the usage" grep -q "^Usage: veltrane \[OPTION\]... \[config\] \[noupdate\] \[debug\] \[quiet\]" "$work/out"
check "--help names the exit statuses" grep -q "^Exit status:" "$work/out"
check "--help ends with status 0" test "$status" -eq 0
check "--help makes no file" home_is_empty
# An option it does not know, even beside a word: refused at once, nothing run.
run noupdate --verbose
check "an unknown option ends with status 64" test "$status" -eq 64
refused_on_stderr() {
  grep -qxF "veltrane: unrecognized option '--verbose'" "$work/err" &&
    grep -qxF "Try 'veltrane --help' for more information." "$work/err" && [[ ! -s $work/out ]]
}
check "and says so on standard error, nothing on standard output" refused_on_stderr
check "and makes no file" home_is_empty

# The first start without a display: the dialog cannot open, and the message
# names the settings file in ~/.config/veltrane, not in the read-only /usr/bin.
run
check "a first start without a display ends with status 5" test "$status" -eq 5
check "the message names ~/.config/veltrane/Veltrane.INI" grep -qF "$folder/Veltrane.INI" "$work/err"

# A quiet run measuring against the test server: settings and log in
# ~/.config/veltrane.
mkdir -p "$folder"
printf '[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n' \
  >"$folder/Veltrane.INI"
run noupdate
check "the quiet run ends with status 0" test "$status" -eq 0
check "the log starts the run" log_has "*** VEL started ***"
check "the log names the quiet mode" log_has "started in quiet mode"
check "the log names the server" log_has "starting connect to 127.0.0.1 (local test server)"
check "the log has the difference" grep -qE "system clock off by 1 minute 3[56] seconds" "$folder/Veltrane.log"
check "the settings were saved at the end of the run" settings_have "OnlyIfConnected="
check "the settings kept their server" settings_have "NTPServer=127.0.0.1 (local test server)"
check "the settings kept quiet mode" settings_have "QuietMode=Y"
check "the program folder holds the settings and the log only" \
  test "$(ls -A "$folder" | tr '\n' ' ')" = "Veltrane.INI Veltrane.log "

# The units' filters against what the machine's run does that looks the
# server's name up and sets the clock (refused here, so it also asks for
# systemd-timedated on a bus that is not there), as the system service runs
# it: the machine's settings, only read, and its log.
mkdir "$work/etc-veltrane" "$work/log-veltrane"
sed 's/^NTPServer=127.0.0.1/NTPServer=localhost/' "$folder/Veltrane.INI" >"$work/etc-veltrane/Veltrane.INI"
cp "$work/etc-veltrane/Veltrane.INI" "$work/settings-before"
MACHINE=1 TRACE=$work/trace run --machine
check "the traced run could not set the clock" test "$status" -eq 2
check "the traced run wrote the machine's log" grep -qF "started in quiet mode" "$work/log-veltrane/Veltrane.log"
check "the traced run left the machine's settings alone" \
  cmp -s "$work/settings-before" "$work/etc-veltrane/Veltrane.INI"
check "the traced run used the network and the bus" \
  test "$(grep -o 'socket(AF_IN\(ET\|ET6\)\|socket(AF_UNIX' "$work/trace" | sort -u | wc -l)" -ge 2
# expand NAME...: the system calls a name or a @group stands for, one a line.
expand() {
  local name
  for name; do
    case $name in
      @*) expand $(systemd-analyze syscall-filter "$name" | sed -n 's/^    \([^ #][^ ]*\)$/\1/p') ;;
      *) echo "$name" ;;
    esac
  done
}
# What the run asked for: system calls, socket families, writable executable memory.
{
  sed -n 's/^[0-9][0-9]* \{1,\}\([a-z0-9_]*\)(.*/\1/p' "$work/trace"
  grep -o 'socket(AF_[A-Z0-9]*' "$work/trace" | cut -d'(' -f2
  grep -o 'PROT_WRITE|PROT_EXEC' "$work/trace"
} | sort -u >"$work/asked"
# admitted UNIT DONE-WITHOUT...: the unit admits all the run asked for, apart
# from DONE-WITHOUT, which the run does without when refused.
admitted() {
  local unit=$work/root/$1
  shift
  # SystemCallFilter= lines admit their calls, or refuse them after "~".
  expand $(sed -n 's/^SystemCallFilter=~//p' "$unit") | sort -u >"$work/denied"
  {
    # Always admitted, whatever the list says.
    printf '%s\n' execve exit exit_group getrlimit rt_sigreturn sigreturn "$@"
    expand $(sed -n 's/^SystemCallFilter=\([^~]\)/\1/p' "$unit") | sort -u | comm -23 - "$work/denied"
    sed -n 's/^RestrictAddressFamilies=//p' "$unit" | tr ' ' '\n'
    grep -q '^MemoryDenyWriteExecute=yes' "$unit" || echo 'PROT_WRITE|PROT_EXEC'
  } | sort -u >"$work/admitted"
  comm -23 "$work/asked" "$work/admitted" >"$work/refused"
  [[ ! -s $work/refused ]] || { echo "  refused: $(tr '\n' ' ' <"$work/refused")" >>"$work/err"; return 1; }
}
# The C library's look at the network's addresses (a netlink socket) finds
# both kinds of address usable when refused; a user's run sets the clock
# through systemd-timedated when it may not set it itself.
check "the system service's sandbox admits the run" admitted usr/lib/systemd/system/veltrane-sync.service AF_NETLINK
check "the user service's sandbox admits the run" admitted usr/lib/systemd/user/veltrane.service AF_NETLINK \
  $(expand @clock)

find "$work/root" | sort >"$work/files-after"
check "the extracted tree is unchanged" cmp -s "$work/files-before" "$work/files-after"

echo "extracted: $passed passed, $failed failed"
((failed == 0))
