#!/usr/bin/env bash
# A music library whose export cannot be read, and a photo library whose
# database cannot be read, still own their files: the removal tool, on a
# search or on a saved result, leaves every one of them where it is, and
# says once why the music library was not read.
set -euo pipefail
search=$1
remove=$2
. "$(dirname "$0")/search-tool-test.sh"
status=0
fail() { echo "$*"; status=1; }

lib=$work/Music/Library
export_file=$lib/Library.xml
mkdir -p "$XDG_CONFIG_HOME/maravex"
cat > "$XDG_CONFIG_HOME/maravex/defaults.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>iTunes_library_path</key><string>$export_file</string></dict></plist>
PLIST

# The library's songs, with an older copy outside it, and an older plain
# pair: --rule 3 marks all but the oldest copy, so the songs and one of the
# pair are marked.
fill() {
  rm -rf "$work/Music"
  mkdir -p "$lib/Media/Album" "$work/Music/docs" "$work/Music/keep"
  printf 'song' > "$lib/Media/a.mp3"
  printf 'song' > "$lib/Media/Album/b.mp3"
  printf 'song' > "$work/Music/copy.mp3"
  printf 'plain' > "$work/Music/docs/x"
  printf 'plain' > "$work/Music/keep/x"
  touch -d 2020-01-01 "$work/Music/copy.mp3" "$work/Music/keep/x"
}
broken_export() {
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n' > "$export_file"
  printf '\t<key>Music Folder</key><string>file://%s/</string>\n' "$lib/Media" >> "$export_file"
  printf '\t<key>Tracks</key>\n\t<dict>\n\t\t<key>1</key><dict><key>Track ID</key><in\001teger>\n' >> "$export_file"
}
check_kept() { # $1: what ran
  for song in "$lib/Media/a.mp3" "$lib/Media/Album/b.mp3"; do
    [ "$(cat "$song" 2> /dev/null)" = song ] || fail "$1: $song left the music library"
    grep -q "^kept"$'\t'"music_not_removed"$'\t'"$song$" "$work/out" || fail "$1: $song not kept as a track: $(cat "$work/out")"
  done
  grep -q "^removed"$'\t'".*"$'\t'"$work/Music/docs/x$" "$work/out" || fail "$1: the plain copy stayed: $(cat "$work/out" "$work/err")"
  [ "$(grep -c "$export_file" "$work/err")" = 1 ] && grep -q "^maravex-remove: .*$export_file" "$work/err" \
    || fail "$1: the export is not named once: $(cat "$work/err")"
}

for form in broken fifo; do
  fill
  if [ $form = fifo ]; then mkfifo "$export_file"; else broken_export; fi
  "$remove" --trash --rule 3 "$work/Music" > "$work/out" 2> "$work/err" || true
  check_kept "a search with a $form export"
  fill
  if [ $form = fifo ]; then mkfifo "$export_file"; else broken_export; fi
  "$search" --save "$work/music.maravex" "$work/Music" > /dev/null 2> "$work/search-err" \
    || fail "saving a result: $(cat "$work/search-err")"
  "$remove" --trash --rule 3 --saved "$work/music.maravex" > "$work/out" 2> "$work/err" || true
  check_kept "a saved result with a $form export"
done

# A photo library whose database is no database: its pictures stay in the
# package whether the library or the folder that holds it is searched, and
# from a saved result too.
pics=$work/Pictures
package="$pics/Broken.photoslibrary"
mkdir -p "$package/database" "$package/Masters/2020"
printf 'not a database' > "$package/database/Photos.db"
printf 'picture' > "$package/Masters/a.jpg"
printf 'picture' > "$package/Masters/2020/b.jpg"
printf 'picture' > "$pics/copy.jpg"
touch -d 2020-01-01 "$pics/copy.jpg"
(cd "$package" && find . -type f | sort | xargs cksum) > "$work/before"
"$search" --save "$work/pictures.maravex" "$pics" > /dev/null 2> "$work/search-err" || true
for run in "--trash --rule 3 $pics" "--trash --rule 3 $package" "--move-to $work/moved --rule 3 $pics" \
           "--trash --rule 3 --saved $work/pictures.maravex"; do
  mkdir -p "$work/moved"
  # shellcheck disable=SC2086
  "$remove" $run > "$work/out" 2> "$work/err" || true
  (cd "$package" && find . -type f | sort | xargs cksum) > "$work/after"
  cmp -s "$work/before" "$work/after" || fail "$run took pictures: $(diff "$work/before" "$work/after")"
  grep "^removed" "$work/out" | grep -q "photoslibrary" && fail "$run reports pictures removed: $(cat "$work/out")"
done
[ $status = 0 ] && echo ok
exit $status
