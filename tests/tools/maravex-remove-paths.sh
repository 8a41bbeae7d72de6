#!/usr/bin/env bash
# The search and removal tools as a user runs them: relative paths name the
# same items from any working folder, a photo library keeps every picture,
# and every marked item is reported on one line with its whole path.
set -euo pipefail
search=$1
remove=$2
maker=$3
. "$(dirname "$0")/search-tool-test.sh"
status=0
fail() { echo "$*"; status=1; }
removed() { grep -c "^removed"$'\t' "$1" || true; }
pair() { mkdir -p "$(dirname "$1")" "$(dirname "$2")"; printf '%s' "$3" > "$1"; printf '%s' "$3" > "$2"; }

# A result saved from a relative folder to a relative file is removed from
# another working folder.
pair "$work/one/a.txt" "$work/one/b.txt" "first pair"
pair "$work/one/c.bin" "$work/one/sub/d.bin" "second pair"
mkdir -p "$work/elsewhere" "$work/results"
(cd "$work" && "$search" --save results/one.maravex one > /dev/null 2> "$work/err") || { cat "$work/err"; exit 1; }
(cd "$work/elsewhere" && "$remove" --trash --saved ../results/one.maravex > "$work/out" 2> "$work/err") \
  || fail "removing a saved result from another folder failed: $(cat "$work/err")"
[ "$(removed "$work/out")" = 2 ] || fail "saved relative: $(cat "$work/out" "$work/err")"
cut -f3 "$work/out" | grep -qv "^$work/one/" && fail "a reported path is not absolute: $(cat "$work/out")"

# A saved result is days old: a kept copy rewritten in place since, with its
# old size and date, keeps its twin where it is.
pair "$work/four/old.txt" "$work/four/kept.txt" "sixth pair"
touch -d 2020-01-01 "$work/four/old.txt"
"$search" --save "$work/results/four.maravex" "$work/four" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
stamp=$(stat -c %y "$work/four/kept.txt")
printf 'other pair' > "$work/four/kept.txt"
touch -d "$stamp" "$work/four/kept.txt"
"$remove" --trash --saved "$work/results/four.maravex" > "$work/out" 2> "$work/err" || true
[ "$(removed "$work/out")" = 0 ] && [ "$(cat "$work/four/old.txt")" = "sixth pair" ] \
  || fail "a rewritten kept copy let its twin go: $(cat "$work/out" "$work/err")"

# The removal tool's start too removes what killed runs of the tools left
# in the temporary folder, and only that.
mkdir -p "$work/tmp"
sh -c 'exit 0' & dead=$!
wait "$dead" || true
mkdir -p "$work/tmp/maravex-remove-$dead-aB3dE9" "$work/tmp/maravex-sqlite-$dead-aB3dE9" "$work/tmp/maravex-remove-$$-aB3dE9"
TMPDIR=$work/tmp "$remove" --trash --saved "$work/results/four.maravex" > /dev/null 2>&1 || true
[ "$(cd "$work/tmp" && ls)" = "maravex-remove-$$-aB3dE9" ] \
  || fail "what killed runs left in the temporary folder: $(ls "$work/tmp")"

# Saving onto a pipe fails, says why, and leaves the pipe.
pair "$work/piped/a.txt" "$work/piped/b.txt" "piped pair"
mkfifo "$work/results/pipe"
if "$search" --save "$work/results/pipe" "$work/piped" > /dev/null 2> "$work/err"; then
  fail "saving onto a pipe answered success"
fi
grep -q "not a regular file" "$work/err" || fail "saving onto a pipe did not say why: $(cat "$work/err")"
[ -p "$work/results/pipe" ] || fail "saving onto a pipe replaced it"

# A relative folder and a relative destination: every marked item moves,
# none is taken for changed.
pair "$work/two/a.txt" "$work/two/b.txt" "third pair"
mkdir -p "$work/moved"
(cd "$work" && "$remove" --move-to ./moved/ two > "$work/out" 2> "$work/err") || true
[ "$(removed "$work/out")" = 1 ] && [ "$(find "$work/moved" -type f | wc -l)" = 1 ] \
  || fail "relative move: $(cat "$work/out" "$work/err")"

