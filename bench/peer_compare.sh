#!/usr/bin/env bash
# Whole-program speed against other players, on identical frames. Makes two MJPEG streams with
# ffmpeg (testsrc2 with noise, quality 3, 30 fps; 1920 x 1080 and 2592 x 1944), then on a private
# Xvfb display with openbox:
#   preview: the CPU share of the whole orvane-demo process replaying a file at 30 fps, against
#            ffplay playing the same file at 30 fps with its picture the size of Orvane's live pane;
#   record:  CPU seconds per frame of orvane-demo recording the replayed 1080p stream, against
#            `ffmpeg -i FILE -c:v mpeg4 -vtag XVID out.avi` on the same frames, and the frames lost.
# The programs run one after the other, never together; every figure is the lower of --repeat runs.
# Builds nothing: give it a build tree holding bin/orvane-demo (best a Release one).
#
# Usage: bench/peer_compare.sh [options] [BUILD_DIR]
#   BUILD_DIR           default: build/bench if it has orvane-demo, else build/release
#   --duration S        seconds measured per run (default 15)
#   --warmup S          seconds a program runs before the measurement starts (default 5)
#   --repeat N          runs per figure, the lowest kept (default 2)
#   --parts LIST        comma-separated: 1080, 1944, record (default all three)
#   --pane-height H     height of Orvane's live pane to aim at (default 720; the preview area is
#                       made wider than a 16:9 picture of that height, so each file's picture is
#                       H high)
#   --inputs DIR        where the generated streams are kept (default BUILD_DIR/peer-inputs)
#   --ffplay-renderer R SDL render driver for ffplay (default software, as Orvane paints on the
#                       CPU too; "auto" leaves SDL's choice, which on Xvfb is OpenGL in software)
#   --keep DIR          keep the working folder (logs, screenshots, the movies) in DIR
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
duration=15
warmup=5
repeat=2
parts="1080,1944,record"
pane_height=720
inputs=""
renderer=software
keep=""
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --duration) duration=${2:?}; shift 2 ;;
    --warmup) warmup=${2:?}; shift 2 ;;
    --repeat) repeat=${2:?}; shift 2 ;;
    --parts) parts=${2:?}; shift 2 ;;
    --pane-height) pane_height=${2:?}; shift 2 ;;
    --inputs) inputs=${2:?}; shift 2 ;;
    --ffplay-renderer) renderer=${2:?}; shift 2 ;;
    --keep) keep=${2:?}; shift 2 ;;
    -h | --help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "peer_compare: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
if [ -z "$build" ]; then
  build="$top/build/bench"
  [ -x "$build/bin/orvane-demo" ] || build="$top/build/release"
