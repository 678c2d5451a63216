#!/usr/bin/env bash
# orvane-demo's command line: --help, and --replay / --fps refusing what cannot be replayed with a
# message on stderr and status 2, before any window opens; then SIGRTMIN telling how many frames the
# replaying microscope has delivered (on Qt's offscreen platform, so no display is needed).
# Usage: replay_args_e2e.sh /path/to/orvane-demo
set -u
demo=${1:?usage: replay_args_e2e.sh /path/to/orvane-demo}
command -v ffmpeg >/dev/null || { echo "SKIP: ffmpeg is not installed"; exit 77; }
name=replay_args_e2e
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=e2e_lib.sh
. "$here/e2e_lib.sh"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen
failures=0

# expect STATUS TEXT ARGS...: the demo ends with STATUS and TEXT in its output.
expect() {
  local status=$1 text=$2 got
  shift 2
  got=$(timeout 60 "$demo" "$@" 2>&1)
  local rc=$?
  if [ "$rc" != "$status" ] || [[ "$got" != *"$text"* ]]; then
    echo "FAIL: orvane-demo $* gave status $rc (wanted $status) and: $got"
    failures=$((failures + 1))
  fi
}

ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=10 -t 0.5 -c:v mpeg4 "$work/mpeg4.avi" || exit 1
ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=10 -t 0.5 -c:v mjpeg -frames:v 0 "$work/none.avi" || exit 1
printf 'not a picture\n' >"$work/notes.txt"

expect 0 "--replay FILE" --help
expect 0 "1 GiB" --help
expect 2 "No such file" --replay "$work/missing.mjpeg"
expect 2 "not a video" --replay "$work/notes.txt"
expect 2 "replay takes MJPEG or raw YUYV" --replay "$work/mpeg4.avi"
expect 2 "no frames" --replay "$work/none.avi"
expect 2 "--replay needs a value" --replay
expect 2 "--fps takes a frame rate" --replay "$work/notes.txt" --fps fast
expect 2 "--fps takes a frame rate" --replay "$work/notes.txt" --fps=-3
expect 2 "--fps needs --replay" --fps 15

ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=10 -t 0.5 -q:v 3 -f mjpeg "$work/small.mjpeg" || exit 1
mkdir -m 700 "$work/run"
XDG_RUNTIME_DIR="$work/run" "$demo" --replay "$work/small.mjpeg" --fps 30 >"$work/demo.log" 2>&1 &
demo_pid=$!
# The signal ends a program that does not block it yet: it is sent once the demo blocks it.
blocks_rtmin() {
  local mask
  mask=$(awk '/^SigBlk:/ { print $2 }' "/proc/$demo_pid/status" 2>/dev/null) && [ -n "$mask" ] &&
    [ $(((0x$mask >> ($(kill -l RTMIN) - 1)) & 1)) = 1 ]
}
counted() {
  blocks_rtmin && kill -s RTMIN "$demo_pid" 2>/dev/null && grep -Eq "delivered [1-9][0-9]* frames" "$work/demo.log"
}
if ! wait_for 60 counted; then
  echo "FAIL: SIGRTMIN did not tell the frames delivered: $(tail -5 "$work/demo.log")"
  failures=$((failures + 1))
fi

[ "$failures" = 0 ] && echo "PASS" || exit 1
