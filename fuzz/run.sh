#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds
# (first argument, default 5) on a copy of its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
dir=build-fuzz
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELTRANE_FUZZ=ON -DVELTRANE_TESTS=OFF -DVELTRANE_BENCH=OFF >/dev/null
status=0
for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  cmake --build "$dir" --target "$name" -j"$(nproc)" >/dev/null
  corpus=fuzz/corpus/${name%_fuzz}
  work=$(mktemp -d)
  echo "-- $name: ${seconds}s"
  if ! "$dir/fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 "$work" ${corpus:+$corpus} 2>"$work.log"; then
    tail -40 "$work.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work.log" | tail -2
  fi
  rm -rf "$work" "$work.log"
done
exit "$status"
