#!/usr/bin/env bash
# Starts Maravex, with the folders given as arguments as its first sources.
# Installs what is missing, and builds a Release tree when there is none or
# when a source changed since the last build. JOBS sets the build's
# parallelism (default: every core).
set -euo pipefail

# Folders are resolved before changing into the checkout, so that relative
# paths keep meaning what the caller meant.
folders=()
for f in "$@"; do
  folders+=("$(realpath -s -- "$f")")
done

cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=${JOBS:-$(nproc)}
source scripts/ccache-launcher.sh

dir=build/release
if [ ! -f "$dir/build.ninja" ]; then
  echo "Building Maravex for the first time; this takes several minutes."
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKZ_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
fi
# Ninja rebuilds only what is stale; an up-to-date tree costs a second.
cmake --build "$dir" --target maravex -j "$jobs"

exec "$dir/src/maravex" "${folders[@]}"
