#!/usr/bin/env bash
# Runs in the kernel rig's guest: the real viewer (orvane, not the demo) on a virtual display with
# real drivers, driven as a user would; every file it writes is checked by decoding it.
# 1. The emulated USB microscope with vivid beside it: the microscope's maker is preferred; preview,
#    a photo at 1920 x 1080, a recording.
# 2. The microscope alone, pulled out and plugged back while previewing and while recording.
# 3. vivid alone: preview, photo, recording, unbound and bound again.
# Usage: kernel_e2e.sh BUILD_DIR
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: kernel_e2e.sh BUILD_DIR}
viewer=$build/bin/orvane
export ORVANE_RIG_DIR=$here/rig ORVANE_FEEDER=$build/bin/orvane_uvc_feeder ORVANE_GADGET_LOGS=/results
# The test pictures, encoded on the build machine (run_kernel_tests.sh prepare).
export ORVANE_FEEDER_PATTERNS=$build/feeder-patterns
# The camera offers 30 fps but sends 10: decoding, showing and recording 1920 x 1080 at 30 fps would
# take more than the emulated CPUs have.
export ORVANE_FEEDER_PACE=10
gadget=$ORVANE_RIG_DIR/uvc_gadget.sh
convert=/usr/bin/convert
identify=/usr/bin/identify

name=kernel_e2e
# shellcheck source=../e2e/e2e_lib.sh
. "$here/../e2e/e2e_lib.sh"
# The failure report's screenshot and logs stay in the results share.
cd /results || exit 1

# As the library's, with the patience emulated CPUs need (Xvfb compiles its keymap at start).
start_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  wait_for 90 test -s "$work/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$work/display")"
}

step="devices"
modprobe vivid n_devs=1 node_types=0x1 || fail "vivid does not load"
"$gadget" load 2 || fail "the UVC gadget's modules do not load"
"$gadget" plug cam1 0 ORV0001 >/dev/null || fail "the microscope could not be plugged in"

start_display
sandbox_home
mkdir -p "$home/.config/zentrova"
cat >"$home/.config/zentrova/settings.conf" <<'EOF'
; Orvane settings. Written by the program; key and value names ignore case.

[software\zentrova\using\system]
"resourcespath"="default"
"autocreatingfolder"=dword:00000000
"movieresolution"=dword:00000001
"moviesizemax"=dword:00000400
"movieformat"=dword:00000000
"language"=dword:1fffffff
"wifideviceip"=dword:c0a80a7b
"wifideviceport"=dword:00001f90
EOF

shots="$home/Documents/zentrova/Single Shots"
movies="$home/Documents/zentrova/Movies"
count() { find "$1" -type f -name "$2" 2>/dev/null | wc -l; }
has_files() { [ "$(count "$1" "$2")" -ge "$3" ]; }
newest() { find "$1" -type f -name "$2" -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-; }
# The convert format that prints pixel (x, y) as "r,g,b".
rgb_at() { echo "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]"; }
near() {  # "r,g,b" "r,g,b": every channel within 40
  local a b
  IFS=, read -r -a a <<<"$1"
  IFS=, read -r -a b <<<"$2"
  for i in 0 1 2; do
    [ $((a[i] - b[i])) -le 40 ] && [ $((b[i] - a[i])) -le 40 ] || return 1
  done
}

