#!/usr/bin/env bash
# maravex-search prints the same bytes on every run over one tree: groups in
# the order of their first member's path, numbered from 1, members by path,
# whatever order the comparisons finished in. The groups' sizes run against
# their paths' order, the order in which a search would number them.
set -euo pipefail
tool=$1
. "$(dirname "$0")/search-tool-test.sh"
mkdir -p "$work/tree/a" "$work/tree/m" "$work/tree/z"
content_criteria > "$work/criteria.plist"
t=$work/tree
for i in 1 2 3 4 5 6 7 8; do
  # Group i: 9-i bytes (the later the path, the smaller the file), three copies.
  body=$(head -c $((9 - i)) /dev/zero | tr '\0' "$i")
  printf %s "$body" > "$t/z/g$i-c"
  printf %s "$body" > "$t/a/g$i-a"
  printf %s "$body" > "$t/m/g$i-b"
done
printf 'lone' > "$t/m/lone"

expected=""
for i in 1 2 3 4 5 6 7 8; do
  for path in "a/g$i-a" "m/g$i-b" "z/g$i-c"; do
    expected+="$i"$'\t'"$((9 - i))"$'\t'"$t/$path"$'\n'
  done
done

status=0
for run in 1 2 3; do
  actual=$("$tool" --criteria "$work/criteria.plist" "$t" 2>"$work/err"; echo x)
  actual=${actual%x}
  if [ "$actual" != "$expected" ]; then
    echo "run $run printed:"; printf '%s' "$actual"; echo "expected:"; printf '%s' "$expected"
    cat "$work/err"
    status=1
  fi
done
# The engine's own order is still there on request, with the same records.
"$tool" --found-order --criteria "$work/criteria.plist" "$t" 2>/dev/null | cut -f2- | sort > "$work/engine"
printf '%s' "$expected" | cut -f2- | sort > "$work/sorted"
if ! cmp -s "$work/engine" "$work/sorted"; then
  echo "--found-order printed other records"; diff "$work/sorted" "$work/engine" || true
  status=1
fi

# A saved search that cannot be searched is said, and the status says that
# nothing (or not everything) was searched.
cat > "$work/noscopes.savedSearch" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>RawQueryDict</key><dict>
<key>RawQuery</key><string>kMDItemFSName == "*"</string>
<key>SerchScopes</key><array/>
</dict></dict></plist>
PLIST
rc=0
"$tool" --criteria "$work/criteria.plist" "$work/noscopes.savedSearch" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 1 ] || ! grep -q 'noscopes.savedSearch' "$work/err" || [ -s "$work/out" ]; then
  echo "a damaged saved search alone: status $rc (1 expected)"; cat "$work/err"; status=1
fi
rc=0
"$tool" --criteria "$work/criteria.plist" "$work/noscopes.savedSearch" "$t" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 3 ] || ! grep -q 'sources not searched 1' "$work/err"; then
  echo "a damaged saved search beside a folder: status $rc (3 expected)"; cat "$work/err"; status=1
fi

# A folder named that is not there is not searched either: the result may
# lack its duplicates, as the status says, while the good folder is searched.
rc=0
"$tool" --criteria "$work/criteria.plist" "$work/nothere" "$t" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 3 ] || ! grep -q "$work/nothere" "$work/err" || ! grep -q 'sources not searched 1' "$work/err" \
  || [ "$(wc -l < "$work/out")" != 24 ]; then
  echo "a missing folder beside a good one: status $rc (3 expected)"; cat "$work/err"; status=1
fi

# Two copies of a package beside a file of their size: the packages meet
# each other, no package is read as a file, and the search is complete.
mkdir -p "$work/apps/A/Tool.app/Contents" "$work/apps/B"
head -c 1000 /dev/zero | tr '\0' t > "$work/apps/A/Tool.app/Contents/tool"
cp -r "$work/apps/A/Tool.app" "$work/apps/B/"
head -c 1000 /dev/zero | tr '\0' f > "$work/apps/plain"
rc=0
"$tool" --criteria "$work/criteria.plist" "$work/apps" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 0 ] || [ "$(cut -f3 "$work/out")" != "$work/apps/A/Tool.app"$'\n'"$work/apps/B/Tool.app" ] \
  || grep -q "cannot read" "$work/err"; then
  echo "packages beside a file of their size: status $rc (0 expected)"; cat "$work/out" "$work/err"; status=1
fi

# Criteria that switch on nothing the search knows would find every file
# alone (group 0): refused before anything is searched.
printf '<?xml version="1.0"?><plist version="1.0"><dict/></plist>' > "$work/none.plist"
printf '<?xml version="1.0"?><plist version="1.0"><dict><key>sameSize</key><true/><key>isSize</key><false/></dict></plist>' \
  > "$work/unknown.plist"
