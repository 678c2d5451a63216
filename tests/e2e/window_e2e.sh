#!/usr/bin/env bash
# The viewer as a window among others: under a window manager (openbox) on a 1280 x 720 screen, in
# English and in Simplified Chinese. The window opens with its frame wholly on the screen and cannot
# be shrunk below a usable size; full screen is the window manager's full-screen state
# (_NET_WM_STATE_FULLSCREEN, the whole screen) and leaving it gives the window back where it was.
# The exit question (a message box) and the folder chooser (a file dialog) are photographed in both
# languages; with ORVANE_SHOTS_DIR set the pictures are kept there.
# Usage: window_e2e.sh /path/to/orvane-demo
set -uo pipefail

demo=${1:?usage: window_e2e.sh /path/to/orvane-demo}
for tool in Xvfb xdotool xprop xwininfo openbox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x /usr/bin/import ] || { echo "SKIP: ImageMagick (import) is not installed"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)

name=window_e2e
# shellcheck source=e2e_lib.sh
. "$here/e2e_lib.sh"
# shellcheck source=desktop_lib.sh
. "$here/desktop_lib.sh"

screen_w=1280 screen_h=720
start_display "${screen_w}x${screen_h}x24"
sandbox_home

start_window_manager

# The frame the window manager put around the window: left, right, top, bottom.
frame_extents() {
  xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1 \2 \3 \4/p'
}
full_screen_state() { xprop -id "$window" _NET_WM_STATE | grep -q '_NET_WM_STATE_FULLSCREEN'; }
is_full() {
  full_screen_state && geometry "$window" && [ "$X" -eq 0 ] && [ "$Y" -eq 0 ] && [ "$WIDTH" -eq $screen_w ] &&
    [ "$HEIGHT" -eq $screen_h ]
}
is_back() {
  ! full_screen_state && geometry "$window" && [ "$X" -eq "$win_x" ] && [ "$Y" -eq "$win_y" ] &&
    [ "$WIDTH" -eq "$win_w" ] && [ "$HEIGHT" -eq "$win_h" ]
}
# Clicks the centre of a toolbar button given in the window's dialog units (699 x 479).
click_du() {
  local cx cy
  cx=$(awk -v x="$1" -v w="$3" -v W="$win_w" 'BEGIN { printf "%d", (x + w / 2) * W / 699 }')
  cy=$(awk -v y="$2" -v h="$4" 'BEGIN { printf "%d", (y + h / 2) * 1.625 }')
  xdotool mousemove --sync $((win_x + cx)) $((win_y + cy))
  xdotool click 1
}

run_language() {  # en | zh
  local lang=$1 strings viewer_title exit_title settings_title chooser_title
  if [ "$lang" = zh ]; then strings=$zh_strings; else strings=$en_strings; fi
  viewer_title=$(text_of "$strings" ui_dlg_viewer)
  exit_title=$(text_of "$strings" ui_view_btn_exit_system)
  settings_title=$(text_of "$strings" ui_dlg_setting)
  chooser_title=$(text_of "$strings" ui_setting_dlg_choose_folder)
  [ -n "$viewer_title" ] && [ -n "$chooser_title" ] || fail "the $lang strings lack the titles"

  # Each language its own home; the Chinese one through the user's locale, which the factory
  # settings follow.
  export HOME="$work/home-$lang" XDG_CONFIG_HOME="$work/home-$lang/.config" XDG_CACHE_HOME="$work/home-$lang/.cache"
  export XDG_DOCUMENTS_DIR="$HOME/Documents"
  mkdir -p "$XDG_DOCUMENTS_DIR" "$XDG_CONFIG_HOME"
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
  local left right top bottom
  read -r left right top bottom <<<"$(frame_extents "$window")"
  [ -n "$bottom" ] || fail "openbox gave the window no frame extents"
  echo "$lang: window ${win_w}x${win_h} at ${win_x},${win_y}, frame $left $right $top $bottom"
  step="$lang: placement"
  [ $((win_x - left)) -ge 0 ] && [ $((win_y - top)) -ge 0 ] && [ $((win_x + win_w + right)) -le $screen_w ] &&
    [ $((win_y + win_h + bottom)) -le $screen_h ] || fail "the window's frame is not wholly on the screen"

  if [ "$lang" = en ]; then
    step="minimum size"
    xdotool windowsize "$window" 400 300
    wait_steady 10 place "$window"
    geometry "$window"
    echo "asked for 400x300, got ${WIDTH}x${HEIGHT}"
    [ "$WIDTH" -ge 640 ] && [ "$HEIGHT" -ge 360 ] || fail "the window shrank to ${WIDTH}x${HEIGHT}"
    xdotool windowsize "$window" "$win_w" "$win_h"
    wait_for 10 is_back || fail "the window did not take its size back"
  fi

  step="$lang: full screen"
  # The full-screen button in the lower right corner; a click that came before the program had laid
  # the window out again (after the resizing above) is given once more.
  local tries
  for tries in 1 2 3; do
    xdotool mousemove --sync $((win_x + win_w - 16)) $((win_y + win_h - 14))
    xdotool click 1
    wait_for 5 is_full && break
  done
  is_full || fail "not in the window manager's full-screen state: $(xprop -id "$window" _NET_WM_STATE) ${WIDTH}x${HEIGHT} at $X,$Y"
  wait_steady 10 place "$window"
  shoot "fullscreen-$lang"
  xdotool windowfocus --sync "$window" 2>/dev/null
  xdotool key Escape
  wait_for 10 is_back || fail "Escape did not give the window back: $(xprop -id "$window" _NET_WM_STATE) ${WIDTH}x${HEIGHT} at $X,$Y"
  echo "$lang: full screen ${screen_w}x${screen_h} and back to ${win_w}x${win_h} at ${win_x},${win_y}"

  step="$lang: message box"
  click_du 191 2 37 24
  wait_for 10 find_named "$exit_title" || fail "the exit question did not open"
  local question
  question=$(find_named "$exit_title")
  wait_steady 10 place "$question"
  shoot "messagebox-$lang"
  xdotool windowfocus --sync "$question" 2>/dev/null
  xdotool key Escape
  question_gone() { ! find_named "$exit_title" >/dev/null; }
  wait_for 10 question_gone || fail "the question did not close"

  step="$lang: file dialog"
  click_du 1 2 37 24
  wait_for 10 find_named "$settings_title" || fail "the settings dialog did not open"
  local dialog
  dialog=$(find_named "$settings_title")
  wait_steady 10 place "$dialog"
  geometry "$dialog"
  # The folder text (as laid out at 649 x 481), then the browse button after it.
  xdotool mousemove --sync $((X + 250 * WIDTH / 649)) $((Y + 348 * HEIGHT / 481))
  xdotool click 1
  xdotool key Tab space
  wait_for 10 find_named "$chooser_title" || fail "the folder chooser \"$chooser_title\" did not open"
  wait_steady 10 place "$(find_named "$chooser_title")"
  shoot "filedialog-$lang"
  kill "$demo_pid"
  wait "$demo_pid" 2>/dev/null
  demo_pid=""
}

run_language en
run_language zh
echo "PASS"
