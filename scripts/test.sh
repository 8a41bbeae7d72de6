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
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Paths below the base folder are hashed relative to the build folder, and
  # the build folder itself is left out of the hash (it only names the folder
  # in the debug information): a fresh clone beside this checkout then hits
  # the cache of the checkout's own builds.
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}"
  export CCACHE_NOHASHDIR=true
fi

for variant in full headless; do
  dir="build/$variant"
  options=(-DKZ_WITH_UI=ON -DKZ_SANITIZE=OFF)
  [ "$variant" = headless ] && options=(-DKZ_WITH_UI=OFF -DKZ_SANITIZE=ON)
  cmake --log-level=NOTICE -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WERROR=ON \
    "${options[@]}" "${launcher[@]}"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600)
done