fi
build=$(cd "$build" 2>/dev/null && pwd) || { echo "peer_compare: no build tree $build" >&2; exit 2; }
demo="$build/bin/orvane-demo"
[ -x "$demo" ] || { echo "peer_compare: $demo is missing (cmake --build $build --target orvane-demo)" >&2; exit 2; }
for tool in ffmpeg ffprobe ffplay Xvfb openbox xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "peer_compare: $tool is not installed (scripts/setup)" >&2; exit 2; }
done
inputs=${inputs:-$build/peer-inputs}
mkdir -p "$inputs"
has_part() { case ",$parts," in *",$1,"*) return 0 ;; *) return 1 ;; esac; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-peer-XXXXXX")
xvfb_pid="" wm_pid="" prog_pid=""
stop_pid() {  # ends one process we started and reaps it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null
  local deadline=$((SECONDS + 5))
  running() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state:0:1}" != Z ]; }
  while running "$1" && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  return 0
}
cleanup() {
  stop_pid "$prog_pid"
  stop_pid "$wm_pid"
  stop_pid "$xvfb_pid"
  if [ -n "$keep" ]; then
    mkdir -p "$keep" && cp -r "$work"/. "$keep"/ && echo "working folder kept in $keep" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

note() { echo "peer_compare: $*" >&2; }
die() { note "$*"; exit 1; }
wait_for() {  # seconds command...: until the command succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}
now() { date +%s.%N; }
calc() { python3 -c "print($1)"; }
hz=$(getconf CLK_TCK)
# CPU seconds so far of every thread of the process, living or ended (its children not counted).
cpu_seconds() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  # shellcheck disable=SC2086 # the fields, split
  set -- $stat
  calc "(${12} + ${13}) / $hz"
}

# --- inputs ---------------------------------------------------------------------------------------
make_input() {  # width height -> path
  local file="$inputs/testsrc2-noise-${1}x${2}-q3-30fps-10s.mjpeg"
  if [ ! -s "$file" ]; then
    note "making $file"
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=${1}x${2}:rate=30" -vf noise=alls=20:allf=t+u -t 10 \
      -q:v 3 -f mjpeg "$file.part" || die "ffmpeg could not make $file"
    mv "$file.part" "$file"
  fi
  echo "$file"
}

# --- display ----------------------------------------------------------------------------------------
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
wait_for 10 test -s "$work/display" || die "Xvfb did not start"
DISPLAY=":$(head -1 "$work/display")"
export DISPLAY
openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_for 10 xprop -root _NET_SUPPORTING_WM_CHECK || die "openbox did not start"

# A scratch HOME and XDG folders for each run: settings, lock and movies never touch the user's.
# in_home runs in the background only (it replaces the subshell, so that $! is the program).
fresh_home() {
  home="$work/home-$1"
  rm -rf "$home"
  mkdir -p "$home/Documents" "$home/.config" "$home/run"
  chmod 700 "$home/run"
}
in_home() {
  exec env -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
    XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" XDG_DOCUMENTS_DIR="$home/Documents" \
    LANG=C.UTF-8 LC_ALL=C.UTF-8 "$@"
}

# The client area of window $1 on the screen: sets X Y WIDTH HEIGHT. xwininfo, as xdotool's position
# is off by the title bar under openbox.
geometry() {
  local info
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  X=$(awk '/Absolute upper-left X:/ { print $4 }' <<<"$info")
  Y=$(awk '/Absolute upper-left Y:/ { print $4 }' <<<"$info")
  WIDTH=$(awk '/^ *Width:/ { print $2 }' <<<"$info")
  HEIGHT=$(awk '/^ *Height:/ { print $2 }' <<<"$info")
  [ -n "$X" ] && [ -n "$Y" ] && [ -n "$WIDTH" ] && [ -n "$HEIGHT" ]
}

# The live pane of the viewer: the window's client area is searched for the preview's dark bands
# (RGB 24,24,24); the pane is what lies between them. Prints "px py pw ph bx by bw bh": the pane and
# the preview area around it, relative to the window. Fails while no picture is shown.
find_pane() {
  local X Y WIDTH HEIGHT
  geometry "$1" || return 1
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -depth 8 "ppm:$work/window.ppm" 2>/dev/null || return 1
  python3 - "$work/window.ppm" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
fields, pos = [], 0
while len(fields) < 4:  # P6 width height maxval, with comments allowed
    while data[pos:pos + 1].isspace(): pos += 1
    if data[pos:pos + 1] == b'#':
        pos = data.index(b'\n', pos) + 1
        continue
    end = pos
    while not data[end:end + 1].isspace(): end += 1
    fields.append(data[pos:end]); pos = end
pos += 1
w, h = int(fields[1]), int(fields[2])
pix = data[pos:pos + w * h * 3]
band = bytes((24, 24, 24))
def dark(x, y):
    i = (y * w + x) * 3
    return pix[i:i + 3] == band
# Long runs of band colour mark the preview area; stray pixels of the picture do not.
xs, ys = [], []
for y in range(0, h, 2):
    run = 0
    for x in range(w):
        run = run + 1 if dark(x, y) else 0
        if run == 16:
            xs.append(x - 15); ys.append(y)
        elif run > 16:
            xs.append(x)
if not xs: sys.exit(1)
bx0, bx1, by0, by1 = min(xs), max(xs), min(ys), max(ys)
while by0 > 0 and dark(bx0, by0 - 1): by0 -= 1
while by1 + 1 < h and dark(bx0, by1 + 1): by1 += 1
while bx0 > 0 and dark(bx0 - 1, by0): bx0 -= 1
while bx1 + 1 < w and dark(bx1 + 1, by0): bx1 += 1
cx, cy = (bx0 + bx1) // 2, (by0 + by1) // 2
px0 = bx0
while px0 <= bx1 and dark(px0, cy): px0 += 1
px1 = bx1
while px1 >= px0 and dark(px1, cy): px1 -= 1
py0 = by0
while py0 <= by1 and dark(cx, py0): py0 += 1
py1 = by1
while py1 >= py0 and dark(cx, py1): py1 -= 1
if px1 - px0 < 64 or py1 - py0 < 64: sys.exit(1)
print(px0, py0, px1 - px0 + 1, py1 - py0 + 1, bx0, by0, bx1 - bx0 + 1, by1 - by0 + 1)
EOF
}

# Starts orvane-demo replaying $1 in a fresh home, waits for its live picture and sizes the window so
# that the preview area is $pane_height high and wider than a 16:9 picture of that height (the
# picture fills the height). Sets prog_pid, win, win_w/h (the size it opened with: the toolbar's
# scale), pane_w, pane_h.
start_orvane() {
  fresh_home "$2"
  in_home "$demo" --replay "$1" --fps 30 >"$work/orvane-$2.log" 2>&1 &
  prog_pid=$!
  find_viewer() { xdotool search --onlyvisible --pid "$prog_pid" --name "Default View" | head -1; }
  wait_for 180 find_viewer || die "the viewer window did not appear (see orvane-$2.log)"
  win=$(find_viewer)
  local X Y WIDTH HEIGHT
  geometry "$win" || die "the viewer window has no geometry"
  win_w=$WIDTH win_h=$HEIGHT
  wait_for 60 find_pane "$win" || die "no live picture in the viewer"
  local want_h=$pane_height want_w=$((pane_height * 16 / 9 + 48)) try pane
  local try
  for try in 1 2 3 4; do
    [ "$try" -gt 1 ] && sleep 0.5
    pane=$(find_pane "$win") || { sleep 0.5; continue; }
    read -r _ _ pane_w pane_h _ _ bw bh <<<"$pane"
    [ "$bh" -eq "$want_h" ] && [ "$bw" -ge "$want_w" ] && break
    geometry "$win" || continue
    xdotool windowsize --sync "$win" $((WIDTH + want_w - bw)) $((HEIGHT + want_h - bh))
    sleep 1
  done
  pane=$(find_pane "$win") || die "no live picture after sizing the window"
  read -r _ _ pane_w pane_h _ _ bw bh <<<"$pane"
  geometry "$win"
  note "orvane window ${WIDTH}x${HEIGHT}, preview area ${bw}x${bh}, live pane ${pane_w}x${pane_h}"
}
stop_program() {
  stop_pid "$prog_pid"
  prog_pid=""
}

# Frames the replaying microscope has delivered so far: orvane-demo prints them on SIGRTMIN into its
# log $1. A camera sends a frame only into a buffer the viewer has given back, so this is what the
# viewer took in.
delivered() {
  local before
  before=$(grep -c "has delivered" "$1")
  kill -s RTMIN "$prog_pid" 2>/dev/null || return 1
  printed() { [ "$(grep -c "has delivered" "$1")" -gt "$before" ]; }
  wait_for 5 printed "$1" || return 1
  grep "has delivered" "$1" | tail -1 | awk '{ print $(NF - 1) }'
}
# Frames ffplay has dropped so far, from the last status line in its log $1.
ffplay_dropped() { tr '\r' '\n' <"$1" | grep -o 'fd= *[0-9]*' | tail -1 | tr -dc 0-9; }

# CPU share of the process $prog_pid over $duration seconds, after $warmup seconds. $1: "orvane" or
# "ffplay", $2 its log. Prints the share and the frames per second the program took in (Orvane) or
# dropped (ffplay) over the same time.
measure_share() {
  sleep "$warmup"
  kill -0 "$prog_pid" 2>/dev/null || return 1
  local c0 t0 c1 t1 f0 f1 ft0 ft1
  if [ "$1" = orvane ]; then f0=$(delivered "$2") || return 1; else f0=$(ffplay_dropped "$2"); fi
  ft0=$(now)
  c0=$(cpu_seconds "$prog_pid") || return 1
  t0=$(now)
  sleep "$duration"
  c1=$(cpu_seconds "$prog_pid") || return 1
  t1=$(now)
  if [ "$1" = orvane ]; then f1=$(delivered "$2") || return 1; else f1=$(ffplay_dropped "$2"); fi
  ft1=$(now)
  calc "round(($c1 - $c0) / ($t1 - $t0), 4), round((${f1:-0} - ${f0:-0}) / ($ft1 - $ft0), 1)" | tr -d '(),'
}
lower() { python3 -c "import sys; v=[float(a) for a in sys.argv[1:] if a]; print(min(v) if v else '')" "$@"; }

declare -A result
preview_part() {  # width height label
  local file label=$3 run share rate orvane_shares=() ffplay_shares=() pane="" rates=() drops=()
  file=$(make_input "$1" "$2") || exit 1
  for run in $(seq "$repeat"); do
    start_orvane "$file" "$label-$run"
    pane="${pane_w}x${pane_h}"
    read -r share rate <<<"$(measure_share orvane "$work/orvane-$label-$run.log")"
    [ -n "$rate" ] || die "orvane-demo ended early (see orvane-$label-$run.log)"
    stop_program
    note "$label run $run: orvane-demo ${share} of a core, took in $rate frames/s (pane $pane)"
    orvane_shares+=("$share")
    rates+=("$rate")

    local sdl=()
    [ "$renderer" != auto ] && sdl=(SDL_RENDER_DRIVER="$renderer")
    env "${sdl[@]}" ffplay -v error -stats -an -x "$pane_w" -y "$pane_h" -loop 0 \
      -f mjpeg -framerate 30 "$file" >"$work/ffplay-$label-$run.log" 2>&1 &
    prog_pid=$!
    read -r share rate <<<"$(measure_share ffplay "$work/ffplay-$label-$run.log")"
    [ -n "$rate" ] || die "ffplay ended early (see ffplay-$label-$run.log)"
    stop_program
    note "$label run $run: ffplay ${share} of a core, dropped $rate frames/s"
    ffplay_shares+=("$share")
    drops+=("$rate")
  done
  result[$label.pane]=$pane
  result[$label.orvane]=$(lower "${orvane_shares[@]}")
  result[$label.ffplay]=$(lower "${ffplay_shares[@]}")
  result[$label.ratio]=$(calc "round(${result[$label.orvane]} / ${result[$label.ffplay]}, 2)")
  result[$label.rates]="${rates[*]}"
  result[$label.drops]="${drops[*]}"
}

probe() {  # movie entry -> count
  ffprobe -v error -count_frames -count_packets -select_streams v:0 \
    -show_entries "stream=$2" -of csv=p=0 "$1" 2>/dev/null
}

# The Recording button, in the toolbar's template place (dialog units 115,2 37x24 of the window's
# 699x479 when it opened; the toolbar keeps its place when the window is resized).
# The window may have moved since (openbox keeps a grown window on the screen).
click_recording() {
  local cx cy X Y WIDTH HEIGHT
  geometry "$win" || return 1
  cx=$(calc "int((115 + 37 / 2) * $win_w / 699)")
  cy=$(calc "int((2 + 24 / 2) * $win_h / 479)")
  xdotool mousemove --sync $((X + cx)) $((Y + cy)) click 1
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
}

record_part() {
  local file run movie c0 t0 t1 c2 cpu frames span expected per_frame
  local orvane_per=() ffmpeg_per=() lost=() gaps=() counted=()
  file=$(make_input 1920 1080) || exit 1
  for run in $(seq "$repeat"); do
    start_orvane "$file" "record-$run"
    sleep "$warmup"
    local movies="$home/Documents/zentrova/Movies"
    newest_movie() { find "$movies" -type f -name '*.avi' 2>/dev/null | head -1 | grep .; }
    c0=$(cpu_seconds "$prog_pid") || die "orvane-demo ended early"
    t0=$(now)
    click_recording
    wait_for 10 newest_movie || die "the Recording button started no movie (see orvane-record-$run.log)"
    sleep "$(calc "max(0, $duration - ($(now) - $t0))")"
    t1=$(now)
    click_recording
    movie=$(newest_movie)
    # Finished once its size stays put: the encoder has drained and the index is written.
    local last=-1 size
    while :; do
      size=$(stat -c %s "$movie")
      [ "$size" = "$last" ] && break
      last=$size
      sleep 0.3
      [ "$(calc "int($(now) - $t1)")" -gt 30 ] && die "the movie did not stop growing"
    done
    c2=$(cpu_seconds "$prog_pid") || die "orvane-demo ended early"
    stop_program
    cp "$movie" "$work/orvane-record-$run.avi"
    frames=$(probe "$movie" nb_read_frames)
    # Frame periods the movie spans from its first frame to its last, by the timestamps.
    span=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts,size -of csv=p=0 "$movie" |
      python3 -c "import sys
pts = [int(l.split(',')[0]) for l in sys.stdin if l.strip() and l.split(',')[0] != 'N/A' and int(l.split(',')[1]) > 0]
print(max(pts) - min(pts) + 1 if pts else 0)")
    [ "${frames:-0}" -gt 0 ] || die "the movie holds no frames"
    cpu=$(calc "$c2 - $c0")
    expected=$(calc "round(($t1 - $t0) * 30)")
    per_frame=$(calc "round($cpu / $frames * 1000, 3)")
    note "record run $run: orvane-demo ${cpu} s CPU, $frames frames over $span frame periods," \
      "$expected periods between the clicks, ${per_frame} ms per frame"
    orvane_per+=("$per_frame")
    counted+=("$frames")
    lost+=("$(calc "max(0, $expected - $frames)")")
    gaps+=("$((span - frames))")

    local out="$work/ffmpeg-$run.avi"
    python3 - "$work/ffmpeg-$run.cpu" ffmpeg -v error -nostdin -y -f mjpeg -framerate 30 -i "$file" \
      -c:v mpeg4 -vtag XVID "$out" <<'EOF' || die "ffmpeg could not encode"
import resource, subprocess, sys
code = subprocess.call(sys.argv[2:])
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], 'w').write('%f\n' % (usage.ru_utime + usage.ru_stime))
sys.exit(code)
EOF
    cpu=$(cat "$work/ffmpeg-$run.cpu")
    frames=$(probe "$out" nb_read_frames)
    per_frame=$(calc "round($cpu / $frames * 1000, 3)")
    note "record run $run: ffmpeg ${cpu} s CPU for $frames frames, ${per_frame} ms per frame"
    ffmpeg_per+=("$per_frame")
  done
  result[record.orvane]=$(lower "${orvane_per[@]}")
  result[record.ffmpeg]=$(lower "${ffmpeg_per[@]}")
  result[record.ratio]=$(calc "round(${result[record.orvane]} / ${result[record.ffmpeg]}, 2)")
  result[record.frames]="${counted[*]}"
  result[record.lost]="${lost[*]}"
  result[record.gaps]="${gaps[*]}"
}

