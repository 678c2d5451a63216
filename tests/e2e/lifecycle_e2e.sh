#!/usr/bin/env bash
# The camera's and the timed series' own ends, seen as a user would on a virtual display: the
# microscope unplugged while it records (the movie is finished by itself and plays), plugged back in
# (the preview comes back and photos work again), and a timed series of one minute that ends by its
# duration, after which a new one starts. Every step waits for what it needs, never a fixed time.
# Usage: lifecycle_e2e.sh /path/to/orvane-demo
set -uo pipefail

demo=${1:?usage: lifecycle_e2e.sh /path/to/orvane-demo}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
for tool in convert identify import; do
  [ -x "/usr/bin/$tool" ] || { echo "SKIP: ImageMagick ($tool) is not installed"; exit 77; }
done

name=lifecycle_e2e
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"
need_ffprobe
start_display

sandbox_home
mkdir -p "$home/.config/zentrova"

# A user's settings as the program keeps them: the factory system values, AVI movies, and a timed
# series of 60 shots a minute for one minute.
cat >"$home/.config/zentrova/settings.conf" <<'EOF'
; Orvane settings. Written by the program; key and value names ignore case.

[software\zentrova\using\timedshot]
"shotstype"=dword:00000000
"timestype"=dword:00000000
"shotsvalue"=dword:0000003c
"timesvalue"=dword:00000001

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

"$demo" >"$work/demo.log" 2>&1 &
demo_pid=$!

find_named() { xdotool search --onlyvisible --name "$1" | head -1; }
wait_for 60 find_named "^Default View$" || fail "the viewer window did not appear"
window=$(find_named "^Default View$")
eval "$(xdotool getwindowgeometry --shell "$window")"
win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
echo "[$SECONDS s] viewer window ${WIDTH}x${HEIGHT} at ${X},${Y} on $DISPLAY"

# Clicks the centre of a control given in the window's dialog units (699 x 479).
click_du() {
  local cx cy
  cx=$(awk -v x="$1" -v w="$3" -v W="$win_w" 'BEGIN { printf "%d", (x + w / 2) * W / 699 }')
  cy=$(awk -v y="$2" -v h="$4" -v H="$win_h" 'BEGIN { printf "%d", (y + h / 2) * H / 479 }')
  xdotool mousemove --sync $((win_x + cx)) $((win_y + cy)) click 1
}
# A synchronous move to where the pointer already is waits for a motion that never comes: every
# click starts from the middle of the window, reached without waiting.
park_pointer() { xdotool mousemove $((win_x + win_w / 2)) $((win_y + win_h / 2)) sleep 0.1; }
take_photo() { park_pointer; click_du 39 2 37 24; }
timed_shot() { park_pointer; click_du 77 2 37 24; }
recording() { park_pointer; click_du 115 2 37 24; }

count() { find "$1" -type f -name "$2" 2>/dev/null | wc -l; }
has_files() { [ "$(count "$1" "$2")" -ge "$3" ]; }
newest() { find "$1" -type f -name "$2" -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-; }
size_of() { /usr/bin/identify -format "%w %h" "$1"; }

shots="$home/Documents/zentrova/Single Shots"
timed="$home/Documents/zentrova/Timed Shots"
movies="$home/Documents/zentrova/Movies"

wait_preview 30 || fail "the preview did not start"
alive "$demo_pid" || fail "the viewer ended by itself"
pointer_away
toolbar_remember

# The camera's picture size, from a photo taken before anything else.
step="first photo"
take_photo
wait_for 20 has_files "$shots" "*.jpg" 1 || fail "no photo was written"
first=$(newest "$shots" "*.jpg")
camera_size=$(size_of "$first") || fail "the first photo does not decode"
echo "[$SECONDS s] camera picture: $camera_size ($first)"

