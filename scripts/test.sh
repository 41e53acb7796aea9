#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (behaviour, Linux back
# ends, GUI on the offscreen platform, integration inside private namespaces).
# Extra arguments go to cmake; BUILD_DIR chooses the build folder,
# VELTRANE_TEST_JOBS how many tests run at once (6: most of them wait on a
# timer or a child process, not on a processor).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh "$@"
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j"${VELTRANE_TEST_JOBS:-6}"
