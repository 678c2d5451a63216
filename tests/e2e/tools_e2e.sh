#!/usr/bin/env bash
# The measuring tools on the demo's test pattern, under a window manager (openbox) on a 1280 x 720
# screen. The calibration: a line dragged across the whole width of the still (the boundary between
# the pattern's red upper and blue lower half, as long as the capture is wide) is given that many
# micrometres, so one pixel is 1 µm. With the scale bar and its burn-in on, a photo carries the bar
# in its lower right corner and 10000 pixels per centimetre in its JFIF header; without the burn-in
# it has the density but no bar. A line is measured on the live picture (its length label is read
# through Qt by the window tests: ViewerToolsTest, ViewerCalibrationTest). Every keyboard shortcut is
# pressed. The live picture with the bar, a line and the crosshair, and the calibration dialog are
# photographed in English and Simplified Chinese; with ORVANE_SHOTS_DIR set they are kept there.
# Usage: tools_e2e.sh /path/to/orvane-demo
set -uo pipefail

demo=${1:?usage: tools_e2e.sh /path/to/orvane-demo}
for tool in Xvfb xdotool xprop xwininfo openbox python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x /usr/bin/import ] || { echo "SKIP: ImageMagick (import) is not installed"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)

name=tools_e2e
# shellcheck source=e2e_lib.sh
. "$here/e2e_lib.sh"
# shellcheck source=desktop_lib.sh
. "$here/desktop_lib.sh"

screen_w=1280 screen_h=720
start_display "${screen_w}x${screen_h}x24"
sandbox_home

start_window_manager

full_screen_state() { xprop -id "$window" _NET_WM_STATE | grep -q '_NET_WM_STATE_FULLSCREEN'; }
is_full() { full_screen_state && geometry "$window" && [ "$WIDTH" -eq $screen_w ] && [ "$HEIGHT" -eq $screen_h ]; }
is_back() { ! full_screen_state && geometry "$window" && [ "$WIDTH" -eq "$win_w" ] && [ "$HEIGHT" -eq "$win_h" ]; }
gone() { ! find_named "$1" >/dev/null; }

count() { find "$1" -type f -name "$2" 2>/dev/null | wc -l; }
has_files() { [ "$(count "$1" "$2")" -ge "$3" ]; }
newest() { find "$1" -type f -name "$2" -printf '%T@ %p\n' | sort -n | tail -1 | cut -d' ' -f2-; }
# The JFIF header's unit and densities: "2 10000 10000" for 10000 pixels per centimetre.
jfif_density() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = 2
while at + 4 <= len(data) and data[at] == 0xFF:
    marker, length = data[at + 1], struct.unpack('>H', data[at + 2:at + 4])[0]
    body = data[at + 4:at + 2 + length]
    if marker == 0xE0 and body[:5] == b'JFIF\0':
        print(body[7], *struct.unpack('>HH', body[8:12]))
        break
    at += 2 + length
EOF
}
# Nearly white pixels in the lower right corner (two fifths of the width, a fifth of the height) of a
# photo: the pattern has none there; the bar and its caption are white.
white_in_corner() {
  /usr/bin/convert "$1" -gravity SouthEast -crop 40%x20%+0+0 +repage -colorspace Gray -threshold 86% \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}

