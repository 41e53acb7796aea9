#!/bin/sh
# Runs a command with a Daytime server one delay line away. Inside the
# private network namespace this runs in (`unshare -r -n`), the command
# reaches 10.13.0.2, a second namespace where daytime-server listens on port
# 13, through delay-line: OUT_MS milliseconds on the way there, BACK_MS on the
# way back. Nothing else is reachable.
#
#   unshare -r -n sh delay-net.sh OUT_MS BACK_MS 'SERVER OPTIONS' COMMAND [ARGUMENT...]
#
# delay-line and daytime-server are taken from beside this script, or where
# DELAY_LINE and DAYTIME_SERVER say. NTP_SERVER, where set, is a command run
# in the server's namespace too, in the background (an NTP server on port
# 123). Exits with the command's status.
set -e
here=$(dirname "$0")
line=${DELAY_LINE:-$here/delay-line}
server=${DAYTIME_SERVER:-$here/daytime-server}
out=$1 back=$2 options=$3
shift 3

ip link set lo up
relay=$("$line" vel-pc vel-srv "$out" "$back")
# The server's namespace lives as long as this process.
unshare -n sleep 100000 &
holder=$!
while [ "$(readlink /proc/$holder/ns/net)" = "$(readlink /proc/$$/ns/net)" ]; do sleep 0.01; done
ip link set vel-srv netns "$holder"
ip addr add 10.13.0.1/24 dev vel-pc
ip link set vel-pc up
ip route add default dev vel-pc
nsenter --net=/proc/$holder/ns/net sh -c 'ip link set lo up; ip addr add 10.13.0.2/24 dev vel-srv; ip link set vel-srv up'
# shellcheck disable=SC2086 # the server's options are words
daytime=$(nsenter --net=/proc/$holder/ns/net "$server" --address 10.13.0.2 --port 13 --background $options | tail -n 1)
ntp=
if [ -n "${NTP_SERVER:-}" ]; then
  # shellcheck disable=SC2086 # the command is words
  nsenter --net=/proc/$holder/ns/net $NTP_SERVER &
  ntp=$!
  sleep 0.5
fi

set +e
"$@"
rc=$?
kill $ntp "$daytime" "$relay" "$holder" 2>/dev/null
exit $rc
