#!/usr/bin/env bash
# scripts/test.sh with cmake and ctest played by stand-ins: a failure in one
# half (its build or one of its tests) never keeps the other half from
# running, and the run ends with a list of every failure of both and a
# failing status.
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$*"; status=1; }

mkdir -p "$work/tree/scripts" "$work/bin"
cp "$script" "$work/tree/scripts/test.sh"
printf '#!/bin/sh\nexit 0\n' > "$work/tree/scripts/deps.sh"
printf 'import os, sys\nsys.exit(1 if os.environ.get("FAIL_LAYERS") else 0)\n' > "$work/tree/scripts/check-layers.py"
printf 'launcher=()\n' > "$work/tree/scripts/ccache-launcher.sh"
chmod +x "$work/tree/scripts/"*
# cmake: the build named in FAIL_BUILD fails. ctest: the build named in
# FAIL_TESTS has two failing tests, listed where ctest lists them.
cat > "$work/bin/cmake" <<'SH'
#!/bin/sh
if [ "$1" = --build ]; then
  echo "built $2" >> "$LOG"
  [ "$2" = "build/$FAIL_BUILD" ] && exit 1
fi
exit 0
SH
cat > "$work/bin/ctest" <<'SH'
#!/bin/sh
variant=$(basename "$PWD")
echo "tested $variant" >> "$LOG"
if [ "$variant" = "$FAIL_TESTS" ]; then
  mkdir -p Testing/Temporary
  printf '3:first_test\n9:second_test\n' > Testing/Temporary/LastTestsFailed.log
  exit 8
fi
exit 0
SH
chmod +x "$work/bin/"*

run() {
  rm -rf "$work/tree/build"
  mkdir -p "$work/tree/build/full" "$work/tree/build/headless"
  : > "$work/log"
  code=0
  env PATH="$work/bin:$PATH" LOG="$work/log" JOBS=1 FAIL_BUILD="${1:-}" FAIL_TESTS="${2:-}" FAIL_LAYERS="${3:-}" \
    bash "$work/tree/scripts/test.sh" > "$work/out" 2>&1 || code=$?
}

# The widget build fails: the headless half is still built and tested, and
# both halves' failures are listed at the end.
run full headless
[ "$code" != 0 ] || fail "a failed build ended with success"
grep -q "tested headless" "$work/log" || fail "a failed widget build kept the headless tests from running: $(cat "$work/out")"
summary=$(sed -n '/^FAILED/,$p' "$work/out")
for line in "full: the build failed" "headless: first_test" "headless: second_test"; do
  grep -qF "$line" <<< "$summary" || fail "the summary lacks \"$line\": $(cat "$work/out")"
done

# A failing test of the first half and a failing layer check: the second
# half still runs, and the failures are listed.
run "" full 1
[ "$code" != 0 ] || fail "failing tests ended with success"
grep -q "tested headless" "$work/log" || fail "a failing test kept the headless half from running: $(cat "$work/out")"
summary=$(sed -n '/^FAILED/,$p' "$work/out")
for line in "layer check" "full: first_test" "full: second_test" "full on a disk: first_test" \
  "full without device serials: second_test"; do
  grep -qF "$line" <<< "$summary" || fail "the summary lacks \"$line\": $(cat "$work/out")"
done
grep -q "headless:" <<< "$summary" && fail "a passing half is listed: $summary"

# Nothing fails: both halves run and the status is 0.
run
[ "$code" = 0 ] || fail "a clean run failed: $(cat "$work/out")"
# Each half's tests run on the temporary folder, and its removal suites once
# more on a disk.
for variant in full headless; do
  grep -qx "tested $variant" "$work/log" || fail "the $variant half was not tested: $(cat "$work/log")"
done
grep -qvx "tested full\|tested headless\|built build/full\|built build/headless" "$work/log" &&
  fail "something besides the two halves was built or tested: $(cat "$work/log")"
exit $status
