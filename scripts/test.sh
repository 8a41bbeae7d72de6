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

# The removal, Undo and Restore suites run a second time with their
# temporary folders (and so the sandboxed home and its Trash) on the kind of
# disk users keep files on: the memory file system the other runs prefer
# gives no inode generation, syncs nothing and hands out inodes its own way.
# The cases that mount disks of every kind themselves run once.
removal_suites='^kz_removal(_ui)?_tests$'
mounts_own_disks='(^|/)KZ(ProofOnEveryDisk|RemovalModel)\.'

# A folder whose file system is no memory one, that the tests' ordinary user
# (uid 65534) can write into as into /tmp; nothing when there is none.
disk_folder() {
  local candidate
  for candidate in "$PWD/build/disk-tmp" /var/tmp/maravex-disk-tmp; do
    mkdir -p "$candidate" && chmod 1777 "$candidate" || continue
    case "$(stat -f -c %T "$candidate")" in tmpfs | ramfs | overlayfs) continue ;; esac
    if [ "$(id -u)" -eq 0 ] && ! setpriv --reuid=65534 --regid=65534 --clear-groups test -w "$candidate" 2>/dev/null; then
      continue
    fi
    echo "$candidate"
    return 0
  done
  return 1
}

# Runs ctest in build folder $1 with the rest of the arguments, with TMPDIR on
# a disk: as root a fresh ext4 image on a loop device, mounted only in a mount
# namespace of this run's own; otherwise (or where no loop device can be had)
# the checkout's own disk.
ctest_on_disk() {
  local dir=$1
  shift
  if [ "$(id -u)" -eq 0 ]; then
    local image="$dir/disk.img" at
    at=$(mktemp -d /tmp/maravex-disk.XXXXXX) || return 1
    rm -f "$image"
    local status=0
    unshare -m --propagation private bash -c '
      image=$1 at=$2 dir=$3
      shift 3
      truncate -s 4G "$image" && mkfs.ext4 -q "$image" && mount -o loop "$image" "$at" || exit 77
      chmod 1777 "$at"
      echo "(temporary folders on an ext4 image at $at)"
      cd "$dir" && TMPDIR=$at "$@"' _ "$image" "$at" "$dir" "$@" || status=$?
    rm -f "$image"
    rmdir "$at"
    [ "$status" = 77 ] || return "$status"
  fi
  local folder
  if ! folder=$(disk_folder); then
    echo "(no disk folder here for the temporary folders: the run on a disk is left out)"
    return 0
  fi
  echo "(temporary folders in $folder, on $(stat -f -c %T "$folder"))"
  (cd "$dir" && TMPDIR=$folder "$@")
}
# Adds to the failures each test that ctest's list $2 names, under the run's
# name $1; the run alone where ctest listed none (a crash of ctest itself).
list_failures() {
  local run=$1 list=$2 line listed=0
  if [ -s "$list" ]; then
    while IFS= read -r line; do
      failures+=("$run: ${line#*:}")
      listed=1
    done < "$list"
  fi
  [ "$listed" = 1 ] || failures+=("$run: ctest failed (see its output above)")
}

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
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600) ||
    list_failures "$variant" "$failedList"
  echo "== $variant: removal tests on a disk"
  rm -f "$failedList"
  if ! QT_QPA_PLATFORM=offscreen ctest_on_disk "$dir" ctest --output-on-failure -j "$jobs" --timeout 600 \
    -L "$removal_suites" -E "$mounts_own_disks"; then
    list_failures "$variant on a disk" "$failedList"
  fi
  # Once more as on a kernel before 6.8 (Debian 12's), which gives no mount
  # ID that lasts: a disk is then told by what it is, never by its mount.
  echo "== $variant: removal tests without unique mount IDs"
  rm -f "$failedList"
  (cd "$dir" && MARAVEX_TEST_KERNEL=no-unique-mount-id QT_QPA_PLATFORM=offscreen \
    ctest --output-on-failure -j "$jobs" --timeout 600 -L "$removal_suites" -E "$mounts_own_disks") ||
    list_failures "$variant without unique mount IDs" "$failedList"
done

echo
if ((${#failures[@]})); then
  echo "FAILED (${#failures[@]}):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "Every test of both builds passed."
