#!/usr/bin/env bash
# Installs what is missing, builds the program (and the Daytime test server
# of the offline demo, build/daytime-server), not the tests, and runs
# build/veltrane with the words given (for example: scripts/run.sh config).
# scripts/test.sh builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
TARGETS="veltrane daytime-server" bash scripts/build.sh
exec build/veltrane "$@"
