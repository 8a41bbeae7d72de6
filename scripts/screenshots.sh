#!/usr/bin/env bash
# Photographs the real program on a virtual X screen: one PNG per state in
# build/screenshots/. Each state is a fresh run of Maravex with its own
# temporary home folder (never the real one), driven by a short script of
# steps (see src/app/ui/KZStateDriver.h for the steps).
#
#   scripts/screenshots.sh            every state
#   scripts/screenshots.sh about      only the states whose name starts so
#
# Adding a state: append a call to `state` below:
#
#   state NAME first|again [ARG...] <<'STEPS'
#   waitfor someWidgetName
#   shot "$SHOTS"/NAME.png someWindowName
#   quit
#   STEPS
#
# "first" starts as on the very first run (the welcome window), "again" as
# on every later run (the search window). ARGs are handed to the program as
# its arguments; $TREE is a generated folder tree full of duplicates. The
# steps may use $SHOTS and $TREE, and the shared runs of steps defined
# before the states ($OPEN_RESULT and the like). MARAVEX_BUILD_DIR picks
# another build tree (default build/release, built here when stale); JOBS
# limits the build's parallel jobs (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh

build=${MARAVEX_BUILD_DIR:-build/release}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKZ_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target maravex -j "${JOBS:-$(nproc)}"
exe=$root/$build/src/maravex

SHOTS=$root/build/screenshots
mkdir -p "$SHOTS"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A tree with duplicate files and folders for the states that search.
TREE=$work/tree
mkdir -p "$TREE"/{Photos/2023,Photos/Backup,Documents,Music/Album,Music/Copy}
head -c 200000 /dev/urandom >"$TREE/Photos/2023/beach.jpg"
cp "$TREE/Photos/2023/beach.jpg" "$TREE/Photos/Backup/beach.jpg"
printf 'Meeting notes\n%.0s' {1..400} >"$TREE/Documents/notes.txt"
cp "$TREE/Documents/notes.txt" "$TREE/Documents/notes copy.txt"
head -c 500000 /dev/urandom >"$TREE/Music/Album/track01.mp3"
cp -r "$TREE/Music/Album/." "$TREE/Music/Copy/"

# Duplicated pictures with real pixels for the preview states, and a tree
# with one picture, one song and one document, each twice.
PICS=$work/pictures
python3 scripts/make-pictures.py "$PICS/Photos"
cp -r "$PICS/Photos" "$PICS/Backup"
MIXED=$work/mixed
mkdir -p "$MIXED"/{Pictures,Music,Documents}
cp "$PICS/Photos/sunset.png" "$MIXED/Pictures/sunset.png"
cp "$PICS/Photos/sunset.png" "$MIXED/Pictures/sunset copy.png"
cp "$TREE/Music/Album/track01.mp3" "$MIXED/Music/track01.mp3"
cp "$TREE/Music/Album/track01.mp3" "$MIXED/Music/track01 copy.mp3"
cp "$TREE/Documents/notes.txt" "$MIXED/Documents/notes.txt"
cp "$TREE/Documents/notes.txt" "$MIXED/Documents/notes copy.txt"
# A third copy whose name is Latin-1, not UTF-8: its card shows its text too.
cp "$TREE/Documents/notes.txt" "$MIXED/Documents/$(printf 'r\351sum\351.txt')"

# The virtual screen: Xvfb picks a free display and tells its number.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
HOME=$work/wm openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1
# A calm desktop colour, so that the windows' edges and shadows show.
if command -v xsetroot >/dev/null; then xsetroot -solid '#5d6b7d'; fi

filter=${1:-}
failed=0

# Shared runs of steps, each named on a line of its own in a state's steps:
# $START_SEARCH starts the search of the given folders, $SHOW_RESULT waits
# for its end and opens the result window, $OPEN_RESULT does both, and
# $OPEN_PREFERENCES opens the Preferences window on its first pane.
START_SEARCH='waitfor startBtn
wait 800
click startBtn'
SHOW_RESULT='waitfor showResultButton
wait 1500
click showResultButton
waitfor foundListView
wait 1500'
OPEN_RESULT="$START_SEARCH
$SHOW_RESULT"
OPEN_PREFERENCES='wait 800
menu preferences
waitfor preferencesWindow'

