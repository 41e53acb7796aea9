#!/usr/bin/env bash
# Installs what is missing, builds, and runs build/veltrane with the words given
# (for example: scripts/run.sh config).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec build/veltrane "$@"
