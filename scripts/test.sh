#!/usr/bin/env bash
# Builds Maravex twice (with the widgets, and headless with -DKZ_WITH_UI=OFF)
# and runs every test of both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc)
for variant in full headless; do
  dir="build/$variant"
  ui=ON
  [ "$variant" = headless ] && ui=OFF
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WITH_UI="$ui" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600)
done