start_viewer() {
  "$viewer" >>"$work/viewer.log" 2>&1 &
  demo_pid=$!
  find_named() { xdotool search --onlyvisible --name "$1" | head -1; }
  wait_for 120 find_named "^Default View$" || fail "the viewer window did not appear"
  window=$(find_named "^Default View$")
  eval "$(xdotool getwindowgeometry --shell "$window")"
  win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
  echo "[$SECONDS s] viewer window ${WIDTH}x${HEIGHT} at ${X},${Y}"
}
stop_viewer() {
  kill "$demo_pid"
  wait_for 30 ended "$demo_pid" || fail "the viewer did not end on SIGTERM"
  demo_pid=""
}
# Clicks the centre of a control given in the window's dialog units (699 x 479), by way of the
# window's top-left corner, where the pointer never rests (a synchronous move to where the pointer
# already is would wait forever).
click_du() {
  local cx cy
  xdotool mousemove --sync $((win_x + 1)) $((win_y + 1))
  cx=$(awk -v x="$1" -v w="$3" -v W="$win_w" 'BEGIN { printf "%d", (x + w / 2) * W / 699 }')
  cy=$(awk -v y="$2" -v h="$4" -v H="$win_h" 'BEGIN { printf "%d", (y + h / 2) * H / 479 }')
  xdotool mousemove --sync $((win_x + cx)) $((win_y + cy)) click 1
}
take_photo() { click_du 39 2 37 24; }
recording() { click_du 115 2 37 24; }
# Closes the message box about the missing camera, when one is open.
close_alert() {
  local box
  box=$(xdotool search --onlyvisible --name "^Orvane$" 2>/dev/null | head -1)
  [ -n "$box" ] || return 0
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key Return
}

# The preview shows the camera's picture: a good part of the window in the pattern's colour.
previewing() {  # r,g,b
  /usr/bin/import -window root "$work/screen.png" 2>/dev/null || return 1
  local share
  share=$("$convert" "$work/screen.png" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage \
    -fuzz 12% -fill white -opaque "rgb($1)" -fill black +opaque white -format "%[fx:mean]" info:)
  awk -v s="$share" 'BEGIN { exit !(s > 0.05) }'
}

# A photo at width x height whose top-left, top and bottom show the pattern's colours. One decode
# gives the size and the three pixels (decoding 1920 x 1080 takes seconds on emulated CPUs).
photo_is() {  # path width height top-colour bottom-colour [marker-colour]
  local w=$2 h=$3 facts got_w got_h top bottom corner
  facts=$("$convert" "$1" -format "%w %h $(rgb_at $((w / 5)) $((h / 4))) $(rgb_at $((w / 5)) $((h * 3 / 4))) \
$(rgb_at $((h / 16)) $((h / 16)))" info:) || fail "the photo $1 does not decode"
  read -r got_w got_h top bottom corner <<<"$facts"
  [ "$got_w" = "$w" ] && [ "$got_h" = "$h" ] || fail "the photo is ${got_w}x${got_h}, not ${w}x${h}"
  near "$top" "$4" || fail "the photo's top is $top, not $4"
  near "$bottom" "$5" || fail "the photo's bottom is $bottom, not $5"
  [ -z "${6:-}" ] || near "$corner" "$6" || fail "the photo's corner is $corner, not $6"
}

photo() {  # width height top bottom [marker]; takes a photo (closing a stale alert) and checks it
  local before
  before=$(count "$shots" "*.jpg")
  try_photo() {
    take_photo
    wait_for 10 has_files "$shots" "*.jpg" $((before + 1)) && return 0
    close_alert
    return 1
  }
  # A photo appears under its name only once it is whole (written beside it, then linked in).
  wait_for 90 try_photo || fail "no photo was written"
  last_photo=$(newest "$shots" "*.jpg")
  photo_is "$last_photo" "$@"
  echo "[$SECONDS s] photo $last_photo: ${1}x${2}"
}