# Whether the state NAME is among those asked for on the command line.
selected() {
  [ -z "$filter" ] || [[ $1 == "$filter"* ]]
}

state() {
  local name=$1 run=$2
  shift 2
  local steps
  steps=$(cat)
  selected "$name" || return 0
  local home=$work/home-$name
  mkdir -p "$home/.config/maravex" "$home/.local/share" "$home/.local/state" "$home/.cache" "$home/.runtime"
  chmod 700 "$home/.runtime"
  if [ "$run" = again ]; then
    cat >"$home/.config/maravex/defaults.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>is_first_run</key>
	<false/>
</dict>
</plist>
PLIST
  fi
  # The steps are expanded here, so they can name $SHOTS, $TREE and the
  # shared runs above.
  local run_name
  for run_name in START_SEARCH SHOW_RESULT OPEN_RESULT OPEN_PREFERENCES; do
    steps=${steps//\$$run_name/${!run_name}}
  done
  steps=${steps//\$SHOTS/$SHOTS}
  steps=${steps//\$TREE/$TREE}
  printf '%s\n' "$steps" >"$work/$name.drive"
  echo "== $name"
  local status=0
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    XDG_STATE_HOME=$home/.local/state XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$home/.runtime \
    QT_QPA_PLATFORM=xcb MARAVEX_DRIVE=$work/$name.drive \
    timeout 90 "$exe" "$@" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "   state $name failed (exit status $status)" >&2
    failed=1
  fi
}

# --- welcome window, first run ------------------------------------------------
state welcome first <<'STEPS'
waitfor welcomeWindow
wait 2900
shot $SHOTS/welcome-1.png welcomeWindow
click nextBtn
wait 1200
shot $SHOTS/welcome-2.png welcomeWindow
wait 3000
shot $SHOTS/welcome-2-second-picture.png welcomeWindow
click nextBtn
wait 1200
shot $SHOTS/welcome-3.png welcomeWindow
click nextBtn
wait 1200
shot $SHOTS/welcome-4.png welcomeWindow
click nextBtn
wait 1200
shot $SHOTS/welcome-5.png welcomeWindow
click startUsingBtn
wait 1000
shot $SHOTS/search-after-welcome.png
quit
STEPS

# --- about window -----------------------------------------------------------------
state about again <<'STEPS'
wait 800
action about
waitfor aboutWindow
wait 600
shot $SHOTS/about.png aboutWindow
quit
STEPS

# --- newsletter window with an address that is refused ---------------------------
state newsletter again <<'STEPS'
wait 800
action newsletter
waitfor subscribeWindow
type nameFld Ada Lovelace
type emailFld ada.lovelace@example
click subscribeBtn
wait 400
shot $SHOTS/newsletter-invalid-address.png subscribeWindow
quit
STEPS

# --- newsletter by Return without a mail program: the mail to copy by hand -------
state newsletter-unsent again <<'STEPS'
wait 800
action newsletter
waitfor subscribeWindow
type nameFld Ann Example
type emailFld ann@example.org
key emailFld Return
waitfor unsentMail
wait 600
shot $SHOTS/newsletter-unsent-by-return.png screen
quit
STEPS

# --- search window on a later run -------------------------------------------------
state search again <<'STEPS'
wait 1500
shot $SHOTS/search.png
quit
STEPS

# --- where windows open, and the program's menus ------------------------------------
# The search window in the middle of the screen, then its menu button's menu
# with the File menu open.
state search-centred again <<'STEPS'
waitfor searchView
wait 1200
shot $SHOTS/search-centred-screen.png screen
click menuButton
wait 500
submenu File
wait 500
shot $SHOTS/search-menu-button.png screen
quit
STEPS

# The result window wholly on screen with the whole menu set: its menu bar,
# then the File and Help menus open.
state result-menus again "$TREE" <<'STEPS'
$OPEN_RESULT
shot $SHOTS/result-on-screen.png screen
menubar resultWindow File
wait 600
shot $SHOTS/result-menu-file.png screen
menubar resultWindow View
wait 600
shot $SHOTS/result-menu-view.png screen
menubar resultWindow Result
wait 600
shot $SHOTS/result-menu-result.png screen
menubar resultWindow Help
wait 600
shot $SHOTS/result-menu-help.png screen
quit
STEPS

# --- search window: sources, tiles, exclusions, an empty result ------------------
# Points or clicks over the search window at (x, y) in its own coordinates,
# `delay` seconds after the call, for states the drive steps cannot reach
# (hover, right click). Runs only when the state is selected.
search_pointer() { # state delay x y [button]
  selected "$1" || return 0
  (
    sleep "$2"
    id=$(xdotool search --sync --onlyvisible --name '^Maravex$' | head -n1)
    eval "$(xdotool getwindowgeometry --shell "$id")"
    xdotool mousemove $((X + $3 + 4)) $((Y + $4 + 12))
    sleep 0.3
    xdotool mousemove $((X + $3)) $((Y + $4))
    if [ -n "${5:-}" ]; then xdotool click "$5"; fi
  ) >/dev/null 2>&1 &
  pids+=($!)
}
UNIQUE=$work/unique
mkdir -p "$UNIQUE/Letters"
printf 'Dear Ada\n' >"$UNIQUE/Letters/ada.txt"
printf 'Dear Charles\n' >"$UNIQUE/Letters/charles.txt"

state search-empty again <<'STEPS'
waitfor searchView
wait 1200
shot $SHOTS/search-empty.png searchWindow
quit
STEPS

# The second tile's close button under the pointer.
search_pointer search-tiles 4 232 273
state search-tiles again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
waitfor sourceTile
wait 3500
shot $SHOTS/search-tiles-hover-close.png searchWindow
quit
STEPS

# A right click on the first tile opens its folders.
search_pointer search-exclusions 4 154 300 3
state search-exclusions again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
waitfor sourceTile
waitfor excludePopover
wait 600
shot $SHOTS/search-exclusions-popover.png searchWindow
quit
STEPS

state search-no-items again "$UNIQUE" <<'STEPS'
$START_SEARCH
wait 5000
shot $SHOTS/search-no-items-found.png progressCenterView
quit
STEPS

# --- result window: a tab grouped and flat, a selected row, active and inactive ---
# The About window in front leaves the result window inactive.
for view in grouped flat; do
  case $view in
    grouped) arrange='click expandAllBtn
wait 800' ;;
    flat) arrange='click toggleViewByGroupBtn
wait 1500' ;;
  esac
  state result-$view again "$TREE" <<STEPS
\$OPEN_RESULT
$arrange
click foundListViewport
wait 600
shot \$SHOTS/result-$view-selected.png resultWindow
action about
wait 1200
shot \$SHOTS/result-$view-inactive.png resultWindow
quit
STEPS
done
# --- result window: the preview pane and the preview panel ------------------------
# Two picture rows beside the list, several pictures under it, a picture, a
# song and a document as cards, and the preview panel open on a picture.
state result-preview-images again "$PICS" <<'STEPS'
$OPEN_RESULT
click switchPreviewViewBtn
wait 800
key foundListView Home
key foundListView Shift+Down
wait 1500
shot $SHOTS/result-preview-images.png resultWindow
quit
STEPS
for preview in "stacked $PICS" "cards $MIXED"; do
  state result-preview-${preview%% *} again "${preview#* }" <<STEPS
\$OPEN_RESULT
key foundListView Home
key foundListView Ctrl+A
wait 1500
shot \$SHOTS/result-preview-${preview%% *}.png resultWindow
quit
STEPS
done
state quick-look again "$PICS" <<'STEPS'
$OPEN_RESULT
key foundListView Home
key foundListView Ctrl+A
wait 800
key foundListView Space
waitfor quickLookPanel
wait 1500
shot $SHOTS/quick-look.png quickLookPanel
quit
STEPS

# States drawn by a widget test's own picture case (PICTURE_SUITE.*, run when
# MARAVEX_SHOTS_DIR is set) instead of the program: for windows that need a
# hand-set clock or that the program cannot reach yet. The test programs are
# built in a tree of their own.
picture_state() { # state test-target picture-suite
  local name=$1 target=$2 suite=$3
  selected "$name" || return 0
  echo "== $name"
  local tests_build=${MARAVEX_TESTS_BUILD_DIR:-build/screenshots-tests}
  if [ ! -f "$tests_build/build.ninja" ]; then
    cmake -S . -B "$tests_build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  if ! { cmake --build "$tests_build" --target "$target" -j "${JOBS:-$(nproc)}" >"$work/$name.log" 2>&1 \
      && MARAVEX_SHOTS_DIR=$SHOTS QT_QPA_PLATFORM=xcb timeout 120 "$tests_build/tests/$target" \
        --gtest_filter="$suite.*" >>"$work/$name.log" 2>&1; }; then
    echo "   state $name failed" >&2
    tail -n 30 "$work/$name.log" >&2
    failed=1
  fi
}

# --- progress window: mid-search, the final ring, a pointed ring tab ------------
# Drawn by the window's own picture test with a hand-set clock, so that the
# mid-search state holds still long enough to be photographed. It needs the
# test programs, built in a tree of their own.
picture_state progress kz_app_ui_tests ProgressWindowShots

# --- search: Start waits for a slow music library behind its sheet ------------------
# Drawn by a widget test whose reading is held, so that the sheet stays up.
picture_state search-reading-music-library kz_app_ui_tests MusicLibraryReadingShots

# --- transitions: a flip and a zoom held half way ----------------------------------
# The search runs to its end; then the progress window flips back to the
# search window, held a third of the way through its turn (at half time
# the turning window stands edge-on and nothing of it shows).
state transition-flip again "$TREE/Photos" "$TREE/Documents" <<'STEPS'
$START_SEARCH
waitfor resetButton
wait 1500
pause 0.35
flip progressWindow searchWindow 2
wait 700
shot $SHOTS/transition-mid-flip.png transitionOverlay
quit
STEPS

# The zoom from the progress window to the result window, held half way
# through its disc.
state transition-zoom again "$TREE/Photos" "$TREE/Documents" <<'STEPS'
$START_SEARCH
waitfor showResultButton
wait 1500
pause 0.5
click showResultButton
wait 1000
shot $SHOTS/transition-mid-zoom.png screen
quit
STEPS

# New Search from the result window walks back through the zoom and the flip,
# asks before the result is given up, and ends at an empty search window.
state transition-new-search again "$TREE/Photos" "$TREE/Documents" <<'STEPS'
$OPEN_RESULT
action newSearch
wait 2500
shot $SHOTS/transition-new-search-question.png screen
press New Search
wait 3000
shot $SHOTS/transition-new-search-done.png screen
quit
STEPS

# --- result window: the sources list of a tab ---------------------------------------
# Three sources holding copies of one another's files: the list shows a row
# per source under the tab's own row. A source row selected; then a rule
# from the tab row's mark menu; then the info popover of a source row.
SOURCES=$work/sources
mkdir -p "$SOURCES"/{Camera,Laptop,Backup}
head -c 300000 /dev/urandom >"$SOURCES/Camera/IMG_0001.jpg"
head -c 420000 /dev/urandom >"$SOURCES/Camera/IMG_0002.jpg"
head -c 150000 /dev/urandom >"$SOURCES/Laptop/report.pdf"
cp "$SOURCES/Camera/IMG_0001.jpg" "$SOURCES/Laptop/IMG_0001.jpg"
cp "$SOURCES/Camera/IMG_0001.jpg" "$SOURCES/Backup/IMG_0001 copy.jpg"
cp "$SOURCES/Camera/IMG_0002.jpg" "$SOURCES/Backup/IMG_0002.jpg"
cp "$SOURCES/Laptop/report.pdf" "$SOURCES/Backup/report.pdf"
for source in result-sources result-sources-marked result-sources-info; do
  case $source in
    result-sources) last='click sourceRow2
