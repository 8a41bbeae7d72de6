#!/usr/bin/env bash
# Runs the random sequences of the removal model for N seeds from START on
# every disk kind (or on KIND alone: ext4, ext4_128, xfs, btrfs) and prints
# each seed that failed, with the kind it failed on. Needs root (the
# sequences attach loop disks) and a built build/full (BUILD names another
# build folder). The whole output is kept in the file named at the end.
#
#   scripts/model-seeds.sh 300            # seeds 0..299
#   scripts/model-seeds.sh 100 500 xfs    # seeds 500..599 on xfs
#   KZ_MODEL_SEED=222 build/full/tests/kz_removal_tests --gtest_filter='*KZRemovalModel.*'
#                                         # one seed alone, with its steps
set -uo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 1 || ! $1 =~ ^[0-9]+$ || ( $# -ge 2 && ! ${2:-} =~ ^[0-9]+$ ) ]]; then
  echo "usage: $0 N [START] [KIND]" >&2
  exit 2
fi
count=$1
start=${2:-0}
kind=${3:-*}
tests=${BUILD:-build/full}/tests/kz_removal_tests
if [[ ! -x $tests ]]; then
  echo "$tests is not built" >&2
  exit 2
fi

log=$(mktemp "${TMPDIR:-/tmp}/model-seeds-XXXXXX.log")
echo "seeds $start..$((start + count - 1)) on ${3:-every disk kind}"
env -u KZ_MODEL_SEED KZ_MODEL_SEEDS="$count" KZ_MODEL_FIRST_SEED="$start" QT_QPA_PLATFORM=offscreen \
  "$tests" --gtest_filter="Disks/KZRemovalModel.*/$kind" > "$log" 2>&1
status=$?

failed=$(grep -o 'model seed failed: [a-z0-9_]* [0-9]*' "$log" | sed 's/model seed failed: //' | sort -u -k1,1 -k2,2n)
if [[ -n $failed ]]; then
  echo "failing seeds (kind seed):"
  echo "$failed" | sed 's/^/  /'
elif [[ $status -ne 0 ]]; then
  echo "the run failed outside the sequences (status $status)"
elif grep -q 'SKIPPED' "$log"; then
  echo "skipped: $(grep -m1 -A1 'SKIPPED\|cannot be made' "$log" | tr '\n' ' ')"
else
  echo "no seed failed"
fi
grep -h 'sequences left out' "$log" || true
echo "output: $log"
[[ -z $failed && $status -eq 0 ]]