# A photo library named on the command line is searched as the library: no
# picture leaves the package, to the Trash or to a folder, also through a
# link; a folder inside it is refused.
python3 -I -S "$maker" "$work/media" --images 20 --tracks 0 > /dev/null
library=$work/media/Pictures.photoslibrary
ln -s "$library" "$work/media/link"
(cd "$library" && find . | sort) > "$work/before"
for run in "--trash $library" "--move-to $work/moved $library" "--trash $work/media/link"; do
  # shellcheck disable=SC2086
  "$remove" $run > "$work/out" 2> "$work/err" || true
  (cd "$library" && find . | sort) > "$work/after"
  cmp -s "$work/before" "$work/after" || fail "$run moved pictures: $(diff "$work/before" "$work/after")"
  [ "$(removed "$work/out")" = 0 ] || fail "$run reports pictures removed: $(cat "$work/out")"
done
# Nobody is there to ask how the library's pictures are compared: the
# remover takes the search tool's answer, their bytes, and says so; what it
# sets for the run (also --level) leaves the user's preferences as they were.
prefs=$XDG_CONFIG_HOME/maravex/defaults.plist
before=$(cksum "$prefs" 2> /dev/null || echo none)
"$remove" --trash --level 0 "$library" > "$work/out" 2> "$work/err" || true
grep -q "^pictures compared by their bytes (preference ask" "$work/err" \
  || fail "the remover compares pictures otherwise than the search tool: $(cat "$work/err")"
grep -q "Compare pictures by what they show" "$work/err" && fail "the remover asked how pictures are compared: $(cat "$work/err")"
[ "$(cksum "$prefs" 2> /dev/null || echo none)" = "$before" ] || fail "a run changed the user's preferences"
if "$remove" --trash "$library/Masters" > "$work/out" 2> "$work/err"; then
  fail "a folder inside the library was searched as a folder"
fi
grep -q "inside a photo library" "$work/err" || fail "no reason given: $(cat "$work/err")"

# A destination that is not there stops the removal before anything moves:
# the run fails and names the folder.
pair "$work/five/a.txt" "$work/five/b.txt" "seventh pair"
if "$remove" --move-to "$work/nowhere" "$work/five" > "$work/out" 2> "$work/err"; then
  fail "a removal to a missing destination ended with success"
fi
grep -q "destination folder .$work/nowhere. cannot be found" "$work/err" \
  || fail "the missing destination is not named: $(cat "$work/err")"
grep -q "One item could not be found" "$work/err" && fail "the destination is called an item: $(cat "$work/err")"
[ -f "$work/five/a.txt" ] && [ -f "$work/five/b.txt" ] || fail "an item moved to a missing destination"

# A file where the destination folder should be is told as no folder.
printf 'a file' > "$work/plain-file"
if "$remove" --move-to "$work/plain-file" "$work/five" > "$work/out" 2> "$work/err"; then
  fail "a removal to a file ended with success"
fi
grep -q "destination .$work/plain-file. is not a folder" "$work/err" || fail "the file is not called no folder: $(cat "$work/err")"
grep -q "cannot be found" "$work/err" && fail "a file there was called not found: $(cat "$work/err")"
[ -f "$work/five/a.txt" ] && [ -f "$work/five/b.txt" ] && [ "$(cat "$work/plain-file")" = "a file" ] \
  || fail "a removal to a file moved something"

# What kept items from their destination is said in words, not as keys.
pair "$work/six/p/n1" "$work/six/q/n1" "eighth pair"
pair "$work/six/p/n2" "$work/six/q/n2" "ninth pair"
mkdir -p "$work/full-dest"
printf 'taken' > "$work/full-dest/n1"
printf 'taken' > "$work/full-dest/n2"
"$remove" --move-to "$work/full-dest" "$work/six" > "$work/out" 2> "$work/err" || true
grep -q "^2 items were not moved because the destination already holds items of those names" "$work/err" \
  || fail "the kept items are not told in words: $(cat "$work/out" "$work/err")"
grep -qE "^[a-z_]+_(sing|plur)( |$)" "$work/err" && fail "a key was printed for its text: $(cat "$work/err")"

# A saved search that cannot be read searches nothing: the run fails, as
# the help says, and does not pass for a search of an empty tree.
printf 'not a saved search' > "$work/bad.savedSearch"
rc=0
"$remove" --trash "$work/bad.savedSearch" > "$work/out" 2> "$work/err" || rc=$?
[ "$rc" = 1 ] && grep -q "nothing could be searched" "$work/err" \
  || fail "an unreadable saved search alone: status $rc (1 expected): $(cat "$work/err")"