# The Tools button: left of the rotate button (the full-screen button's 32 pixels, then the rotate
# button as wide as 46 dialog units and 14 pixels, then a gap of 2), both at the window's bottom.
tools_button() {
  local ux flip
  ux=$(awk -v W="$win_w" 'BEGIN { print W / 699 }')
  flip=$(awk -v u="$ux" 'BEGIN { printf "%d", 46 * u + 14 }')
  echo $((win_x + win_w - 32 - flip - 2 - flip / 2)) $((win_y + win_h - 12))
}
# The Tools menu: a popup of the program straight on the root window.
menu_open() { xwininfo -root -children | grep '("orvane-demo"' | grep -qE ' [0-9]{3,}x[0-9]{3,}\+'; }
menu_closed() { ! menu_open; }
# Chooses the n-th item of the Tools menu (1 Scale Bar, 2 Crosshair, 3 Grid, 4 Measure, 5 burn-in,
# 6 Calibrate...) with the keyboard.
tools_item() {
  local tries x y keys=()
  read -r x y <<<"$(tools_button)"
  for tries in 1 2 3; do
    xdotool mousemove --sync "$x" "$y"
    xdotool click 1
    wait_for 5 menu_open && break
  done
  menu_open || fail "the Tools menu did not open"
  for ((i = 0; i < $1; ++i)); do keys+=(Down); done
  xdotool key "${keys[@]}" Return
  wait_for 5 menu_closed || fail "the Tools menu did not close"
}
focus_viewer() { xdotool windowfocus --sync "$window" 2>/dev/null; }
# Space in the viewer window as the user left it, after whatever buttons and menus were used: the live
# picture keeps the keyboard focus, so no click is needed to move it there first.
take_photo_with_space() {
  local before
  before=$(count "$shots_dir" "*.jpg")
  toolbar_ready || fail "the toolbar is not idle"
  focus_viewer
  xdotool key space
  wait_for 20 has_files "$shots_dir" "*.jpg" $((before + 1)) || fail "Space took no photo"
  wait_for 20 toolbar_idle || fail "the toolbar did not come back after the photo"
  photo=$(newest "$shots_dir" "*.jpg")
  wait_steady 10 stat -c %s "$photo"
}

