#!/usr/bin/env bash
# Configures and builds with a preset of CMakePresets.json (PRESET, default
# "default": build/); BUILD_DIR puts the build in another folder, BUILD_TYPE
# chooses another build type, TARGETS (names separated by blanks) builds only
# those targets and what they need. Extra arguments go to cmake (for example
# -DVELTRANE_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${PRESET:-default}
args=()
if [[ -n ${BUILD_DIR:-} ]]; then args+=(-B "$BUILD_DIR"); fi
if [[ -n ${BUILD_TYPE:-} ]]; then args+=(-DCMAKE_BUILD_TYPE="$BUILD_TYPE"); fi
cmake --preset "$preset" "${args[@]}" "$@" >/dev/null
targets=()
if [[ -n ${TARGETS:-} ]]; then
  read -ra names <<<"$TARGETS"
  targets=(--target "${names[@]}")
fi
if [[ -n ${BUILD_DIR:-} ]]; then
  cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
else
  cmake --build --preset "$preset" -j"$(nproc)" "${targets[@]}"
fi