# A rule the tool cannot follow is refused as --rule x is, before anything
# is searched; a swap needs the marks of a saved result.
for rule in 999 -1 0 4 7; do
  rc=0
  "$remove" --rule "$rule" --trash "$work/five" > "$work/out" 2> "$work/err" || rc=$?
  [ "$rc" = 2 ] && grep -q "^maravex-remove: --rule" "$work/err" && [ ! -s "$work/out" ] \
    || fail "--rule $rule: status $rc (2 expected): $(cat "$work/err")"
done
[ -f "$work/five/a.txt" ] && [ -f "$work/five/b.txt" ] || fail "a refused rule removed something"
{ "$remove" --help 2>&1 || true; } | grep -q -- "--rule N  *how the items are marked" || fail "--help does not list the rules"
# A rule it follows marks as --help says: 3 keeps the oldest copy.
pair "$work/seven/a.txt" "$work/seven/b.txt" "tenth pair"
touch -d 2020-01-01 "$work/seven/a.txt"
"$remove" --rule 3 --trash "$work/seven" > "$work/out" 2> "$work/err" || true
[ "$(cat "$work/out")" = "removed"$'\t'"trash"$'\t'"$work/seven/b.txt" ] || fail "--rule 3: $(cat "$work/out" "$work/err")"

# A name with a newline is one escaped record, as --help says. The older
# copy is the one marked.
mkdir -p "$work/three"
printf 'fourth pair' > "$work/three/new"$'\n'"line"
printf 'fourth pair' > "$work/three/plain"
touch -d 2020-01-01 "$work/three/new"$'\n'"line"
"$remove" --trash "$work/three" > "$work/out" 2> /dev/null || true
[ "$(cat "$work/out")" = "removed"$'\t'"trash"$'\t'"$work/three/new\\nline" ] || fail "not one escaped record: $(cat "$work/out")"
{ "$remove" --help 2>&1 || true; } | grep -q 'escaped as \\n' || fail "--help does not say how paths are escaped"