wait 1200
shot $SHOTS/result-sources.png resultWindow' ;;
    result-sources-marked) last='click sourceMenuBtn0
wait 700
shot $SHOTS/result-sources-menu.png screen
menu sourceMarkRule7
wait 1500
shot $SHOTS/result-sources-marked.png resultWindow' ;;
    result-sources-info) last='click sourceRow2
wait 1000
hover sourceRow1
wait 300
click sourceInfoBtn1
wait 800
shot $SHOTS/result-sources-info.png resultWindow' ;;
  esac
  state $source again "$SOURCES/Camera" "$SOURCES/Laptop" "$SOURCES/Backup" <<STEPS
$OPEN_RESULT
$last
quit
STEPS
done

# --- result window: Mark in Folder from the tab row's menu ---------------------------
# The same three sources, this time in the state's home, where the folder
# panel opens: the panel, a sheet of the result window, with one of them
# chosen; then the marks it gave, the copies inside it marked and each group
# keeping one.
FOLDERS_HOME=$work/home-result-mark-in-folders
mkdir -p "$FOLDERS_HOME"
cp -r "$SOURCES"/. "$FOLDERS_HOME"/
state result-mark-in-folders again "$FOLDERS_HOME/Camera" "$FOLDERS_HOME/Laptop" "$FOLDERS_HOME/Backup" <<'STEPS'
$OPEN_RESULT
click sourceMenuBtn0
wait 700
menu sourceMarkRule4
waitfor folderPanel
wait 1500
select treeView Camera
wait 500
shot $SHOTS/result-mark-in-folders-panel.png screen
press Choose
wait 1500
click expandAllBtn
wait 800
shot $SHOTS/result-mark-in-folders.png resultWindow
quit
STEPS

