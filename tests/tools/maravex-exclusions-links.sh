#!/usr/bin/env bash
# A folder left out in the preferences under a name that leads through a
# link (~/Documents leading to data/docs) stays out of the search tool, the
# removal tool and a saved result reopened by it, as root and as an
# ordinary user.
set -euo pipefail
search=$1
remove=$2
. "$(dirname "$0")/search-tool-test.sh"
status=0
fail() { echo "$*"; status=1; }
removed() { grep -c "^removed"$'\t' "$1" || true; }

# $1: the folder that holds everything of one run, $2: its home folder.
make_tree() {
  rm -rf "$1/data" "$1/link"
  mkdir -p "$1/data/docs/Work/Private" "$1/data/docs/Work/Sub" "$2/.config/maravex"
  printf 'private pair' > "$1/data/docs/Work/a.txt"
  printf 'private pair' > "$1/data/docs/Work/Private/b.txt"
  printf 'plain pair' > "$1/data/docs/Work/c.txt"
  printf 'plain pair' > "$1/data/docs/Work/Sub/d.txt"
  ln -s data/docs "$1/link"
  # The ordinary user's tree is all theirs, the link too.
  [ "$1" = "$work/root" ] || chown -hR 65534:65534 "$1"
}
# Leaves $1/link/Work/Private out, in the preferences of the home folder $2.
exclude_private() {
  cat > "$2/.config/maravex/defaults.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>locations_excluded</key><array><dict>
<key>locations_excl</key><string>$1/link/Work/Private</string><key>check_col</key><true/>
</dict></array></dict></plist>
PLIST
}
private_kept() { [ -f "$1/data/docs/Work/a.txt" ] && [ -f "$1/data/docs/Work/Private/b.txt" ]; }

# $1: who runs ("root" or "user"), $2: the folder, $3: its home folder;
# the rest: the command that runs a tool as that user.
check() {
  local who=$1 w=$2 h=$3
  shift 3
  make_tree "$w" "$h"
  exclude_private "$w" "$h"
  "$@" "$search" "$w/link/Work" > "$work/out" 2> "$work/err" || fail "$who: search failed: $(cat "$work/err")"
  grep -q "Private" "$work/out" && fail "$who: the left-out folder was searched: $(cat "$work/out")"
  grep -q "c.txt" "$work/out" || fail "$who: the rest was not searched: $(cat "$work/out" "$work/err")"

  "$@" "$remove" --trash "$w/link/Work" > "$work/out" 2> "$work/err" || true
  [ "$(removed "$work/out")" = 1 ] && private_kept "$w" \
    || fail "$who: removal through the link: $(cat "$work/out" "$work/err")"

  # Saved before the folder was left out, reopened after.
  make_tree "$w" "$h"
  rm -f "$h/.config/maravex/defaults.plist"
  "$@" "$search" --save "$w/saved.maravex" "$w/link/Work" > /dev/null 2> "$work/err" \
    || fail "$who: saving failed: $(cat "$work/err")"
  exclude_private "$w" "$h"
  "$@" "$remove" --trash --saved "$w/saved.maravex" > "$work/out" 2> "$work/err" || true
  [ "$(removed "$work/out")" = 1 ] && private_kept "$w" \
    || fail "$who: a saved result reopened: $(cat "$work/out" "$work/err")"
}

check root "$work/root" "$HOME" env

if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  u=$work/user
  mkdir -p "$u/home"
  copy_tools_for_user "$u/tools" "$search" "$search-full" "$remove"
  search=$user_tools/maravex-search
  remove=$user_tools/maravex-remove
  chown -hR 65534:65534 "$u"
  chmod 755 "$work"
  as_user test -x "$remove" || { echo "the ordinary user cannot reach $u: is ${TMPDIR:-/tmp} closed to others?"; exit 1; }
  check user "$u" "$u/home" as_user
fi
exit $status
