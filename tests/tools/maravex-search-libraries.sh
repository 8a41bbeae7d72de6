#!/usr/bin/env bash
# maravex-search takes a photo library package and a music library export as
# sources: both are read and reported, their duplicates are the groups that
# hashing the libraries' own files gives, the missing track is listed, the
# preference says how the photo library's pictures are compared, and a
# broken library is refused with a reason.
set -euo pipefail
tool=$1
maker=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state"
mkdir -p "$HOME"
# Python without its site set-up: the interpreter's start is most of this
# test's time.
python3 -I -S "$maker" "$work/media" --images 20 --tracks 10 > /dev/null
library="$work/media/Music/iTunes/iTunes Library.xml"

"$tool" -0 "$work/media/Pictures.photoslibrary" --music-library "$library" > "$work/out" 2> "$work/err"
grep -q "photo library .*: 18 images" "$work/err"
grep -q "music library .*: 10 tracks with a file, media folder .*/iTunes Media" "$work/err"
grep -q "^missing track [0-9a-f]*: .*iTunes Media/" "$work/err"
grep -q "^missing tracks: 1$" "$work/err"
# The groups, worked out without the program: the library images that are
# not in the trash and stay inside Masters, and the tracks whose file is
# there, grouped by their bytes.
python3 -I -S - "$work/media" "$work/out" <<'CHECK'
import collections, hashlib, os, plistlib, sqlite3, sys, urllib.parse
media, found_file = sys.argv[1], sys.argv[2]
lib = os.path.join(media, 'Pictures.photoslibrary')
files = set()
db = sqlite3.connect(os.path.join(lib, 'database/Photos.db'))
for (path,) in db.execute('SELECT m.imagePath FROM RKVersion v JOIN RKMaster m ON m.uuid = v.masterUuid '
                          'WHERE v.isInTrash = 0 AND m.isInTrash = 0'):
    if path.startswith('/') or '..' in path.split('/'):
        continue
    p = os.fsencode(os.path.normpath(os.path.join(lib, 'Masters', path)))
    if os.path.isfile(p) and not os.path.islink(p):
        files.add(p)
with open(os.path.join(media, 'Music/iTunes/iTunes Library.xml'), 'rb') as f:
    for track in plistlib.load(f)['Tracks'].values():
        location = track.get('Location', '')
        p = urllib.parse.unquote_to_bytes(urllib.parse.urlparse(location).path)
        if location.startswith('file://') and os.path.isfile(p):
            files.add(p)
by_digest = collections.defaultdict(set)
for p in files:
    with open(p, 'rb') as f:
        by_digest[hashlib.sha1(f.read()).hexdigest()].add(p)
expected = {frozenset(g) for g in by_digest.values() if len(g) > 1}
found = collections.defaultdict(set)
with open(found_file, 'rb') as f:
    for record in f.read().split(b'\0'):
        if record:
            group, _, path = record.split(b'\t', 2)
            found[group].add(path)
got = {frozenset(g) for g in found.values()}
if not expected or got != expected:
    sys.exit('groups differ: expected %d, found %d' % (len(expected), len(got)))
CHECK

# Nobody is there to ask how the library's pictures are compared: the
# preference says it, "ask" (the default) giving their bytes, so the picture
# decoder is never loaded; the run says which it used.
photos="$work/media/Pictures.photoslibrary"
LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld" "$tool" "$photos" > /dev/null 2> "$work/err"
grep -q "^pictures compared by their bytes (preference ask" "$work/err"
if grep -qs "maravex-image-decoder" "$work"/ld.*; then
  echo "pictures were compared by their pixels without being asked"; exit 1
fi
mkdir -p "$XDG_CONFIG_HOME/maravex"
cat > "$XDG_CONFIG_HOME/maravex/defaults.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>check_image_metadata_option</key><integer>1</integer></dict></plist>
PLIST
"$tool" "$photos" > /dev/null 2> "$work/err"
grep -q "^pictures compared by their pixels (preference pixels)" "$work/err"
rm "$XDG_CONFIG_HOME/maravex/defaults.plist"

printf 'not a library' > "$work/broken.xml"
if "$tool" --music-library "$work/broken.xml" "$work/media" > /dev/null 2> "$work/err"; then
  echo "a broken music library was accepted"; exit 1
fi
grep -q "broken.xml.*: .*not a property list" "$work/err"
# The tool's reason names the library once, whatever it is, and no log
# line says it again.
printf '<?xml version="1.0"?><plist version="1.0"><dict/></plist>' > "$work/other.xml"
for file in broken other; do
  "$tool" --music-library "$work/$file.xml" "$work/media" > /dev/null 2> "$work/err" || true
  [ "$(grep -o "$file.xml" "$work/err" | wc -l)" = 1 ] && grep -q "^maravex-search: .*$file.xml" "$work/err" \
    || { echo "the library not named once:"; cat "$work/err"; exit 1; }
done
grep -q "other.xml.*not a music library export" "$work/err"
mkdir "$work/Empty.photoslibrary"
if "$tool" "$work/Empty.photoslibrary" > /dev/null 2> "$work/err"; then
  echo "an empty photo library was searched"; exit 1
fi
[ "$(grep -c "Empty.photoslibrary" "$work/err")" = 1 ] \
  && grep -q "^maravex-search: $work/Empty.photoslibrary: The photo library could not be read: no database" "$work/err" \
  || { echo "an empty photo library: no reason given"; cat "$work/err"; exit 1; }
# Beside a folder it leaves the result incomplete, which the status says.
rc=0
"$tool" "$work/Empty.photoslibrary" "$work/media/Music" > /dev/null 2> "$work/err" || rc=$?
[ "$rc" = 3 ] && grep -q "sources not searched 1" "$work/err" \
  || { echo "an unreadable photo library beside a folder: status $rc (3 expected)"; cat "$work/err"; exit 1; }

# A library of a few kilobytes whose versions are an endless view is refused
# at once with the reason, not read until memory runs out.
mkdir -p "$work/Endless.photoslibrary/database" "$work/Endless.photoslibrary/Masters"
sqlite3 "$work/Endless.photoslibrary/database/Photos.db" \
  "CREATE VIEW RKVersion AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)
     SELECT 'uuid-' || x AS uuid, 'm' AS masterUuid, 0 AS isInTrash FROM c;
   CREATE TABLE RKMaster (uuid, imagePath, isInTrash); CREATE TABLE RKAlbum (uuid, name, albumType);
   CREATE TABLE RKCustomSortOrder (containerUuid, objectUuid);"
rc=0
timeout 60 "$tool" "$work/Endless.photoslibrary" > /dev/null 2> "$work/err" || rc=$?
[ "$rc" = 1 ] && grep -q "printed more than .* bytes for a database of this size" "$work/err" \
  || { echo "an endless photo library: status $rc (1 expected)"; cat "$work/err"; exit 1; }
# Its reason is said once: no log line or alert says it again.
[ "$(grep -c "printed more than" "$work/err")" = 1 ] \
  && grep -q "^maravex-search: $work/Endless.photoslibrary: The photo library could not be read: " "$work/err" \
  || { echo "an endless photo library: not said once"; cat "$work/err"; exit 1; }
echo ok