# --- keyboard roads: real keys, the focus seen at every stop -----------------------
# Types KEYS with xdotool once the state's shot FILE is written, so that the
# state's next shot shows what the keys did. The shots of a road are removed
# first: a key typed after a stale picture would miss its moment.
keys_after() {
  local file=$1
  shift
  (
    for _ in $(seq 900); do
      [ -s "$file" ] && break
      sleep 0.1
    done
    sleep 0.6
    for key in "$@"; do
      xdotool key "$key"
      sleep 0.3
    done
  ) >/dev/null 2>&1 &
  pids+=($!)
}

# The search window: Tab to the + button, on past the switch to Start, on
# past Start Over and the menu button to the tiles; no stop between them
# shows nothing.
if selected search-keyboard; then
  rm -f "$SHOTS"/search-keyboard-*.png
  keys_after "$SHOTS/search-keyboard-none.png" Tab
  keys_after "$SHOTS/search-keyboard-add.png" Tab Tab
  keys_after "$SHOTS/search-keyboard-start.png" Tab Tab Tab Tab
fi
state search-keyboard again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
waitfor startBtn
wait 1500
shot $SHOTS/search-keyboard-none.png
wait 2000
shot $SHOTS/search-keyboard-add.png
wait 2500
shot $SHOTS/search-keyboard-start.png
wait 3000
shot $SHOTS/search-keyboard-tile.png
quit
STEPS

