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

started=$(date +%s)
# Where the run stands, for every stage's heading.
elapsed() {
  local s=$(($(date +%s) - started))
  printf '%d min %02d s' $((s / 60)) $((s % 60))
}

scripts/deps.sh || exit 1

failures=()
# Tests that failed once and passed when run again: listed at the end, so
# that a test that fails at random under load is seen and mended, not
# hidden, while it costs no run its other results.
second_tries=()

# The whole run keeps within a budget (minutes): every ctest run stops at
# its end, each test ends after ten minutes, and a run that would start
# after it is left out and listed as a failure. A test that hangs then ends
# as a failure with its output instead of a run that never ends.
budget=${MARAVEX_TEST_BUDGET:-80}
stop_at=$((started + budget * 60))
# ctest takes a local time of day; one already past means the same time
# tomorrow, which is what a budget that crosses midnight needs.
stop_time=$(date -d "@$stop_at" +%H:%M:%S)
time_left() { [ "$(date +%s)" -lt $((stop_at - 30)) ]; }

# The removal, Undo and Restore suites, and the app's and the results'
# (which save, reopen and follow items), run a second time with their
# temporary folders (and so the sandboxed home and its Trash) on the kind of
# disk users keep files on: the memory file system the other runs prefer
# gives no inode generation, syncs nothing and hands out a freed inode to no
# one. The cases that mount disks of every kind themselves run once there.
removal_suites='^kz_removal(_ui)?_tests$'
on_disk_suites='^kz_(removal|app|result_model|result_panes|result_window|resultfiles)(_ui)?_tests$'
mounts_own_disks='(^|/)KZ(ProofOnEveryDisk|RemovalModel|EveryStepKilled)\.'
# The cases that attach loop disks of their own, run again with devices that
# report no serial, as the usual USB stick's do.
loop_disk_cases='(^|/)KZ(ProofOnEveryDisk|RemovalModel|RemovalModelCase|DiskIdentity|TrashWithoutModes|RenumberingDisk|FuseRefusals)\.'
# The decisions about disks and items, which the ordinary user's run below
# takes beside the removal suites.
identity_cases='^(DiskDecision|IdentityDecision|FileIdentity)\.'

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
    # The image lies where the tests' ordinary user may reach it, as a
    # user's own disk does: a checkout in a folder private to root would
    # show root a hardware identity of the disk that this user cannot see.
    local image at
    image=$(mktemp /var/tmp/maravex-disk.XXXXXX) || return 1
    at=$(mktemp -d /tmp/maravex-disk.XXXXXX) || return 1
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
# Runs ctest in build folder $1, with the rest of the arguments, as the
# ordinary user 65534, where root passes checks of owner and permission and
# opens block devices that a user may not: with TMPDIR (and so the sandboxed
# home) on a disk without hardware identity, a fresh ext4 image on a loop
# device whose file is deleted once mounted. All of it happens in a mount
# namespace of this run's own, where each folder above the checkout that the
# user may not enter is shown through an open one, and ctest keeps its
# records in a folder of the user's; its list of failures is copied back.
# Status 77 when it cannot run here (not root, or no loop device).
ctest_as_ordinary_user() {
  local dir=$1
  shift
  if [ "$(id -u)" -ne 0 ]; then
    echo "(this run's user is an ordinary one already: the run as uid 65534 is left out)"
    return 77
  fi
  local at list status=0
  at=$(mktemp -d /tmp/maravex-user.XXXXXX) || return 1
  list=$(mktemp /tmp/maravex-user-failed.XXXXXX) || return 1
  unshare -m --propagation private bash -c '
    dir=$1 at=$2 list=$3
    shift 3
    as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    # Each folder above the checkout that the user may not enter: covered by
    # an open one that shows the next folder down, bound from where it is.
    here=
    IFS=/ read -ra parts <<< "${PWD#/}"
    for part in "${parts[@]}"; do
      if ! as_user test -x "${here:-/}"; then
        stash=$(mktemp -d "$at/reach.XXXXXX") &&
          mount --rbind "$here/$part" "$stash" &&
          mount -t tmpfs -o mode=0755 maravex-reach "${here:-/}" &&
          mkdir "$here/$part" && mount --rbind "$stash" "$here/$part" || {
          echo "(${here:-/} could not be opened to the user: the run as uid 65534 is left out)"
          exit 77
        }
      fi
      here=$here/$part
    done
    if ! as_user test -r "$dir/CTestTestfile.cmake"; then
      echo "(the build cannot be read by other users: the run as uid 65534 is left out)"
      exit 77
    fi
    image=$dir/user-disk.img
    rm -f "$image"
    if ! { truncate -s 4G "$image" && mkfs.ext4 -q "$image" && mount -o loop "$image" "$at"; }; then
      echo "(no ext4 image could be mounted here: the run as uid 65534 is left out)"
      exit 77
    fi
    rm -f "$image"
    chmod 1777 "$at"
    mkdir -p "$dir/Testing" && mount -t tmpfs -o mode=0755,uid=65534,gid=65534 maravex-testing "$dir/Testing" || exit 77
    echo "(as uid 65534, temporary folders on an ext4 image without hardware identity at $at)"
    status=0
    (cd "$dir" && as_user env HOME="$at" TMPDIR="$at" "$@") || status=$?
    cp "$dir/Testing/Temporary/LastTestsFailed.log" "$list" 2>/dev/null
    exit "$status"' _ "$dir" "$at" "$list" "$@" || status=$?
  rm -r --one-file-system "$at"
  rm -f "$dir/user-disk.img"
  mkdir -p "$dir/Testing/Temporary"
  if [ -s "$list" ]; then mv "$list" "$dir/Testing/Temporary/LastTestsFailed.log"; else rm -f "$list"; fi
  return "$status"
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

# Runs one ctest run of build folder $2, named $1 in the lists, through the
# wrapper $3 (plain, ctest_on_disk or ctest_as_ordinary_user); after "--",
# the kernel that MARAVEX_TEST_KERNEL makes the tests see (empty for this
# one) and ctest's own options. The tests get no display, no terminal and
# no input from whatever started this run; a test that fails is run once
# more, and one that passes then is listed apart.
plain() {
  local dir=$1
  shift
  (cd "$dir" && "$@")
}
run_tests() {
  local name=$1 dir=$2 wrapper=$3
  shift 4
  local kernel=$1
  shift
  echo "== $name ($(elapsed))"
  if ! time_left; then
    failures+=("$name: left out, the run's budget of $budget minutes was spent")
    return
  fi
  rm -f "$failedList"
  local log status=0
  log=$(mktemp /tmp/maravex-ctest.XXXXXX)
  "$wrapper" "$dir" env -u DISPLAY -u WAYLAND_DISPLAY -u XAUTHORITY \
    QT_QPA_PLATFORM=offscreen ${kernel:+MARAVEX_TEST_KERNEL=$kernel} \
    ctest --output-on-failure -j "$jobs" --timeout 600 --stop-time "$stop_time" \
    --repeat until-pass:2 "$@" </dev/null 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  case $status in
    0 | 77) ;;
    *) list_failures "$name" "$failedList" ;;
  esac
  # A test that failed once and is not on ctest's list passed its second try.
  local test
  while IFS= read -r test; do
    if ! grep -qsF -- ":$test" "$failedList" 2>/dev/null || [ "$status" = 0 ]; then
      second_tries+=("$name: $test")
    fi
  done < <(sed -nE 's/^ *([0-9]+\/[0-9]+ )?Test +#[0-9]+: ([^ ]+) \.+\*\*\*(Failed|Timeout|Exception).*/\2/p' "$log" | sort -u)
  rm -f "$log"
  detach_left_disks
}
# The disk cases attach images in their temporary folders ("kztest-…") to
# loop devices; one whose case ended past its clean-up (a child killed on
# purpose, or a failure) stays attached, its image gone with the case's
# folder. Once a run has ended, each such device is let go: one still
# mounted somewhere goes once it is unmounted. An image that is still there
# may be a case's of another run on this machine, and is left alone.
detach_left_disks() {
  local device file
  while read -r device file; do
    case $file in
      */kztest-*" (deleted)") losetup -d "$device" 2>/dev/null || true ;;
    esac
  done < <(losetup -n -l -O NAME,BACK-FILE 2>/dev/null || true)
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
  echo "== $variant: build ($(elapsed))"
  if ! cmake --log-level=NOTICE -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZ_WERROR=ON \
    "${options[@]}" "${launcher[@]}"; then
    failures+=("$variant: configuring failed, no test ran")
    continue
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    failures+=("$variant: the build failed, no test ran")
    continue
  fi
  failedList="$dir/Testing/Temporary/LastTestsFailed.log"
  run_tests "$variant" "$dir" plain -- ""
  # The removal, Undo and Restore suites, and the app's and the results',
  # once more with their temporary folders on a disk.
  run_tests "$variant on a disk" "$dir" ctest_on_disk -- "" -L "$on_disk_suites" -E "$mounts_own_disks"
  # The usual USB stick reports no serial: its disk is told by its file
  # system's identity alone, and a byte copy of it shares that. The
  # removal model's sequences of each such run start at seeds of its own,
  # so that the runs together try more of them in the same time.
  KZ_MODEL_FIRST_SEED=40 run_tests "$variant without device serials" "$dir" plain -- no-device-serial \
    -L "$removal_suites" -R "$loop_disk_cases"
  # And on a kernel before 6.8 besides: then no mount tells such a disk
  # from its copy either, once the program starts again.
  KZ_MODEL_FIRST_SEED=80 run_tests "$variant without device serials or unique mount IDs" "$dir" plain -- \
    no-device-serial,no-unique-mount-id -L "$removal_suites" -R "$loop_disk_cases"
  run_tests "$variant removal tests as an ordinary user" "$dir" ctest_as_ordinary_user -- "" \
    -L "$removal_suites"
  # That user on a kernel before 6.8, where a disk without an identity of
  # its own is only "the disk or a copy" to the next start of the program.
  run_tests "$variant removal tests as an ordinary user without unique mount IDs" "$dir" \
    ctest_as_ordinary_user -- no-unique-mount-id -L "$removal_suites"
  run_tests "$variant identity decisions as an ordinary user" "$dir" ctest_as_ordinary_user -- "" \
    -R "$identity_cases"
  # Once more as on a kernel before 6.8 (Debian 12's), which gives no mount
  # ID that lasts: a disk is then told by what it is, never by its mount.
  run_tests "$variant without unique mount IDs" "$dir" plain -- no-unique-mount-id \
    -L "$removal_suites" -E "$mounts_own_disks"
done

echo
echo "== done ($(elapsed))"
if ((${#second_tries[@]})); then
  echo "Passed only when run a second time (${#second_tries[@]}):"
  printf '  %s\n' "${second_tries[@]}"
fi
if ((${#failures[@]})); then
  echo "FAILED (${#failures[@]}):"
  printf '  %s\n' "${failures[@]}"
  # What a hang leaves behind, for whoever reads this run's output.
  echo "Processes waiting on a disk:"
  ps -eo pid,stat,etime,wchan:24,args 2>/dev/null | awk 'NR == 1 || $2 ~ /^D/' | head -20
  echo "FUSE mounts:"
  grep -E ' - fuse' /proc/self/mountinfo | head -20
  df -h / /tmp 2>/dev/null
  exit 1
fi
echo "Every test of both builds passed."
