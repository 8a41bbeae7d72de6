#!/usr/bin/env bash
# Runs the tests of a build (default build/full) while the machine holds a
# FUSE disk whose daemon is stopped and one whose daemon is dead, as a test
# that timed out, or a daemon another test is taking down, leaves them. No
# test and no part of the program may wait on a disk it was not asked
# about: whatever hangs here would hang a whole CI run. Needs root (loop
# devices, mounts); everything happens in a mount namespace of its own.
#
#   scripts/stalled-fuse.sh [BUILD_DIR] [ctest options...]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build=${1:-build/full}
shift || true
if [ "$(id -u)" -ne 0 ]; then
  echo "needs root to attach and mount disks" >&2
  exit 1
fi
[ -f "$build/CTestTestfile.cmake" ] || { echo "no build at $build" >&2; exit 1; }
build=$(realpath "$build")

exec unshare -m --propagation private bash -s "$build" "$@" <<'INNER'
build=$1
shift
work=$(mktemp -d /var/tmp/maravex-stalled.XXXXXX)
daemons=() devices=()
cleanup() {
  # A daemon is let go only once its mount is gone: one that ends with its
  # mount still there can hold every mount and sync of the machine.
  kill -CONT "${daemons[@]}" 2>/dev/null
  umount -l "$work/stalled" "$work/dead" 2>/dev/null
  for device in "${devices[@]}"; do losetup -d "$device" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
for name in stalled dead; do
  truncate -s 16M "$work/$name.img" && mkfs.exfat "$work/$name.img" >/dev/null || exit 1
  device=$(losetup -f --show "$work/$name.img") || exit 1
  devices+=("$device")
  mkdir "$work/$name"
  mount.exfat-fuse "$device" "$work/$name" >/dev/null 2>&1 || { echo "exFAT through FUSE is not available" >&2; exit 1; }
  daemon=$(pgrep -f "exfat-fuse $device $work/$name\$" | head -1)
  [ -n "$daemon" ] || exit 1
  daemons+=("$daemon")
done
kill -STOP "${daemons[0]}"
kill -KILL "${daemons[1]}"
echo "(a FUSE disk whose daemon is stopped at $work/stalled, one whose daemon is dead at $work/dead)"
cd "$build" && env -u DISPLAY -u WAYLAND_DISPLAY -u XAUTHORITY QT_QPA_PLATFORM=offscreen \
  ctest --output-on-failure -j "${JOBS:-$(nproc)}" --timeout 120 "$@" </dev/null
INNER