# Records until the file has grown (then presses the button again, or runs the command given, which
# pulls the camera out) and checks the finished movie.
record() {  # width height [command that ends the recording instead of the button]
  local before movie probe
  before=$(count "$movies" "*.avi")
  recording
  wait_for 30 has_files "$movies" "*.avi" $((before + 1)) || fail "the recording wrote no movie"
  movie=$(newest "$movies" "*.avi")
  grows() { [ "$(stat -c %s "$movie")" -gt 100000 ]; }
  wait_for 60 grows || fail "the movie does not grow"
  if [ $# -gt 2 ]; then
    "${@:3}" || fail "$3 failed"
  else
    recording
  fi
  indexed() { LC_ALL=C grep -aq idx1 "$movie"; }
  # Finished: the index is written and the viewer holds the file open no more.
  closed() { ! find "/proc/$demo_pid/fd" -lname "$movie" 2>/dev/null | grep -q .; }
  wait_for 60 indexed || fail "the movie was not finished ($(stat -c %s "$movie") bytes)"
  wait_for 30 closed || fail "the viewer keeps the movie open"
  probe=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$movie" 2>&1)
  echo "[$SECONDS s] movie $movie: $(stat -c %s "$movie") bytes, ffprobe: $probe"
  IFS=, read -r codec w h frames <<<"$probe"
  [ "$codec" = "mpeg4" ] || fail "the movie's codec is not mpeg4: $probe"
  [ "$w" = "$1" ] && [ "$h" = "$2" ] || fail "the movie is ${w}x${h}, not ${1}x${2}"
  [[ "$frames" =~ ^[0-9]+$ ]] && [ "$frames" -gt 0 ] || fail "the movie has no frames: $probe"
}

red="200,40,40" blue="40,40,200" white="240,240,240"

# 1. The microscope: preview, photo, recording.
step="microscope preview"
start_viewer
wait_for 90 previewing "$red" || fail "the preview does not show the microscope's picture"
echo "[$SECONDS s] previewing the microscope"
step="microscope photo"
photo 1920 1080 "$red" "$blue" "$white"
step="microscope recording"
record 1920 1080

# 2. Pulled out while previewing, plugged back in: the preview and photos come back. Without vivid,
# which the viewer would turn to while the microscope is away and then keep.
step="microscope unplugged while previewing"
modprobe -r vivid || fail "vivid could not be unloaded"
"$gadget" unplug cam1 || fail "the microscope could not be unplugged"
alive "$demo_pid" || fail "the viewer ended with the unplug"
"$gadget" plug cam1 0 ORV0001 >/dev/null || fail "the microscope could not be plugged back in"
photo 1920 1080 "$red" "$blue" "$white"
wait_for 60 previewing "$red" || fail "the preview did not come back"

# Pulled out while recording: the movie is finished and plays; plugged back in, photos work.
step="microscope unplugged while recording"
record 1920 1080 "$gadget" unplug cam1
alive "$demo_pid" || fail "the viewer ended with the unplug"
"$gadget" plug cam1 0 ORV0001 >/dev/null || fail "the microscope could not be plugged back in"
photo 1920 1080 "$red" "$blue" "$white"
stop_viewer

# 3. vivid alone: its largest size up to 2048 wide is 1920 x 1080 (YUYV).
step="vivid preview"
"$gadget" unplug cam1 || fail "the microscope could not be unplugged"
modprobe vivid n_devs=1 node_types=0x1 || fail "vivid does not load"
udevadm settle
start_viewer
before=$(count "$shots" "*.jpg")
take_photo
wait_for 90 has_files "$shots" "*.jpg" $((before + 1)) || fail "no photo of vivid was written"
size=$("$identify" -format "%w %h" "$(newest "$shots" "*.jpg")") || fail "vivid's photo does not decode"
[ "$size" = "1920 1080" ] || fail "vivid's photo is $size, not 1920 1080"
echo "[$SECONDS s] vivid photo: $size"
step="vivid recording"
record 1920 1080
step="vivid unbound and bound again"
echo vivid.0 >/sys/bus/platform/drivers/vivid/unbind || fail "vivid could not be unbound"
udevadm settle
alive "$demo_pid" || fail "the viewer ended when vivid went away"
echo vivid.0 >/sys/bus/platform/drivers/vivid/bind || fail "vivid could not be bound again"
udevadm settle
before=$(count "$shots" "*.jpg")
again() {
  take_photo
  wait_for 10 has_files "$shots" "*.jpg" $((before + 1)) && return 0
  close_alert
  return 1
}
wait_for 90 again || fail "no photo after vivid came back"
echo "[$SECONDS s] vivid back, photo taken"

step="end"
stop_viewer
echo "1 passed, 0 failed"
