#!/usr/bin/env bash
# Builds Maravex twice and runs every test of both builds: with the widgets,
# and headless (-DKZ_WITH_UI=OFF) under AddressSanitizer and
# UndefinedBehaviorSanitizer, so the sanitizers cost no build of their own.
# Warnings are errors. JOBS sets the parallelism (default: every core).
#
# A failure in one half (its layer check, its build or any of its tests)
# never keeps the other half from running: the run goes on to the end, then
# lists every failure of both halves and ends with status 1.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/deps.sh || exit 1

failures=()
# Before anything is built: no include may point up a layer, and no headless
# file may include a widget header (ARCHITECTURE.md).
python3 scripts/check-layers.py || failures+=("layer check (scripts/check-layers.py)")

jobs=${JOBS:-$(nproc)}
source scripts/ccache-launcher.sh

for variant in full headless; do
  dir="build/$variant"
  options=(-DKZ_WITH_UI=ON -DKZ_SANITIZE=OFF)
  [ "$variant" = headless ] && options=(-DKZ_WITH_UI=OFF -DKZ_SANITIZE=ON)
  echo "== $variant: build"
  if ! cmake --log-level=NOTICE -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WERROR=ON \
    "${options[@]}" "${launcher[@]}"; then
    failures+=("$variant: configuring failed, no test ran")
    continue
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    failures+=("$variant: the build failed, no test ran")
    continue
  fi
  echo "== $variant: tests"
  # ctest leaves the previous run's list when every test passes.
  failedList="$dir/Testing/Temporary/LastTestsFailed.log"
  rm -f "$failedList"
  if ! (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600); then
    listed=0
    if [ -s "$failedList" ]; then
      while IFS= read -r line; do
        failures+=("$variant: ${line#*:}")
        listed=1
      done < "$failedList"
    fi
    [ "$listed" = 1 ] || failures+=("$variant: ctest failed (see its output above)")
  fi
done

echo
if ((${#failures[@]})); then
  echo "FAILED (${#failures[@]}):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "Every test of both builds passed."
