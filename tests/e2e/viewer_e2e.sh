#!/usr/bin/env bash
# Drives the demo viewer on a virtual display as a user would: a photo, a turned photo, a timed
# series, a recording, and Exit with its question. Checks the files by decoding them (the movie with
# ffprobe) and that the program ends by itself. Every step waits for what it needs, never a fixed time. Usage: viewer_e2e.sh /path/to/orvane-demo
set -uo pipefail

demo=${1:?usage: viewer_e2e.sh /path/to/orvane-demo}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
convert=/usr/bin/convert
identify=/usr/bin/identify
[ -x "$convert" ] && [ -x "$identify" ] || { echo "SKIP: ImageMagick is not installed"; exit 77; }

name=viewer_e2e
# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"
need_ffprobe
start_display

sandbox_home

"$demo" >"$work/demo.log" 2>&1 &
demo_pid=$!

find_viewer() { xdotool search --name "Default View" | head -1; }
wait_for 60 find_viewer || fail "the viewer window did not appear"
window=$(find_viewer)
eval "$(xdotool getwindowgeometry --shell "$window")"
win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
echo "viewer window ${WIDTH}x${HEIGHT} at ${X},${Y} on $DISPLAY"

# The controls sit at their template positions in dialog units; the window is 699 x 479 of them.
click_du() {  # x y width height, in dialog units: clicks the centre
  local cx cy
  cx=$(awk -v x="$1" -v w="$3" -v W="$WIDTH" 'BEGIN { printf "%d", (x + w / 2) * W / 699 }')
  cy=$(awk -v y="$2" -v h="$4" -v H="$HEIGHT" 'BEGIN { printf "%d", (y + h / 2) * H / 479 }')
  xdotool mousemove --sync $((X + cx)) $((Y + cy)) click 1
}
take_photo() { click_du 39 2 37 24; }
timed_shot() { click_du 77 2 37 24; }
recording() { click_du 115 2 37 24; }
exit_button() { click_du 191 2 37 24; }