# The result window's sources: Shift+Tab from the list to the last row, Up
# to a location's row and Right along it to its info button (shown while
# the row holds the focus, with its ring), Up to the chosen row's info
# button, Space for the popover, Escape back to the button.
if selected result-info-keyboard; then
  rm -f "$SHOTS"/result-info-keyboard-*.png
  keys_after "$SHOTS/result-info-keyboard-list.png" shift+Tab Up Right Right Right
  keys_after "$SHOTS/result-info-keyboard-row.png" Up Up Up
  keys_after "$SHOTS/result-info-keyboard-chosen.png" space
  keys_after "$SHOTS/result-info-keyboard-popover.png" Escape
fi
state result-info-keyboard again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
$OPEN_RESULT
shot $SHOTS/result-info-keyboard-list.png resultWindow
wait 3500
shot $SHOTS/result-info-keyboard-row.png resultWindow
wait 3000
shot $SHOTS/result-info-keyboard-chosen.png resultWindow
wait 2500
shot $SHOTS/result-info-keyboard-popover.png screen
wait 2500
shot $SHOTS/result-info-keyboard-back.png resultWindow
quit
STEPS

# The removal panel: Tab from the list to Remove (its ring), Space, Tab round
# the Trash page to Start (its ring), on to Move to a Folder… and Space, Tab
# to Choose… on the move page, and once round its eight stops back to
# Choose…: the Trash page, gone, takes no Tab. Escape closes the panel and
# gives the focus back to Remove.
if selected removal-keyboard; then
  rm -f "$SHOTS"/removal-keyboard-*.png
  keys_after "$SHOTS/removal-keyboard-list.png" Tab Tab Tab
  keys_after "$SHOTS/removal-keyboard-remove.png" space
  keys_after "$SHOTS/removal-keyboard-panel.png" Tab Tab Tab Tab Tab
  keys_after "$SHOTS/removal-keyboard-start.png" Tab Tab Tab space Tab
  keys_after "$SHOTS/removal-keyboard-move.png" Tab Tab Tab Tab Tab Tab Tab Tab
  keys_after "$SHOTS/removal-keyboard-move-round.png" Escape
