#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (behaviour, Linux back
# ends, GUI on the offscreen platform, integration inside private namespaces)
# with a preset of CMakePresets.json (PRESET, default "default"; "sanitize"
# for AddressSanitizer and UndefinedBehaviorSanitizer). Extra arguments go to
# cmake; BUILD_DIR chooses another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh "$@"
if [[ -n ${BUILD_DIR:-} ]]; then
  ctest --preset "${PRESET:-default}" --test-dir "$BUILD_DIR"
else
  ctest --preset "${PRESET:-default}"
fi
