#!/bin/sh
# in-network-namespace.sh PROGRAM [arguments...]: runs a test program in a
# network namespace of its own, with only loopback (up) and no route out,
# inside a user namespace: its servers' ports are its own, nothing it does
# leaves the machine, and it cannot set the clock.
exec unshare -r -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