fi
state removal-keyboard again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
$OPEN_RESULT
shot $SHOTS/removal-keyboard-list.png resultWindow
wait 2500
shot $SHOTS/removal-keyboard-remove.png resultWindow
wait 3000
shot $SHOTS/removal-keyboard-panel.png resultWindow
wait 3000
shot $SHOTS/removal-keyboard-start.png resultWindow
wait 3500
shot $SHOTS/removal-keyboard-move.png resultWindow
wait 4500
shot $SHOTS/removal-keyboard-move-round.png resultWindow
wait 3000
shot $SHOTS/removal-keyboard-closed.png resultWindow
quit
STEPS

# Preferences ▸ Limitations (Ctrl+PageDown): Tab comes to the switch, into the list of
# locations (its ring) and out of it to +; Shift+Tab goes back through the
# list to the switch.
if selected preferences-keyboard; then
  rm -f "$SHOTS"/preferences-keyboard-*.png
  keys_after "$SHOTS/preferences-keyboard-general.png" ctrl+Next Tab Tab Tab
  keys_after "$SHOTS/preferences-keyboard-switch.png" Tab
  keys_after "$SHOTS/preferences-keyboard-list.png" Tab
  keys_after "$SHOTS/preferences-keyboard-out.png" shift+Tab shift+Tab
fi
state preferences-keyboard again <<'STEPS'
$OPEN_PREFERENCES
wait 900
shot $SHOTS/preferences-keyboard-general.png preferencesWindow
wait 3500
shot $SHOTS/preferences-keyboard-switch.png preferencesWindow
wait 2000
shot $SHOTS/preferences-keyboard-list.png preferencesWindow
wait 2000
shot $SHOTS/preferences-keyboard-out.png preferencesWindow
wait 2500
shot $SHOTS/preferences-keyboard-back.png preferencesWindow
quit
STEPS

# --- result window: the sources list by keyboard ----------------------------------
# Real keys, typed by xdotool once the window shows with the focus on the
# found list (its ring): Shift+Tab back to the last row of the sources, Up to
# the first source's row (its ring), Right to that row's box (the box's ring).
if selected result-sources-keyboard; then
  rm -f "$SHOTS"/result-sources-keyboard-*.png
  keys_after "$SHOTS/result-sources-keyboard-start.png" shift+Tab Up Up Up
  keys_after "$SHOTS/result-sources-keyboard-row.png" Right
fi
state result-sources-keyboard again "$TREE/Photos" "$TREE/Documents" "$TREE/Music" <<'STEPS'
$OPEN_RESULT
shot $SHOTS/result-sources-keyboard-start.png resultWindow
wait 2500
shot $SHOTS/result-sources-keyboard-row.png resultWindow
wait 2500
shot $SHOTS/result-sources-keyboard-box.png resultWindow
quit
STEPS

# --- result window: the row of file-type tabs -------------------------------------
# Five tabs, one selected with its bars, one busy with its spinner; drawn by
# the strip's own picture test in a plain window shaped like the top of a
# result window.
picture_state result-tabs kz_result_panes_ui_tests ResultTabsShots
# The missing-tracks tab fed with tracks by hand, as after a stopped search.
picture_state result-missing-tracks-fed kz_result_panes_ui_tests DeadTracksShots
# A search of the music library: its export lies where the program looks for
# it by default (under the state's home), six of its thirty tracks have lost
# their files, the question whether to list them is answered Yes, and the
# result opens on the missing-tracks tab.
MUSIC_HOME=$work/home-result-missing-tracks
bench/make-media-libraries "$MUSIC_HOME" --images 10 --tracks 30 --missing 6 >/dev/null
# Once the key window is photographed, a small window of another program
# takes the focus, and the same window is photographed again as a window in
# the background: its grouping and preview switches are off on this tab in
# both, every toolbar control in the second.
rm -f "$SHOTS/result-missing-tracks.png"
if selected result-missing-tracks; then
  (
    for _ in $(seq 600); do
      [ -s "$SHOTS/result-missing-tracks.png" ] && break
      sleep 0.1
    done
    xmessage -geometry +4-0 -timeout 8 'another program'
  ) >/dev/null 2>&1 &
  pids+=($!)