shots="$home/Documents/zentrova/Single Shots"
count() { find "$1" -type f -name "$2" 2>/dev/null | wc -l; }
has_files() { [ "$(count "$1" "$2")" -ge "$3" ]; }
newest() { find "$1" -type f -name "$2" -printf '%T@ %p\n' | sort -n | tail -1 | cut -d' ' -f2-; }
pixel() { "$convert" "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }

# The first preview runs.
wait_preview 30 || fail "the preview did not start"
pointer_away
toolbar_remember
kill -0 "$demo_pid" 2>/dev/null || fail "the viewer ended by itself"

# 1. A photo, decodable, at the capture size, upright: reddish at the top, bluish at the bottom.
take_photo
wait_for 20 has_files "$shots" "*.jpg" 1 || fail "no photo was written"
photo=$(newest "$shots" "*.jpg")
size=$("$identify" -format "%w %h" "$photo") || fail "the photo does not decode"
echo "photo $photo: $size"
read -r pw ph <<<"$size"
# The test picture's moving bar is narrow: of two samples a half width apart, one always misses it.
top=$(pixel "$photo" $((pw / 4)) $((ph / 4)))
top2=$(pixel "$photo" $((pw * 3 / 4)) $((ph / 4)))
bottom=$(pixel "$photo" $((pw / 4)) $((ph * 3 / 4)))
bottom2=$(pixel "$photo" $((pw * 3 / 4)) $((ph * 3 / 4)))
echo "photo top $top / $top2, bottom $bottom / $bottom2"
[ "${top%%,*}" -gt 150 ] || [ "${top2%%,*}" -gt 150 ] || fail "the top of the photo is not red: $top / $top2"
[ "${bottom##*,}" -gt 150 ] || [ "${bottom2##*,}" -gt 150 ] ||
  fail "the bottom of the photo is not blue: $bottom / $bottom2"

# 2. Rotate 90 CW from the rotate button's menu, then a photo: the turned picture is fitted into a
# square in the middle, with black bands left and right.
toolbar_ready || fail "the buttons did not come back after the photo"
windows() { xdotool search --onlyvisible --pid "$demo_pid" 2>/dev/null | wc -l; }
shown=$(windows)
menu_open() { [ "$(windows)" -gt "$shown" ]; }
menu_closed() { [ "$(windows)" -le "$shown" ]; }
xdotool mousemove --sync $((X + WIDTH - 32 - 30)) $((Y + HEIGHT - 10)) click 1
wait_for 10 menu_open || fail "the rotate menu did not open"
xdotool key --delay 150 Down Return
wait_for 10 menu_closed || fail "the rotate menu did not close"
# A new frame has been shown since: it went through the turn.
wait_preview 10 || fail "the preview stopped after the turn"
take_photo
wait_for 20 has_files "$shots" "*.jpg" 2 || fail "no second photo was written"
turned=$(newest "$shots" "*.jpg")
left=$(pixel "$turned" 5 $((ph / 2)))
middle=$(pixel "$turned" $((pw / 2)) $((ph / 2)))
echo "turned photo $turned: left band $left, middle $middle"
[ "$left" = "0,0,0" ] || [ "$(echo "$left" | awk -F, '{ print ($1 + $2 + $3 < 40) }')" = 1 ] ||
  fail "the turned photo has no black band: $left"
[ "$middle" != "$left" ] || fail "the turned photo is black in the middle"

# 3. A timed series (the factory schedule takes the first shot at once), then stopped.
toolbar_ready || fail "the buttons did not come back after the second photo"
timed_shot
wait_for 30 has_files "$home/Documents/zentrova/Timed Shots" "*.jpg" 1 || fail "no timed shot was written"
timed_shot
series_shot=$(newest "$home/Documents/zentrova/Timed Shots" "*.jpg")
"$identify" "$series_shot" >/dev/null || fail "the timed shot does not decode"
echo "timed shot $series_shot"

# 4. A recording of a few seconds: stopped once the movie has grown to some 100 KB.
movies="$home/Documents/zentrova/Movies"
movie_grown() { local m; m=$(newest "$movies" "*.avi") && [ -n "$m" ] && has_bytes "$m" 100000; }
toolbar_ready || fail "the buttons did not come back after the series"
recording
wait_for 60 movie_grown || fail "no movie was written, or it does not grow"
recording
movie=$(newest "$movies" "*.avi")
# Stopping finishes the file: it ends with its index and stops growing.
wait_steady 30 stat -c %s "$movie" || fail "the movie keeps growing after the stop"
header=$(head -c 12 "$movie" | tr -c 'A-Z ' '.')
movie_size=$(stat -c %s "$movie")
echo "movie $movie: $movie_size bytes, header $header"
[ "${header:0:4}" = "RIFF" ] && [ "${header:8:4}" = "AVI " ] || fail "the movie is no AVI file"
[ "$movie_size" -gt 20000 ] || fail "the movie is too small"
frames=$(probe_frames "$movie")
echo "ffprobe: ${frames:-no} frames"
[ "${frames:-0}" -gt 10 ] || fail "the movie does not decode to more than 10 frames: ${frames:-none}"

# 5. Exit asks first; Cancel keeps the viewer, OK ends the program by itself.
toolbar_ready || fail "the buttons did not come back after the recording"
exit_button
find_question() { xdotool search --name "^Exit$" | head -1; }
wait_for 10 find_question || fail "Exit did not ask"
xdotool windowfocus --sync "$(find_question)"
xdotool key Escape
no_question() { ! xdotool search --onlyvisible --name "^Exit$" | grep -q .; }
wait_for 10 no_question || fail "Cancel did not close the question"
kill -0 "$demo_pid" 2>/dev/null || fail "Cancel ended the program"
exit_button
wait_for 10 find_question || fail "Exit did not ask the second time"
xdotool windowfocus --sync "$(find_question)"
xdotool key Return
wait_for 20 ended "$demo_pid" || fail "the program did not end after OK"
wait "$demo_pid"
status=$?
demo_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "the viewer ended cleanly"
echo "1 passed, 0 failed"