for criteria in none unknown; do
  rc=0
  "$tool" --criteria "$work/$criteria.plist" "$t" >"$work/out" 2>"$work/err" || rc=$?
  if [ "$rc" != 1 ] || [ -s "$work/out" ] || ! grep -q "$criteria.plist: switches on no search criterion" "$work/err"; then
    echo "criteria that switch on nothing ($criteria): status $rc (1 expected)"; cat "$work/err"; head -3 "$work/out"
    status=1
  fi
done
# A group switched on without its settings decides nothing either: refused
# the same way, naming the group.
for group in isSize isContent isName isExtension isLocked isModified isFolder isKind; do
  printf '<?xml version="1.0"?><plist version="1.0"><dict><key>%s</key><true/></dict></plist>' "$group" \
    > "$work/$group.plist"
  rc=0
  "$tool" --criteria "$work/$group.plist" "$t" >"$work/out" 2>"$work/err" || rc=$?
  if [ "$rc" != 1 ] || [ -s "$work/out" ] || ! grep -q "$group.plist: switches on \"$group\" without settings" "$work/err"; then
    echo "criteria with $group alone: status $rc (1 expected)"; cat "$work/err"; head -3 "$work/out"
    status=1
  fi
done
# What killed runs left in the temporary folder (a tool's private folder, a
# library's private copy) goes at the next start of a tool; the folders of
# a run that lives, or named otherwise, stay.
mkdir -p "$work/tmp"
sh -c 'exit 0' & dead=$!
wait "$dead" || true
for name in "maravex-search-$dead-aB3dE9" "maravex-remove-$dead-aB3dE9" "maravex-sqlite-$dead-aB3dE9" \
  "maravex-search-$$-aB3dE9" "maravex-search-Xy12Zq"; do
  mkdir -p "$work/tmp/$name" && printf x > "$work/tmp/$name/defaults.plist"
done
TMPDIR=$work/tmp "$tool" --criteria "$work/criteria.plist" "$t" >/dev/null 2>"$work/err" || true
left=$(cd "$work/tmp" && ls | sort | tr '\n' ' ')
if [ "$left" != "maravex-search-$$-aB3dE9 maravex-search-Xy12Zq " ]; then
  echo "what killed runs left in the temporary folder: $left"; cat "$work/err"; status=1
fi
# A criteria file that cannot be read is named once.
rc=0
"$tool" --criteria "$work/missing.plist" "$t" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 1 ] || [ "$(grep -o missing.plist "$work/err" | wc -l)" != 1 ]; then
  echo "an unreadable criteria file: status $rc, named other than once:"; cat "$work/err"; status=1
fi

# A criteria file nested deep in comments that hide its closing tags, or one
# larger than any criteria (sparse: nothing on disk), is refused with the
# reason, never read into a crash or into memory.
{
  printf '<?xml version="1.0"?><plist version="1.0"><dict><key>isSize</key>'
  printf '<array><!--</array>-->%.0s' $(seq 200000)
} > "$work/deep.plist"
content_criteria > "$work/large.plist"
truncate -s 3G "$work/large.plist"
for criteria in deep:"nested too deeply" large:"too large"; do
  rc=0
  "$tool" --criteria "$work/${criteria%%:*}.plist" "$t" >"$work/out" 2>"$work/err" || rc=$?
  if [ "$rc" != 1 ] || ! grep -q "${criteria%%:*}.plist.*${criteria#*:}" "$work/err" || [ -s "$work/out" ]; then
    echo "criteria ${criteria%%:*}: status $rc (1 expected)"; head -c 2000 "$work/err"; status=1
  fi
done

# A saved search whose query runs 300,000 terms long is refused with the
# reason, and the rest is searched.
{
  printf '<?xml version="1.0"?><plist version="1.0"><dict><key>RawQueryDict</key><dict><key>RawQuery</key><string>'
  printf 'kMDItemFSSize == 7 || %.0s' $(seq 300000)
  printf 'kMDItemFSName == "*"</string><key>SearchScopes</key><array><string>%s</string></array></dict></dict></plist>' "$t"
} > "$work/long.savedSearch"
rc=0
"$tool" --criteria "$work/criteria.plist" "$work/long.savedSearch" "$t" >"$work/out" 2>"$work/err" || rc=$?
if [ "$rc" != 3 ] || ! grep -q 'long.savedSearch.*more than 10000 comparisons' "$work/err"; then
  echo "a saved search of 300,000 terms beside a folder: status $rc (3 expected)"; head -c 2000 "$work/err"; status=1
fi
exit $status