run_language() {  # en | zh
  local lang=$1 strings viewer_title calibrate_title settings_title exit_title
  if [ "$lang" = zh ]; then strings=$zh_strings; else strings=$en_strings; fi
  viewer_title=$(text_of "$strings" ui_dlg_viewer)
  calibrate_title=$(text_of "$strings" ui_dlg_calibrate)
  settings_title=$(text_of "$strings" ui_dlg_setting)
  exit_title=$(text_of "$strings" ui_view_btn_exit_system)
  [ -n "$viewer_title" ] && [ -n "$calibrate_title" ] || fail "the $lang strings lack the titles"

  export HOME="$work/home-$lang" XDG_CONFIG_HOME="$work/home-$lang/.config" XDG_CACHE_HOME="$work/home-$lang/.cache"
  export XDG_DOCUMENTS_DIR="$HOME/Documents"
  mkdir -p "$XDG_DOCUMENTS_DIR" "$XDG_CONFIG_HOME"
  shots_dir="$HOME/Documents/zentrova/Single Shots"
  local locale=C.UTF-8
  [ "$lang" = zh ] && locale=zh_CN.UTF-8

  step="$lang: start"
  LC_ALL=$locale LANG=$locale "$demo" >"$work/demo-$lang.log" 2>&1 &
  demo_pid=$!
  wait_for 90 find_named "$viewer_title" || fail "the viewer window \"$viewer_title\" did not appear"
  window=$(find_named "$viewer_title")
  wait_steady 10 place "$window" || fail "the window does not settle"
  geometry "$window"
  win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
  wait_preview 30 || fail "the preview did not start"
  pointer_away
  toolbar_remember

  step="$lang: calibrate"
  tools_item 6
  wait_for 10 find_named "$calibrate_title" || fail "the calibration dialog did not open"
  local dialog
  dialog=$(find_named "$calibrate_title")
  wait_steady 10 place "$dialog"
  geometry "$dialog"
  # From beyond the still's left edge to beyond its right edge, at two fifths of the dialog's height
  # (within the still, below the hint): the whole width of the capture.
  local y=$((Y + HEIGHT * 40 / 100))
  xdotool mousemove --sync $((X + 14)) "$y" mousedown 1
  xdotool mousemove --sync $((X + WIDTH / 2)) "$y"
  xdotool mousemove --sync $((X + WIDTH - 14)) "$y" mouseup 1
  # The known length has the focus; then the unit (µm stays), the name and Save.
  xdotool windowfocus --sync "$dialog" 2>/dev/null
  xdotool key ctrl+a
  xdotool type --delay 20 "$capture_w"
  xdotool key Tab Tab
  xdotool type --delay 20 "pattern width"
  xdotool key Tab space
  saved() { grep -rqs "pattern width" "$XDG_CONFIG_HOME"; }
  wait_for 10 saved || fail "the calibration was not kept"
  dialog_look() { /usr/bin/import -window "$dialog" png:- 2>/dev/null | md5sum; }
  wait_steady 10 dialog_look
  shoot "tools-calibrate-$lang"
  xdotool key Escape
  wait_for 10 gone "$calibrate_title" || fail "the calibration dialog did not close"

  step="$lang: photo with the resolution but no bar"
  if [ "$lang" = en ]; then
    take_photo_with_space
    read -r unit dx dy <<<"$(jfif_density "$photo")"
    echo "$lang: photo without burn-in: JFIF unit $unit density $dx x $dy, white in the corner $(white_in_corner "$photo")"
    [ "$unit" = 2 ] && [ "$dx" = 10000 ] && [ "$dy" = 10000 ] || fail "the photo's JFIF density is $unit $dx $dy"
    [ "$(white_in_corner "$photo")" -lt 20 ] || fail "a bar was drawn into the photo without the burn-in"
  fi

  step="$lang: scale bar, burn-in, crosshair, measure"
  tools_item 1
  tools_item 5
  tools_item 2
  tools_item 4
  local py=$((win_y + win_h * 70 / 100))
  xdotool mousemove --sync $((win_x + win_w * 45 / 100)) "$py" mousedown 1
  xdotool mousemove --sync $((win_x + win_w * 55 / 100)) $((py - 40))
  xdotool mousemove --sync $((win_x + win_w * 70 / 100)) $((py - 80)) mouseup 1
  pointer_away
  # The finished line ends where the button was let go, in the measuring yellow.
  line_ends_at() {
    /usr/bin/import -window root -crop "7x7+$(($1 - 3))+$(($2 - 3))" +repage png:- 2>/dev/null |
      /usr/bin/convert - -fx 'r > 0.8 && g > 0.65 && b < 0.35 ? 1 : 0' -format '%[fx:maxima]' info: 2>/dev/null | grep -qx 1
  }
  wait_for 10 line_ends_at $((win_x + win_w * 70 / 100)) $((py - 80)) || fail "the measured line did not end where the drag did"
  shoot "tools-live-$lang"

  if [ "$lang" = en ]; then
    step="photo with the bar"
    take_photo_with_space
    read -r unit dx dy <<<"$(jfif_density "$photo")"
    local white
    white=$(white_in_corner "$photo")
    echo "photo with burn-in: JFIF unit $unit density $dx x $dy, white in the corner $white"
    [ "$unit" = 2 ] && [ "$dx" = 10000 ] && [ "$dy" = 10000 ] || fail "the photo's JFIF density is $unit $dx $dy"
    [ "$white" -ge 200 ] || fail "the photo has no bar in its lower right corner ($white white pixels)"

    step="shortcuts: R"
    focus_viewer
    pointer_away
    xdotool key r
    busy() { ! toolbar_idle; }
    wait_for 10 busy || fail "R started no recording"
    focus_viewer
    pointer_away
    xdotool key r
    wait_for 30 toolbar_idle || fail "R did not end the recording"
    wait_for 20 has_files "$HOME/Documents/zentrova/Movies" "*.*" 1 || fail "no movie after R"

    step="shortcuts: T"
    focus_viewer
    pointer_away
    xdotool key t
    wait_for 10 busy || fail "T started no series"
    focus_viewer
    pointer_away
    xdotool key t
    wait_for 30 toolbar_idle || fail "T did not end the series"

    step="shortcuts: F11"
    focus_viewer
    xdotool key F11
    wait_for 10 is_full || fail "F11 did not enter full screen"
    xdotool key F11
    wait_for 10 is_back || fail "F11 did not leave full screen"

    step="shortcuts: Ctrl+Q"
    focus_viewer
    xdotool key ctrl+q
    wait_for 10 find_named "$exit_title" || fail "Ctrl+Q did not ask to exit"
    xdotool windowfocus --sync "$(find_named "$exit_title")" 2>/dev/null
    xdotool key Escape
    wait_for 10 gone "$exit_title" || fail "the exit question did not close"
    alive "$demo_pid" || fail "the viewer ended although the exit was cancelled"

    # Last, as the settings dialog stays open until the program ends.
    step="shortcuts: Ctrl+,"
    focus_viewer
    xdotool key ctrl+comma
    wait_for 10 find_named "$settings_title" || fail "Ctrl+, did not open the settings"
    echo "shortcuts: Space, R, T, F11, Ctrl+, and Ctrl+Q work"
  fi
  kill "$demo_pid"
  wait "$demo_pid" 2>/dev/null
  demo_pid=""
}

# The demo's camera delivers its largest size of at most 2048 pixels across.
capture_w=1920
run_language en
run_language zh
echo "PASS"
