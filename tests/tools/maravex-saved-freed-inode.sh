#!/usr/bin/env bash
# A saved result whose searched folder was deleted, its inode number since
# given to a newcomer in the same folder (ext4 hands a freed number to the
# next item made beside it at once): the removal tool takes no newcomer for
# the folder, and says that none of the saved result's folders can be found.
# Run where inodes are reused: the temporary folder's disk, else the
# checkout's, else (as root) an ext4 image of its own; said and left out
# where none can be had.
set -euo pipefail
search=$1
remove=$2
checkout_disk=$3

if [ "${MARAVEX_FREED_INODE_DISK:-}" = "" ]; then
  . "$(dirname "$0")/search-tool-test.sh"
fi
status=0
fail() { echo "$*"; status=1; }

# Whether a folder made in $1 hands its freed inode to the next file.
reuses_inodes() {
  local probe inode reused=1
  probe=$(mktemp -d "$1/probe.XXXXXX") || return 1
  inode=$(stat -c %i "$probe")
  rmdir "$probe"
  : > "$1/taker"
  [ "$(stat -c %i "$1/taker")" = "$inode" ] || reused=0
  rm -f "$1/taker"
  [ "$reused" = 1 ]
}

if [ "${MARAVEX_FREED_INODE_DISK:-}" != "" ]; then
  base=$MARAVEX_FREED_INODE_DISK
else
  base=
  for parent in "${TMPDIR:-/tmp}" "$checkout_disk"; do
    candidate=$(mktemp -d "$parent/maravex-freed-inode.XXXXXX" 2> /dev/null) || continue
    if reuses_inodes "$candidate"; then
      base=$candidate
      trap 'rm -rf "$work" "$base"' EXIT
      break
    fi
    rm -rf "$candidate"
  done
  if [ -z "$base" ]; then
    # As root: an ext4 image of its own, mounted only in a mount namespace
    # of this run's.
    if [ "$(id -u)" -eq 0 ] && command -v mkfs.ext4 > /dev/null && command -v unshare > /dev/null; then
      image="$work/disk.img"
      mkdir -p "$work/at"
      if truncate -s 64M "$image" && mkfs.ext4 -q "$image" 2> /dev/null; then
        unshare -m --propagation private bash -c '
          mount -o loop "$1" "$2" 2> /dev/null || exit 77
          MARAVEX_FREED_INODE_DISK=$2 work=$3 HOME=$HOME bash "$4" "$5" "$6" "$7"' _ \
          "$image" "$work/at" "$work" "$0" "$search" "$remove" "$checkout_disk" && exit 0 || rc=$?
        [ "$rc" = 77 ] || exit "$rc"
      fi
    fi
    echo "(no disk here hands a freed inode number out again: the case is left out)"
    exit 0
  fi
fi
echo "(on $(stat -f -c %T "$base") at $base)"

pair() { mkdir -p "$(dirname "$1")" "$(dirname "$2")"; printf '%s' "$3" > "$1"; printf '%s' "$3" > "$2"; }

# $1: "file" or "folder", the newcomer made on the searched folder's inode.
for newcomer in file folder; do
  rm -rf "${base:?}"/*
  pair "$base/searched/a.txt" "$base/searched/b.txt" "a pair"
  mkdir -p "$base/results"
  "$search" --save "$base/results/saved.maravex" "$base/searched" > /dev/null 2> "$work/err" \
    || { cat "$work/err"; exit 1; }
  inode=$(stat -c %i "$base/searched")
  rm -rf "$base/searched"
  took=
  for i in $(seq 0 15); do
    if [ "$newcomer" = file ]; then : > "$base/newcomer $i"; else mkdir "$base/newcomer $i"; fi
    if [ "$(stat -c %i "$base/newcomer $i")" = "$inode" ]; then took="$base/newcomer $i"; break; fi
  done
  if [ -z "$took" ]; then
    echo "(the freed inode went to no $newcomer: that case is left out)"
    continue
  fi
  rc=0
  "$remove" --trash --saved "$base/results/saved.maravex" > "$work/out" 2> "$work/err" || rc=$?
  [ "$rc" = 1 ] || fail "a $newcomer on the searched folder's inode: exit $rc, not 1: $(cat "$work/out" "$work/err")"
  grep -q "none of the saved result's folders can be found" "$work/err" \
    || fail "a $newcomer on the searched folder's inode: not told that no folder can be found: $(cat "$work/err")"
  grep -q "outside the searched folders" "$work/err" \
    && fail "a $newcomer on the searched folder's inode was taken for the searched folder: $(cat "$work/err")"
  [ -e "$took" ] || fail "the $newcomer on the searched folder's inode went"
done

# The searched folder renamed in its own folder is still followed.
rm -rf "${base:?}"/*
pair "$base/searched/a.txt" "$base/searched/b.txt" "a pair"
mkdir -p "$base/results"
"$search" --save "$base/results/saved.maravex" "$base/searched" > /dev/null 2> "$work/err" \
  || { cat "$work/err"; exit 1; }
mv "$base/searched" "$base/renamed"
rc=0
"$remove" --trash --saved "$base/results/saved.maravex" > "$work/out" 2> "$work/err" || rc=$?
grep -q "none of the saved result's folders can be found" "$work/err" \
  && fail "the searched folder renamed was not followed: $(cat "$work/err")"
exit $status