fi
state result-missing-tracks again "$MUSIC_HOME/Music/iTunes" <<'STEPS'
$START_SEARCH
wait 2500
press Yes
$SHOW_RESULT
click resultTab100000000001
waitfor deadTracksView
wait 1200
shot $SHOTS/result-missing-tracks.png resultWindow
wait 2500
shot $SHOTS/result-missing-tracks-inactive.png resultWindow
quit
STEPS

# --- result list: the mark menu, the two popovers and the context menu -------------
# A group row with a marked member and its open mark menu, the last-member
# question, a location list's group options and an item's context menu;
# drawn by the list's own picture test.
picture_state result-marking kz_result_window_ui_tests ListMarkingShots

# --- removal panel: the Trash and move pages, progress and final cards ---------
# Drawn by the panel's own picture test over a plain window shaped like a
# tab's result view.
picture_state removal-panel kz_removal_ui_tests RemovalPanelShots

# --- preferences: the three panes and a label's extensions popover -----------------
state preferences-general again <<'STEPS'
$OPEN_PREFERENCES
wait 900
shot $SHOTS/preferences-general.png preferencesWindow
quit
STEPS
state preferences-limitations again <<'STEPS'
$OPEN_PREFERENCES
click limitationsItem
waitfor locationsTable
wait 900
answer $TREE/Photos
click addLimitsBtn
wait 500
shot $SHOTS/preferences-limitations-locations.png preferencesWindow
click extensionsTabBtn
wait 500
shot $SHOTS/preferences-limitations-extensions.png preferencesWindow
quit
STEPS
state preferences-labels again <<'STEPS'
$OPEN_PREFERENCES
click labelsItem
waitfor labelTableView
wait 900
shot $SHOTS/preferences-labels.png preferencesWindow
quit
STEPS
state preferences-labels-popover again <<'STEPS'
$OPEN_PREFERENCES
click labelsItem
waitfor labelTableView
wait 900
click addLabelBtn
wait 300
type labelNameField-9 raw photos
click ellipseBtn-9
waitfor labelsPopover
click popoverAddBtn
wait 200
type tokenEditor cr2, nef, arw
click popoverAddBtn
wait 200
type tokenEditor dng, raf, orf, rw2
click popoverDoneBtn
wait 500
click ellipseBtn-9
waitfor labelsPopover
wait 600
shot $SHOTS/preferences-labels-popover.png preferencesWindow
quit
STEPS

# --- removal panel in the program: the Trash and move pages, the final card -------
# Over the result window's tab, on a copy of the tree of its own, since the
# Start removes the marked copies (to the state's own Trash).
REMOVAL_TREE=$work/tree-removal
cp -r "$TREE" "$REMOVAL_TREE"
state result-removal again "$REMOVAL_TREE" <<'STEPS'
$OPEN_RESULT
click removeBtn
waitfor removalStartTrash
wait 1500
shot $SHOTS/result-removal-trash-page.png resultWindow
click removalToFolder
wait 1500
shot $SHOTS/result-removal-move-page.png resultWindow
click removalInfo4
wait 500
shot $SHOTS/result-removal-move-info.png resultWindow
click removalInfo4
click removalToTrash
wait 1500
click removalStartTrash
waitfor removalClose
wait 1500
shot $SHOTS/result-removal-final.png resultWindow
click removalClose
wait 1000
quit
STEPS

# --- restore window: the list, a partial and a full restore, Edit > Undo -------
# Drawn by the restore window's own picture test: three removals in the Trash,
# the alert of a restore that could not put one item back (its place was
# taken), the message of a full restore, and the centred progress of an undo.
picture_state restore kz_removal_ui_tests RestoreWindowShots

