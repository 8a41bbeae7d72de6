#!/usr/bin/env bash
# maravex-search takes a photo library package and a music library export as
# sources: both are read and reported, a broken one is refused with a reason,
# and until their passes exist they add no items to the search.
set -euo pipefail
tool=$1
maker=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state"
mkdir -p "$HOME"
"$maker" "$work/media" --images 20 --tracks 10 > /dev/null
library="$work/media/Music/iTunes/iTunes Library.xml"

"$tool" "$work/media/Pictures.photoslibrary" --music-library "$library" > "$work/out" 2> "$work/err"
grep -q "photo library .*: 18 images" "$work/err"
grep -q "music library .*: 10 tracks with a file, media folder .*/iTunes Media" "$work/err"
grep -q "^checked 0, found 0" "$work/err"
[ ! -s "$work/out" ]

printf 'not a library' > "$work/broken.xml"
if "$tool" --music-library "$work/broken.xml" "$work/media" > /dev/null 2> "$work/err"; then
  echo "a broken music library was accepted"; exit 1
fi
grep -q "broken.xml: .*not a property list" "$work/err"
mkdir "$work/Empty.photoslibrary"
if "$tool" "$work/Empty.photoslibrary" > /dev/null 2> "$work/err"; then
  echo "an empty photo library was searched"; exit 1
fi
grep -q "no image could be read" "$work/err"
echo ok
