#!/usr/bin/env bash
# The layout of every C++ file in src/ and tests/ is .clang-format's: lists
# the files clang-format would change and exits non-zero if there are any.
# `clang-format -i <file>` lays a file out.
set -uo pipefail
cd "$(dirname "$0")/.."
find src tests -name '*.h' -o -name '*.cpp' | sort | xargs clang-format --dry-run --Werror
