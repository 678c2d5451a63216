# The viewer on a desktop: a window manager on the test's display, screenshots, and windows found by
# title and measured. Sourced after e2e_lib.sh by the window tests; sets the EXIT trap.
# Needs: screen_w and screen_h set, start_display and sandbox_home called.

here_desktop=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
zh_strings="$here_desktop/../../Resource/zh-Hans.lproj/Localizable.strings"
en_strings="$here_desktop/../../Resource/English.lproj/Localizable.strings"
# The text of key $2 in strings file $1.
text_of() { sed -n "s/^\"$2\" *= *\"\\(.*\\)\";.*/\\1/p" "$1" | head -1; }

wm_pid=""
cleanup_wm() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  cleanup
}
trap cleanup_wm EXIT

# Starts openbox on the display and waits until it manages it.
start_window_manager() {
  step="window manager"
  openbox >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
  # A deadline, not a wait: openbox takes seconds on a busy machine.
  wait_for 60 wm_running || fail "openbox did not take the display"
}

shots=${ORVANE_SHOTS_DIR:-}
[ -n "$shots" ] && mkdir -p "$shots"
# Photographs the screen as $work/$1.png (kept in ORVANE_SHOTS_DIR too when set).
shoot() {
  /usr/bin/import -window root "$work/$1.png" 2>/dev/null || fail "no screenshot $1"
  [ -n "$shots" ] && cp "$work/$1.png" "$shots/$1.png"
  echo "screenshot $1"
}

# A visible window whose title is exactly $1 (compared as text: xdotool's own matching of titles
# outside ASCII depends on the locale).
find_named() {
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && { echo "$id"; return 0; }
  done
  return 1
}
# The window's client area on the screen, into X, Y, WIDTH and HEIGHT. xwininfo, since xdotool's
# position of a framed window counts the frame twice under openbox.
geometry() {
  local info
  info=$(xwininfo -id "$1") || return 1
  X=$(sed -n 's/^ *Absolute upper-left X: *\(-*[0-9]*\)$/\1/p' <<<"$info")
  Y=$(sed -n 's/^ *Absolute upper-left Y: *\(-*[0-9]*\)$/\1/p' <<<"$info")
  WIDTH=$(sed -n 's/^ *Width: *\([0-9]*\)$/\1/p' <<<"$info")
  HEIGHT=$(sed -n 's/^ *Height: *\([0-9]*\)$/\1/p' <<<"$info")
  [ -n "$X" ] && [ -n "$Y" ] && [ -n "$WIDTH" ] && [ -n "$HEIGHT" ]
}
place() { geometry "$1" && echo "$X $Y $WIDTH $HEIGHT"; }
