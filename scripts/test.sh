#!/usr/bin/env bash
# Builds Maravex twice and runs every test of both builds: with the widgets,
# and headless (-DKZ_WITH_UI=OFF) under AddressSanitizer and
# UndefinedBehaviorSanitizer, so the sanitizers cost no build of their own.
# Warnings are errors. JOBS sets the parallelism (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
# Before anything is built: no include may point up a layer, and no headless
# file may include a widget header (ARCHITECTURE.md).
python3 scripts/check-layers.py

jobs=${JOBS:-$(nproc)}
source scripts/ccache-launcher.sh

for variant in full headless; do
  dir="build/$variant"
  options=(-DKZ_WITH_UI=ON -DKZ_SANITIZE=OFF)
  [ "$variant" = headless ] && options=(-DKZ_WITH_UI=OFF -DKZ_SANITIZE=ON)
  cmake --log-level=NOTICE -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WERROR=ON \
    "${options[@]}" "${launcher[@]}"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600)
done