# --- result files: Save… and Result > Export… through the menus ------------------
# The sheet of a save held on a slow disk, drawn by the sheet's own picture test.
picture_state result-save-progress kz_result_window_ui_tests ResultFileSheetShots
# The panels are answered by the script; the files go beside the tree.
state result-save again "$TREE" <<'STEPS'
$OPEN_RESULT
click resultTab3
wait 1200
select foundListView 0
wait 500
answer $TREE-saved.maravex
menu save
wait 2000
shot $SHOTS/result-save-after.png resultWindow
menubar resultWindow File
wait 600
shot $SHOTS/result-save-file-menu.png screen
quit
STEPS
if selected result-save; then
  if [ ! -s "$TREE-saved.maravex" ]; then
    echo "   state result-save wrote no file" >&2
    failed=1
  fi
fi

# The result window behind the Save dialog: inactive, and painted as before.
state result-save-dialog again "$TREE" <<'STEPS'
$OPEN_RESULT
click expandAllBtn
wait 800
menu save
waitfor fileNameEdit
wait 1200
shot $SHOTS/result-save-dialog.png resultWindow
move fileNameEdit 620 430
wait 800
shot $SHOTS/result-save-dialog-aside.png screen
quit
STEPS

# The reopening states below need the file that result-save writes; when
# that state was not asked for, the file is written here, unphotographed.
if selected result-reopen && [ ! -s "$TREE-saved.maravex" ]; then
  filter= state saved-result-for-reopen again "$TREE" <<'STEPS'
$OPEN_RESULT
answer $TREE-saved.maravex
menu save
wait 2000
quit
STEPS
fi

# The file saved above, opened as the program is handed it: the same tab,
# source row, selection and marks come back in the result window. A small
# result may open before the brief opening window can be seen: then the
# first picture shows the result coming up from the progress window, as a
# search's does.
state result-reopen again "$TREE-saved.maravex" <<'STEPS'
waitfor openingWindow foundListView
# Its first frame, not the moment it is mapped before it has painted.
wait 300
shot $SHOTS/result-reopen-opening.png screen
waitfor foundListView
wait 2500
shot $SHOTS/result-reopen.png resultWindow
quit
STEPS

# Back from a reopened result: the progress window it came up through, at
# its end as after a search, with Show Result; nothing is asked.
state result-reopen-back again "$TREE-saved.maravex" <<'STEPS'
waitfor foundListView
wait 2500
click goBackBtn
waitfor showResultButton
wait 1500
shot $SHOTS/result-reopen-back.png screen
quit
STEPS

# Search Again after a reopened result, by both ways of opening it: back
# through its progress window, which asks whether its result may go, as
# after a search; then the search
# window comes back holding the saved sources, laid out with its Start
# button.
state result-reopen-search-again-open again <<'STEPS'
waitfor addBtn
wait 800
answer $TREE-saved.maravex
menu openSaved
waitfor foundListView
wait 2500
menu searchAgain
wait 3000
shot $SHOTS/result-reopen-search-again-question.png screen
press New Search
waitfor startBtn
wait 1500
shot $SHOTS/result-reopen-search-again-open.png searchWindow
quit
STEPS

state result-reopen-search-again-argument again "$TREE-saved.maravex" <<'STEPS'
waitfor foundListView
wait 2500
menu searchAgain
wait 1000
press New Search
waitfor startBtn
wait 1500
shot $SHOTS/result-reopen-search-again-argument.png searchWindow
quit
STEPS

state result-export again "$TREE" <<'STEPS'
$OPEN_RESULT
answer $TREE-exported.txt
menu resultExport
wait 2000
shot $SHOTS/result-export-after.png resultWindow
menubar resultWindow Result
wait 600
shot $SHOTS/result-export-menu.png screen
quit
STEPS
# The header and every row have the same TAB-separated fields; the title and
# the footer are single fields.
if selected result-export; then
  if [ ! -s "$TREE-exported.txt" ]; then
    echo "   state result-export wrote no file" >&2
    failed=1
  elif ! awk -F'\t' 'NF > 1 { if (n == 0) n = NF; else if (NF != n) { bad = 1; print "   uneven line " NR ": " NF " fields, not " n > "/dev/stderr" } ; rows++ }
                     END { exit (bad || rows < 2) }' "$TREE-exported.txt"; then
    echo "   state result-export: the exported lines differ in their fields" >&2
    failed=1
  fi
fi

ls -1 "$SHOTS"
exit $failed
