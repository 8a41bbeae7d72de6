# Sourced by the search tool's tests: a scratch folder ($work, removed at
# exit) that also holds the home folder and its settings, so that a test
# never reads or writes the user's own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state"
mkdir -p "$HOME"

# Prints the criteria of a search by same size and same content, empty files
# left out, with any further keys given as the first argument.
content_criteria() {
  cat <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>isSize</key><true/>
	<key>sizeStruct</key>
	<dict><key>isSame</key><true/><key>isUnique</key><false/><key>isLimitSize</key><false/></dict>
	<key>isContent</key><true/>
	<key>contentStruct</key>
	<dict><key>isData</key><true/><key>skipData</key><true/><key>skipDataAmount</key><integer>0</integer>
	<key>skipRes</key><false/><key>treatPack</key><false/></dict>
	${1:-}
</dict>
</plist>
PLIST
}

# The build may lie where an ordinary user cannot go (a checkout in root's
# own home, mode 700): such a user runs copies of the tools, put in $1 beside
# the resources and the picture decoder they look for next to themselves.
# $2…: the tools to copy. Sets user_tools to $1.
copy_tools_for_user() {
  user_tools=$1
  shift
  mkdir -p "$user_tools"
  local tool module resources
  for tool in "$@"; do
    cp "$tool" "$user_tools/"
    for module in "$(dirname "$tool")"/*.so; do
      if [ -e "$module" ]; then cp "$module" "$user_tools/"; fi
    done
  done
  resources=$(dirname "$1")
  while [ ! -d "$resources/resources" ] && [ "$resources" != / ]; do resources=$(dirname "$resources"); done
  [ -d "$user_tools/resources" ] || cp -r "$resources/resources" "$user_tools/resources"
}

# Runs a command as the ordinary user 65534, whose own folder is $u and home
# folder $u/home.
as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$u/home" XDG_CONFIG_HOME="$u/home/.config" \
    XDG_DATA_HOME="$u/home/.local/share" XDG_CACHE_HOME="$u/home/.cache" XDG_STATE_HOME="$u/home/.local/state" "$@"
}