has_part 1080 && preview_part 1920 1080 1080
has_part 1944 && preview_part 2592 1944 1944
has_part record && record_part

echo
echo "Whole-process CPU, lower of $repeat runs of ${duration} s after ${warmup} s (ffplay renderer: $renderer)"
echo
if has_part 1080 || has_part 1944; then
  echo "| Preview at 30 fps (MJPEG, q 3) | live pane | Orvane (core share) | ffplay (core share) | Orvane / ffplay | Orvane took in (frames/s, each run) | ffplay dropped (frames/s, each run) |"
  echo "|---|---|---|---|---|---|---|"
  for label in 1080 1944; do
    has_part "$label" || continue
    size=$([ "$label" = 1080 ] && echo "1920 x 1080" || echo "2592 x 1944")
    echo "| $size | ${result[$label.pane]} | ${result[$label.orvane]} | ${result[$label.ffplay]} | ${result[$label.ratio]} | ${result[$label.rates]} | ${result[$label.drops]} |"
  done
  echo
fi
if has_part record; then
  echo "| Recording 1920 x 1080 MJPEG to MPEG-4 AVI | Orvane (ms CPU per frame) | ffmpeg (ms CPU per frame) | Orvane / ffmpeg | frames recorded | frames lost (clicks' time x 30 - recorded) | frames missing inside the movie |"
  echo "|---|---|---|---|---|---|---|"
  echo "| 30 fps, ${duration} s | ${result[record.orvane]} | ${result[record.ffmpeg]} | ${result[record.ratio]} | ${result[record.frames]} | ${result[record.lost]} | ${result[record.gaps]} |"
fi
exit 0
