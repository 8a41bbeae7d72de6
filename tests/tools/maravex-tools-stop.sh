#!/usr/bin/env bash
# How the search and removal tools end: SIGINT, SIGTERM and SIGHUP stop
# them as the Stop button does, in every mode, with every item handled
# printed; a folder named that cannot be searched gives the same status in
# both; and each reason is said once.
set -euo pipefail
search=$1
remove=$2
. "$(dirname "$0")/search-tool-test.sh"
status=0
fail() { echo "$*"; status=1; }

# Whether process $1 has its own handler for signal number $2.
catches() {
  local mask
  mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2> /dev/null) || return 1
  [ -n "$mask" ] && (( (16#$mask >> ($2 - 1)) & 1 ))
}
# Waits until process $1 catches signal $2 (a name), at most 10 seconds.
wait_catches() {
  local number
  number=$(kill -l "$2")
  for _ in $(seq 1000); do
    catches "$1" "$number" && return 0
    kill -0 "$1" 2> /dev/null || return 1
    sleep 0.01
  done
  return 1
}
# $1 pairs of small files under $2/a and $2/b.
make_pairs() {
  python3 -I -S - "$1" "$2" <<'PY'
import os, sys
count, top = int(sys.argv[1]), sys.argv[2]
for side in ("a", "b"):
    os.makedirs(os.path.join(top, side))
    for i in range(count):
        with open(os.path.join(top, side, str(i)), "w") as f:
            f.write("pair %d" % i)
PY
}
files_in() { find "$1" -type f | sort; }

# A removal of a saved result stopped in the middle by each signal: what
# left is printed as removed, every marked item has its record, the run
# says it stopped and ends with 130.
pairs=1500
for signal in INT TERM HUP; do
  tree=$work/saved-$signal
  make_pairs $pairs "$tree"
  "$search" --save "$work/$signal.maravex" "$tree" > /dev/null 2> "$work/err" || { cat "$work/err"; exit 1; }
  files_in "$tree" > "$work/before"
  rc=0
  # Each background run writes to files of its own: the shell truncates
  # them only once the run has started.
  err=$work/err-saved-$signal
  "$remove" --trash --saved "$work/$signal.maravex" --pause-before-removal "$work/go-$signal" \
    > "$work/out" 2> "$err" &
  pid=$!
  wait_catches $pid "$signal" || fail "SIG$signal: the remover never catches it"
  for _ in $(seq 3000); do grep -q "^marked" "$err" 2> /dev/null && break; sleep 0.01; done
  touch "$work/go-$signal"
  # Once the first item has left, the removal is under way.
  for _ in $(seq 3000); do [ "$(files_in "$tree" | wc -l)" -lt $((2 * pairs)) ] && break; sleep 0.01; done
  kill -s "$signal" $pid 2> /dev/null || true
  wait $pid || rc=$?
  files_in "$tree" > "$work/after"
  [ "$rc" = 130 ] || fail "SIG$signal in the middle of a removal: status $rc (130 expected): $(tail -3 "$err")"
  [ "$(wc -l < "$work/out")" = $pairs ] || fail "SIG$signal: $(wc -l < "$work/out") records for $pairs marked items"
  comm -23 "$work/before" "$work/after" > "$work/gone"
  { grep $'^removed\t' "$work/out" || true; } | cut -f3 | sort > "$work/told"
  cmp -s "$work/gone" "$work/told" \
    || fail "SIG$signal: the items that left are not the items told removed: $(diff "$work/gone" "$work/told" | head -5)"
  [ -s "$work/gone" ] && [ "$(wc -l < "$work/gone")" -lt $pairs ] \
    || fail "SIG$signal: not stopped in the middle ($(wc -l < "$work/gone") of $pairs left)"
  grep -q $'^kept\tstopped\t' "$work/out" || fail "SIG$signal: no item is told as kept by the stop: $(tail -3 "$work/out")"
  grep -q "^stopped: found" "$err" || fail "SIG$signal: the summary does not say stopped: $(tail -3 "$err")"
done

# Stopped while it waits to begin: nothing moves, and every marked item is
# told as kept by the stop.
tree=$work/waiting
make_pairs 3 "$tree"
files_in "$tree" > "$work/before"
rc=0
"$remove" --trash --pause-before-removal "$work/never" "$tree" > "$work/out" 2> "$work/err-waiting" &
pid=$!
wait_catches $pid HUP || fail "SIGHUP: the remover never catches it"
for _ in $(seq 3000); do grep -q "^marked" "$work/err-waiting" 2> /dev/null && break; sleep 0.01; done
kill -s HUP $pid
wait $pid || rc=$?
[ "$rc" = 130 ] || fail "SIGHUP before the removal: status $rc (130 expected): $(cat "$work/err-waiting")"
[ "$(grep -c $'^kept\tstopped\t' "$work/out")" = 3 ] || fail "SIGHUP before the removal: $(cat "$work/out")"
files_in "$tree" | cmp -s - "$work/before" || fail "SIGHUP before the removal: items moved"

# The search tool stopped by each signal in the middle of a search: what
# was found until then is printed, and it says so.
python3 -I -S - "$work/big" <<'PY'
import os, sys
top = sys.argv[1]
for i in range(20000):
    folder = os.path.join(top, "d%02d" % (i % 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%d" % i), "w") as f:
        f.write("p" * 8000 + "%08d" % (i if i % 3 else 0))
PY
for signal in INT TERM HUP; do
  rc=0
  "$search" "$work/big" > "$work/out" 2> "$work/err" &
  pid=$!
  wait_catches $pid "$signal" || fail "SIG$signal: the search tool never catches it"
  kill -s "$signal" $pid 2> /dev/null || true
  wait $pid || rc=$?
  [ "$rc" = 130 ] || fail "SIG$signal during a search: status $rc (130 expected): $(tail -3 "$work/err")"
  grep -q "^stopped: checked" "$work/err" || fail "SIG$signal: the summary does not say stopped: $(tail -3 "$work/err")"
  grep -qv $'^[0-9]*\t[0-9]*\t/' "$work/out" && fail "SIG$signal: a record is cut: $(grep -v $'^[0-9]*\t[0-9]*\t/' "$work/out" | head -2)"
done

# A stop signal once the work is over, while the records wait on a reader
# that takes nothing yet: every record arrives whole and the run ends as
# without the signal, or the run ends non-zero and says that records were
# lost. Never fewer records, or a record cut, with status 0.
# Whether process $1 waits to write into a full pipe (the kernel's function
# is pipe_write, or anon_pipe_write in later kernels).
writing_to_pipe() {
  local where=
  read -r where 2> /dev/null < "/proc/$1/wchan" || true
  [[ $where == *pipe_write ]]
}
# Reads the pipe $1 into $3, only once $2 exists, a little at a time.
slow_reader() {
  python3 -I -S - "$@" <<'PY'
import os, sys, time
pipe, go, out = sys.argv[1:]
fd = os.open(pipe, os.O_RDONLY)
while not os.path.exists(go):
    time.sleep(0.01)
with open(out, "wb") as f:
    while True:
        chunk = os.read(fd, 1000)
        if not chunk:
            break
        f.write(chunk)
        time.sleep(0.0005)
PY
}
# A kernel that names no waiting function (wchan reads 0 or nothing) cannot
# tell when a tool waits on the pipe: the section says so and is left out.
sleep 5 &
sleeper=$!
sleep 0.2
wchan_works=
where=$(cat "/proc/$sleeper/wchan" 2> /dev/null || true)
[[ $where == *sleep* ]] && wchan_works=1
kill $sleeper 2> /dev/null || true
wait $sleeper 2> /dev/null || true
[ -n "$wchan_works" ] || echo "skipped: this kernel does not say where a process waits (/proc/PID/wchan)"
pairs=3000
for tool in $([ -n "$wchan_works" ] && echo remove search); do
  for signal in TERM INT HUP; do
    tree=$work/slow-$tool-$signal
    make_pairs $pairs "$tree"
    rm -f "$work/pipe" "$work/go"
    mkfifo "$work/pipe"
    slow_reader "$work/pipe" "$work/go" "$work/records" &
    reader=$!
    err=$work/err-slow-$tool-$signal
    if [ $tool = remove ]; then
      "$remove" --trash "$tree" > "$work/pipe" 2> "$err" &
      expected=$pairs
      record=$'^(removed|kept|failed)\t[a-z_]+\t/'
    else
      "$search" "$tree" > "$work/pipe" 2> "$err" &
      expected=$((2 * pairs))
      record=$'^[0-9]+\t[0-9]+\t/'
    fi
    pid=$!
    # Records are printed once the work is over: waiting on the pipe, the
    # run has nothing left to do but print.
    for _ in $(seq 6000); do
      writing_to_pipe $pid && break
      kill -0 $pid 2> /dev/null || break
      sleep 0.01
    done
    writing_to_pipe $pid || fail "$tool: never waits on a full pipe"
    kill -s "$signal" $pid 2> /dev/null || true
    sleep 0.2
    touch "$work/go"
    rc=0
    wait $pid || rc=$?
    wait $reader || fail "$tool: the reader failed"
    whole=$(grep -cE "$record" "$work/records" || true)
    lines=$(tr -cd '\n' < "$work/records" | wc -c)
    if [ "$rc" = 0 ]; then
      [ "$whole" = $expected ] && [ "$lines" = $expected ] \
        || fail "$tool, SIG$signal while printing: status 0 with $whole whole records of $expected ($lines lines): $(tail -2 "$err")"
    else
      [ "$rc" != 130 ] || fail "$tool, SIG$signal after the work was over: told as stopped"
      grep -q "not every record reached standard output" "$err" \
        || fail "$tool, SIG$signal while printing: status $rc without saying why: $(tail -2 "$err")"
    fi
  done
done

# A record that cannot be written at all fails the run, and the run says so.
for tool in remove search; do
  tree=$work/full-$tool
  make_pairs 3 "$tree"
  rc=0
  if [ $tool = remove ]; then
    "$remove" --trash "$tree" > /dev/full 2> "$work/err" || rc=$?
  else
    "$search" "$tree" > /dev/full 2> "$work/err" || rc=$?
  fi
  [ "$rc" = 1 ] && grep -q "not every record reached standard output" "$work/err" \
    || fail "$tool into a full disk: status $rc (1 expected): $(cat "$work/err")"
done

# A folder named that is not there beside a good one: both tools search the
# good one and end with 3, as their help says.
make_pairs 1 "$work/good"
rc=0
"$remove" --trash "$work/nothere" "$work/good" > "$work/out" 2> "$work/err" || rc=$?
[ "$rc" = 3 ] && grep -q "$work/nothere" "$work/err" && [ "$(grep -c $'^removed\t' "$work/out")" = 1 ] \
  || fail "the remover with a missing folder beside a good one: status $rc (3 expected): $(cat "$work/out" "$work/err")"
grep -q "^incomplete: found" "$work/err" || fail "the remover does not say the search was incomplete: $(cat "$work/err")"

# A saved search that cannot be read, alone: nothing could be searched, said
# once, and not called incomplete.
cat > "$work/noscopes.savedSearch" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>RawQueryDict</key><dict>
<key>RawQuery</key><string>kMDItemFSName == "*"</string>
<key>SerchScopes</key><array/>
</dict></dict></plist>
PLIST
for tool in "$search" "$remove --trash"; do
  rc=0
  # shellcheck disable=SC2086
  $tool "$work/noscopes.savedSearch" > "$work/out" 2> "$work/err" || rc=$?
  [ "$rc" = 1 ] && [ "$(grep -c "nothing could be searched" "$work/err")" = 1 ] \
    && [ "$(grep -c "noscopes.savedSearch" "$work/err")" = 1 ] \
    || fail "$tool, a damaged saved search alone: status $rc, not each thing said once: $(cat "$work/err")"
  grep -q "^incomplete" "$work/err" && fail "$tool: nothing searched is called incomplete: $(cat "$work/err")"
done

# The removal stopped before its end: its reason is said once.
make_pairs 1 "$work/to-nowhere"
"$remove" --move-to "$work/nowhere" "$work/to-nowhere" > "$work/out" 2> "$work/err" || true
[ "$(grep -c "cannot be found" "$work/err")" = 1 ] || fail "the stop's reason is not said once: $(cat "$work/err")"

# A reader that has gone before the records come (`| head -1` once it has
# its line): each tool says that records were lost and ends with status 1,
# never killed unseen by SIGPIPE. The pipe's reading end is closed before
# the tool starts, so that the first write fails on every run.
closed_reader() {
  python3 -I -S - "$@" <<'PY'
import os, subprocess, sys
err, command = sys.argv[1], sys.argv[2:]
read_end, write_end = os.pipe()
os.close(read_end)
with open(err, "wb") as f:
    print(subprocess.run(command, stdout=write_end, stderr=f).returncode)
PY
}
make_pairs 2 "$work/closed-reader"
for tool in "$search" "$remove --trash"; do
  # shellcheck disable=SC2086
  rc=$(closed_reader "$work/err" $tool "$work/closed-reader")
  [ "$rc" = 1 ] && grep -q "not every record reached standard output" "$work/err" \
    || fail "$tool, a reader that closed early: status $rc (1 expected): $(tail -3 "$work/err")"
done

# The only folder named cannot be listed (an ordinary user's view of a
# folder closed to them): nothing could be searched, status 1 in both
# tools; beside a good folder, 3.
if [ "$(id -u)" = 0 ] && command -v setpriv > /dev/null; then
  u=$work/user
  mkdir -p "$u/home" "$u/closed"
  make_pairs 1 "$u/open"
  copy_tools_for_user "$u/tools" "$search" "$remove"
  chown -hR 65534:65534 "$u"
  chown root:root "$u/closed"
  chmod 700 "$u/closed"
  chmod 755 "$work"
  as_user test -x "$u/tools/maravex-remove" || { echo "the ordinary user cannot reach $u/tools"; exit 1; }
  for tool in maravex-search "maravex-remove --trash"; do
    rc=0
    # shellcheck disable=SC2086
    as_user "$u/tools/"$tool "$u/closed" > "$work/out" 2> "$work/err" || rc=$?
    [ "$rc" = 1 ] && grep -q "$u/closed: cannot be listed" "$work/err" \
      && [ "$(grep -c "nothing could be searched" "$work/err")" = 1 ] \
      || fail "$tool, the only folder cannot be listed: status $rc (1 expected): $(cat "$work/err")"
    rc=0
    # shellcheck disable=SC2086
    as_user "$u/tools/"$tool "$u/closed" "$u/open" > "$work/out" 2> "$work/err" || rc=$?
    [ "$rc" = 3 ] || fail "$tool, a folder that cannot be listed beside a good one: status $rc (3 expected): $(cat "$work/err")"
  done
fi
exit $status