# A path longer than the system takes in one piece is still reported whole.
python3 -I -S - "$work/long" <<'PY'
import os, sys
os.makedirs(sys.argv[1])
fd = os.open(sys.argv[1], os.O_RDONLY)
for _ in range(22):
    os.mkdir("d" * 200, dir_fd=fd)
    inner = os.open("d" * 200, os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = inner
for name in ("a.txt", "b.txt"):
    f = os.open(name, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(f, b"fifth pair")
    os.close(f)
PY
deep=$work/long$(printf '/%s' $(for _ in $(seq 22); do printf 'd%.0s' $(seq 200); echo; done))
"$remove" --trash "$work/long" > "$work/out" 2> /dev/null || true
path=$(cut -f3 "$work/out")
[ "$path" = "$deep/a.txt" ] || [ "$path" = "$deep/b.txt" ] || fail "long path reported as '${path:0:80}'"

# A tree with /proc, /sys and /dev mounted inside it (a search of "/" in
# small): the kernel's own file systems hold no user files, so nothing there
# is listed, let alone marked; and a source on one is refused with its reason.
if "$search" /proc/bus /sys/bus > "$work/out" 2> "$work/err"; then
  fail "sources on the kernel's own file systems were searched: $(head -c 300 "$work/out")"
fi
grep -q "system's own file systems" "$work/err" || fail "no reason given: $(cat "$work/err")"
[ -s "$work/out" ] && fail "found on the kernel's own file systems: $(head -c 300 "$work/out")"
if [ "$(id -u)" = 0 ] && unshare -m true 2> /dev/null; then
  root=$work/root
  mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/home"
  printf 'user pair' > "$root/home/a"
  printf 'user pair' > "$root/home/b"
  # shellcheck disable=SC2016
  unshare -m sh -c 'mount --make-rprivate / && mount -t proc proc "$1/proc" && mount --bind /sys "$1/sys" \
    && mount --bind /dev "$1/dev" && exec "$2" "$3" "$1"' sh "$root" "$remove" --trash > "$work/out" 2> "$work/err" \
    || true
  grep -qE "$root/(proc|sys|dev)/" "$work/out" && fail "kernel files offered for removal: $(grep -E "$root/(proc|sys|dev)/" "$work/out" | head -5)"
  [ "$(removed "$work/out")" = 1 ] || fail "the user's pair beside the kernel's folders: $(cat "$work/out" "$work/err" | head -20)"
  grep -q "Failed to read\|cannot read $root/\(proc\|sys\)" "$work/err" && fail "the kernel's files were read: $(head -5 "$work/err")"
fi

# A photo library that is the root of its own disk, mounted at its place and
# again at a plain path and inside a searched folder (every mount shows root
# "/"): the plain path is searched as the library, a folder of it is
# refused, the mount inside the folder is not walked, and no picture leaves,
# for root, for an ordinary user who owns the library, and from a result
# saved before the disk was mounted at the library's place.
if [ "$(id -u)" = 0 ] && unshare -m true 2> /dev/null && command -v setpriv > /dev/null; then
  u=$work/disk
  mkdir -p "$u/home" "$u/Pictures/Photos Library.photoslibrary" "$u/plain" "$u/data/in"
  pair "$u/data/x.txt" "$u/data/sub/y.txt" "plain pair"
  copy_tools_for_user "$u/tools" "$search" "$search-full" "$remove"
  chown -hR 65534:65534 "$u/home" "$u/data"
  chmod 755 "$work"
  cat > "$u/inner.sh" <<'INNER'
set -u
u=$1 remove=$2 tools=$3 media=$4 search=$5
lib="$u/Pictures/Photos Library.photoslibrary"
# Saved while the disk was mounted at the plain path alone, where its
# masters were plain files.
mount --make-rprivate / && mount -t tmpfs -o mode=0755 kzlib "$u/plain" && cp -a "$media/." "$u/plain/" || exit 77
"$search" --save "$u/saved.maravex" "$u/plain" > /dev/null 2> "$u/err0"
mount --bind "$u/plain" "$lib" && mount --bind "$u/plain" "$u/data/in" || exit 77
(cd "$lib" && find . | sort) > "$u/before"
n=0
for run in "$remove --trash $u/plain" "$remove --trash $u/plain/Masters" "$remove --trash $u/data" user \
  "$remove --trash --saved $u/saved.maravex"; do
  n=$((n + 1))
  if [ "$run" = user ]; then
    chown -R 65534:65534 "$lib"
    as_user "$tools/maravex-remove" --trash "$u/data" > "$u/out$n" 2> "$u/err$n"
  else
    # shellcheck disable=SC2086
    $run > "$u/out$n" 2> "$u/err$n"
  fi
  (cd "$lib" && find . | sort) > "$u/after$n"
done
INNER
  # as_user goes along to the namespace, and reads $u there.
  export -f as_user
  unshare -m bash "$u/inner.sh" "$u" "$remove" "$user_tools" "$library" "$search" || true
  if [ -s "$u/before" ]; then
    for n in 1 2 3 4 5; do
      cmp -s "$u/before" "$u/after$n" || fail "library on its own disk, run $n: $(diff "$u/before" "$u/after$n" | head -5)"
      grep -q "^removed"$'\t'".*/\(plain\|in\)/" "$u/out$n" && fail "run $n removed a picture: $(cat "$u/out$n")"
    done
    grep -q "^kept"$'\t'"not_tagged"$'\t' "$u/out5" \
      || fail "nothing of the saved result was looked at: $(cat "$u/err0" "$u/out5" "$u/err5")"
    grep -q "inside a photo library" "$u/err2" || fail "a folder of the library was not refused: $(cat "$u/err2")"
    grep -q "photo library .*plain" "$u/err1" || fail "the plain path was not the library: $(cat "$u/err1")"
    [ "$(removed "$u/out3")" = 1 ] && [ "$(removed "$u/out4")" = 0 ] \
      || fail "the plain pair beside the mounted library: $(cat "$u/out3" "$u/out4" "$u/err4")"
  fi
fi

# Twin folders that each hold a mount made after the result was saved: a
# move to the Trash or to a folder would take the mount along, and emptying
# the Trash would delete the other file system's files. Both stay whole and
# are kept as mount_inside, for root and for an ordinary user.
if [ "$(id -u)" = 0 ] && unshare -m true 2> /dev/null && command -v setpriv > /dev/null; then
  u=$work/mounted
  mkdir -p "$u/home" "$u/tree/A/m" "$u/tree/B/m" "$u/elsewhere" "$u/moved"
  for f in "$u/tree/A/x" "$u/tree/B/x"; do printf 'twin' > "$f"; done
  for f in "$u/elsewhere/kept" "$u/tree/A/m/kept" "$u/tree/B/m/kept"; do printf 'mounted' > "$f"; done
  "$search" --folders --save "$u/saved.maravex" "$u/tree" > /dev/null 2> "$u/err" || fail "saving twin folders: $(cat "$u/err")"
  copy_tools_for_user "$u/tools" "$search" "$search-full" "$remove"
  chown -hR 65534:65534 "$u/home" "$u/tree" "$u/moved"
  chmod 755 "$work"
  cat > "$u/inner.sh" <<'INNER'
u=$1 remove=$2 tools=$3
mount --make-rprivate / && mount --bind "$u/elsewhere" "$u/tree/A/m" && mount --bind "$u/elsewhere" "$u/tree/B/m" \
  || exit 77
"$remove" --trash --saved "$u/saved.maravex" > "$u/out1" 2>&1
"$remove" --move-to "$u/moved" --saved "$u/saved.maravex" > "$u/out2" 2>&1
as_user "$tools/maravex-remove" --trash --saved "$u/saved.maravex" > "$u/out3" 2>&1
as_user "$tools/maravex-remove" --move-to "$u/moved" --saved "$u/saved.maravex" > "$u/out4" 2>&1
INNER
  export -f as_user
  trashed() { find "$HOME" "$u/home" -path '*/Trash/files/*' | wc -l; }
  before=$(trashed)
  if unshare -m bash "$u/inner.sh" "$u" "$remove" "$user_tools"; then
    for n in 1 2 3 4; do
      grep -q "^kept"$'\t'"mount_inside"$'\t'"$u/tree/[AB]$" "$u/out$n" || fail "run $n did not keep the folder with its mount: $(cat "$u/out$n")"
    done
    [ "$(find "$u/tree" "$u/elsewhere" -type f | wc -l)" = 5 ] && [ -z "$(ls -A "$u/moved")" ] \
      || fail "a folder holding a mount moved: $(find "$u" -path "$u/tools" -prune -o -print)"
    [ "$(trashed)" = "$before" ] || fail "a folder holding a mount went to the Trash"
  fi
fi

# As an ordinary user, a folder reached through the user's own link
# (~/w/link leading to ~/w/real): every marked copy leaves and none is taken
# for changed, from a search and from a saved result alike.
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  u=$work/user
  mkdir -p "$u/home" "$u/w/real/tree/sub" "$u/w/real/saved"
  printf 'linked pair' > "$u/w/real/tree/a.txt"
  printf 'linked pair' > "$u/w/real/tree/sub/b.txt"
  printf 'saved pair' > "$u/w/real/saved/c.txt"
  printf 'saved pair' > "$u/w/real/saved/d.txt"
  ln -s real "$u/w/link"
  copy_tools_for_user "$u/tools" "$search" "$search-full" "$remove"
  tools=$user_tools
  chown -hR 65534:65534 "$u"
  chmod 755 "$work"
  as_user test -x "$tools/maravex-remove" || { echo "the ordinary user cannot reach $tools: is ${TMPDIR:-/tmp} closed to others?"; exit 1; }
  as_user "$tools/maravex-remove" --trash "$u/w/link/tree" > "$work/out" 2> "$work/err" || true
  [ "$(removed "$work/out")" = 1 ] || fail "through the user's own link: $(cat "$work/out" "$work/err")"
  grep -q changed "$work/out" && fail "a copy reached through a link was taken for changed: $(cat "$work/out")"
  [ "$(find "$u/w/real/tree" -type f | wc -l)" = 1 ] || fail "not one copy left: $(find "$u/w/real/tree")"
  as_user "$tools/maravex-search" --save "$u/saved.maravex" "$u/w/link/saved" > /dev/null 2> "$work/err" \
    || fail "saving as an ordinary user: $(cat "$work/err")"
  as_user "$tools/maravex-remove" --trash --saved "$u/saved.maravex" > "$work/out" 2> "$work/err" || true
  [ "$(removed "$work/out")" = 1 ] || fail "a saved result through the user's own link: $(cat "$work/out" "$work/err")"
fi
exit $status
