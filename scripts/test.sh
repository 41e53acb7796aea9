#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (behaviour, Linux back
# ends, GUI on the offscreen platform, integration inside private namespaces).
# Extra arguments go to cmake; BUILD_DIR chooses the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh "$@"
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2