# 1. Unplugged while recording: the viewer ends the recording by itself and the movie plays.
step="unplugged while recording"
toolbar_ready || fail "the buttons did not come back after the photo"
recording
movie_grown() { local m; m=$(newest "$movies" "*.avi") && [ -n "$m" ] && has_bytes "$m" 100000; }
wait_for 60 movie_grown || fail "the recording wrote no movie, or it does not grow"
kill -USR2 "$demo_pid"
movie=$(newest "$movies" "*.avi")
# A finished movie carries its index and stops growing.
indexed() { LC_ALL=C grep -aq idx1 "$movie"; }
wait_for 30 indexed || fail "the movie was not finished after the unplug ($(stat -c %s "$movie") bytes)"
wait_steady 20 stat -c %s "$movie" || fail "the movie keeps growing after the unplug"
alive "$demo_pid" || fail "the viewer ended with the unplug"
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,nb_read_frames -of csv=p=0 "$movie" 2>&1)
echo "[$SECONDS s] movie $movie: $(stat -c %s "$movie") bytes, ffprobe: $probe"
codec=${probe%%,*}
frames=${probe##*,}
[ "$codec" = "mpeg4" ] || fail "the movie's codec is not mpeg4: $probe"
[[ "$frames" =~ ^[0-9]+$ ]] && [ "$frames" -gt 0 ] || fail "the movie has no frames: $probe"

# 2. Plugged back in: the preview comes back and a photo is taken at the camera's size again.
step="plugged back in"
kill -USR2 "$demo_pid"
before=$(count "$shots" "*.jpg")
# The preview may take a moment to come back; the unplug's alert about the missing camera may still
# be open, and until the preview is back a click only brings that alert again.
photo_again() {
  take_photo
  wait_for 4 has_files "$shots" "*.jpg" $((before + 1)) && return 0
  local box
  box=$(xdotool search --onlyvisible --name "^Orvane$" 2>/dev/null | head -1)
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key Return
  fi
  return 1
}
wait_for 40 photo_again || fail "no photo after the camera came back"
again=$(newest "$shots" "*.jpg")
again_size=$(size_of "$again") || fail "the photo after the plug does not decode"
echo "[$SECONDS s] photo after the plug: $again ($again_size)"
[ "$again_size" = "$camera_size" ] || fail "the photo is $again_size, the camera gives $camera_size"

# 3. A timed series of 60 shots a minute for one minute ends by itself.
step="timed series"
toolbar_ready || fail "the buttons did not come back after the photo"
started=$SECONDS
timed_shot
wait_for 20 has_files "$timed" "T*.jpg" 1 || fail "the timed series wrote no shot"
series=$(basename "$(newest "$timed" "T*.jpg")" | cut -d_ -f2)
# No new shot for seven seconds (a shot a second while it runs), once the minute is nearly over.
quiet_count=-1
quiet_since=$SECONDS
stopped() {
  local now
  now=$(count "$timed" "T*.jpg")
  if [ "$now" -ne "$quiet_count" ]; then
    quiet_count=$now
    quiet_since=$SECONDS
    return 1
  fi
  [ $((SECONDS - started)) -ge 58 ] && [ $((SECONDS - quiet_since)) -ge 7 ]
}
wait_for 90 stopped || fail "the series did not end by itself ($(count "$timed" "T*.jpg") shots after $((SECONDS - started)) s)"
took=$((quiet_since - started))
in_series=$(count "$timed" "T*.jpg")
echo "[$SECONDS s] timed series $series: $in_series shots, ended by itself after about $took s"
[ "$in_series" -ge 55 ] && [ "$in_series" -le 61 ] || fail "the series took $in_series shots, not about 60"
last=$(newest "$timed" "T*.jpg")
size_of "$last" >/dev/null || fail "the last timed shot does not decode"
# The toolbar is back: a photo works, and a new series starts (and is stopped by hand).
before=$(count "$shots" "*.jpg")
take_photo
wait_for 20 has_files "$shots" "*.jpg" $((before + 1)) || fail "Take a Photo does not work after the series"
toolbar_ready || fail "the buttons did not come back after the photo"
timed_shot
wait_for 20 has_files "$timed" "T*.jpg" $((in_series + 1)) || fail "a new series did not start"
timed_shot
next=$(basename "$(newest "$timed" "T*.jpg")" | cut -d_ -f2)
[ "$next" != "$series" ] || fail "the new series' shots carry the old series number $series"
echo "[$SECONDS s] a new series $next started after it"

step="end"
alive "$demo_pid" || fail "the viewer ended"
kill "$demo_pid"
wait_for 20 ended "$demo_pid" || fail "the viewer did not end on SIGTERM"
demo_pid=""
echo "1 passed, 0 failed"
