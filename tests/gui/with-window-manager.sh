#!/usr/bin/env bash
# Runs a command on a private Xvfb display with a window manager (openbox)
# that frames the windows, as on a desktop: with-window-manager.sh COMMAND...
# The command finds VELTRANE_TEST_WINDOW_MANAGER set. Exit status 77 (a
# skipped test) when Xvfb or openbox is not installed. Only the processes
# started here are ended, by their ids.
set -uo pipefail

for program in Xvfb openbox xprop; do
  if ! command -v "$program" >/dev/null; then
    echo "skipped: $program is not installed" >&2
    exit 77
  fi
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a display number nobody uses and writes it to descriptor 3.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=
for _ in $(seq 100); do
  display=$(tr -dc 0-9 <"$work/display")
  [[ -n $display ]] && break
  sleep 0.1
done
if [[ -z $display ]]; then
  echo "Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

export DISPLAY=":$display"
mkdir -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime" HOME="$work" XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# The window manager is ready once it names itself on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  echo "openbox did not start" >&2
  cat "$work/openbox.log" >&2
  exit 1
fi

QT_QPA_PLATFORM=xcb VELTRANE_TEST_WINDOW_MANAGER=openbox "$@"
