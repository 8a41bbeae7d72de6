#!/usr/bin/env bash
# Builds the engine's, the platform layer's and the removal's tests and
# maravex-search with ThreadSanitizer (build/tsan, headless) and runs them:
# the tests (the platform's hand the engine's work to Qt's pools and main
# loop; the removal's run the per-item steps under the batch's lock, the
# journal's flusher, the restore engine's queue and the bookmark queue), then the
# search tool over a generated tree of 20,000 files, several times and with every hashing thread
# the machine has. Any report ends the run with a failure; the suppressions in
# tests/support/tsan.supp name only Qt's own internals, which are not
# instrumented, and glibc's locked time-zone reads. A third build of the engine does not fit CI's time budget
# beside the two builds of scripts/test.sh, so this runs on its own:
#
#   scripts/tsan.sh            # JOBS sets the build's parallelism, RUNS the tool's runs (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
runs=${RUNS:-5}
started=$(date +%s)
# Where the run stands, for every stage's heading.
elapsed() {
  local s=$(($(date +%s) - started))
  printf '%d min %02d s' $((s / 60)) $((s % 60))
}
source scripts/ccache-launcher.sh

dir=build/tsan
cmake --log-level=NOTICE -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WERROR=ON \
  -DKZ_WITH_UI=OFF -DKZ_SANITIZE=OFF -DKZ_SANITIZE_THREAD=ON "${launcher[@]}"
cmake --build "$dir" -j "$jobs" --target kz_engine_tests kz_platform_tests kz_removal_tests kz_resultfiles_tests maravex-search

# halt_on_error: the first report fails the run; second_deadlock_stack helps
# read a lock-order report.
export TSAN_OPTIONS="suppressions=$PWD/tests/support/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen
# Qt gives every thread it starts an event dispatcher; GLib's (the default)
# hands its memory between threads under locks of its own that the
# sanitizer cannot see, and GLib is not instrumented. Qt's own dispatcher
# keeps GLib out of the runs, and every lock the sanitizer sees.
export QT_NO_GLIB=1

for suite in kz_platform_tests kz_engine_tests; do
  echo "== $suite ($(elapsed))"
  "$dir/tests/$suite" --gtest_brief=1
done
# The removal's disk cases do their work in forked children, which start a
# pool of threads of their own: the parent's do not exist there. Left out:
# - the tests' own FUSE harness: it tests no code of the program's, and its
#   check of what a child leaves behind fails under the sanitizer (the
#   child's note of the folder it made comes back empty), a cause not traced;
# - the table of every step killed (two fifths of the suite's time here): it
#   mounts disks and counts a traced child's calls, and its jobs are the
#   ones the other cases run in this very process with all their threads,
#   while a report in a child killed part-way goes with the child;
# - the reading of an undo file larger than the whole reading takes: half a
#   minute of parsing a generated file on one thread;
# - a Restore killed on a FAT stick and finished after a replug: fusefat
#   dates a renamed entry with the time of the rename, seen after the
#   replug, so that the case passes only where its steps fall within one of
#   FAT's two-second ticks; slowed by the sanitizer, they seldom do (it
#   fails at random without the sanitizer too).
removal_left_out='FuseHarness.*:LoopHarness.*:Table/KZEveryStepKilled.*'
removal_left_out+=':KZUndoFileStream.AnUndoFileLargerThanTheWholeReadingTakesIsRead'
removal_left_out+=':KZRenumberingDisk.ItemsAKilledRestorePutBackAfterAReplugAreBack'
echo "== kz_removal_tests ($(elapsed))"
TSAN_OPTIONS="$TSAN_OPTIONS die_after_fork=0" "$dir/tests/kz_removal_tests" --gtest_brief=1 --gtest_filter="-$removal_left_out"
# A reopening checks its records on many threads; its tests also run the
# command-line tools in children of a threaded process.
echo "== kz_resultfiles_tests ($(elapsed))"
TSAN_OPTIONS="$TSAN_OPTIONS die_after_fork=0" "$dir/tests/kz_resultfiles_tests" --gtest_brief=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state"
mkdir -p "$HOME"

# 20,000 files in 100 folders, of few sizes so that most meet others of
# their size: every seventh holds one of fifty shared contents, the rest
# differ in their last bytes; a few are hard links, a few symbolic links.
echo "== generating a tree of 20,000 files ($(elapsed))"
tree=$work/tree
for d in $(seq -w 0 99); do mkdir -p "$tree/d$d"; done
pad=$(head -c 60000 /dev/zero | tr '\0' 'p')
for i in $(seq 0 19999); do
  size=$(( (i % 5) * 9000 + 100 ))
  if (( i % 7 == 0 )); then tail="shared-$(( i % 50 ))"; else tail="own-$i"; fi
  printf -v folder %02d $(( i % 100 ))
  printf '%s%s' "${pad:0:size}" "$tail" > "$tree/d$folder/f$i"
done
for i in $(seq 0 199); do
  ln "$tree/d00/f$(( i * 100 ))" "$tree/d01/hard$i"
  ln -s "../d02/f$(( i * 100 + 2 ))" "$tree/d03/link$i"
done

for run in $(seq 1 "$runs"); do
  echo "== maravex-search over the tree, run $run of $runs ($(elapsed))"
  "$dir/bench/maravex-search" -0 "$tree" > "$work/out.$run"
  if (( run > 1 )) && ! cmp -s "$work/out.1" "$work/out.$run"; then
    echo "run $run printed other records than run 1" >&2
    exit 1
  fi
done
echo "ThreadSanitizer: no report ($(elapsed))"
