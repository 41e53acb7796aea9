# shellcheck shell=bash
# The Windows tests' shared environment, sourced by scripts/windows/*.sh:
# where the builds are, Wine's settings, and the helpers of the scripts that
# check with shell commands (check, summary, start_server, stop_server).
# Wine never opens an address: winebrowser is switched off, with the Mono and
# Gecko installers and menu entries.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$root/build-windows
# The build tree's prefix (ctest names it), or one beside the builds.
prefix=${VELTRANE_WINE_PREFIX:-$out/wine-prefix}
version=$(sed -n 's/^project(Veltrane VERSION \([0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")

# VELTRANE_WINEDEBUG: Wine's debug channels for a run (WINEDEBUG), none by default.
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${VELTRANE_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winebrowser.exe=d"
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

# check TEXT RESULT(0/1): one check of a script, counted for its summary.
passed=0
failed=0
check() {
  if [[ $2 -eq 0 ]]; then
    echo "   ok: $1"
    passed=$((passed + 1))
  else
    echo "   FAILED: $1"
    failed=$((failed + 1))
  fi
}
yes_no() { "$@" && echo 0 || echo 1; }
exists() { [[ -e $1 ]] && echo 0 || echo 1; }
absent() { [[ -e $1 ]] && echo 1 || echo 0; }

# summary WHAT: the script's last line and exit status.
summary() {
  if ((failed)); then
    echo "$1: $failed of $((passed + failed)) checks FAILED"
    exit 1
  fi
  echo "$1: $passed checks passed"
}

# start_server [options...]: the Linux test server on port 13 (or --port),
# for one case; stop_server ends it.
work=${VELTRANE_WINE_WORK:?run through scripts/windows/wine-run.sh}
server_log=$work/case-server.log
start_server() {
  : >"$server_log"
  "$out/daytime-server" "$@" >"$server_log" 2>&1 &
  casepid=$!
  for _ in $(seq 50); do grep -q 'listening on' "$server_log" && return 0; sleep 0.1; done
  return 1
}
stop_server() {
  if [[ -n ${casepid:-} ]]; then
    kill "$casepid" 2>/dev/null || true
    wait "$casepid" 2>/dev/null || true
    casepid=
  fi
}
