# Shared pieces of the end-to-end scripts: a working folder removed at the end, a private virtual
# display, a sandboxed home, waiting with a deadline, and a failure report that leaves the screen and
# the program's output in the test log. Source it after setting `name` (used for the screenshot).

work=$(mktemp -d "/tmp/orvane-${name:?}-XXXXXX")
xvfb_pid=""
demo_pid=""
second_pid=""
step="start"
cleanup() {
  local pid
  for pid in "$second_pid" "$demo_pid" "$xvfb_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
  done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# On failure: the screen is kept in the working folder (the build tree under ctest) and goes to
# the log as a small base64 JPEG, with the end of every program log.
fail() {
  echo "FAIL ($step): $*"
  if [ -n "${DISPLAY:-}" ] && /usr/bin/import -window root "$work/failure.png" 2>/dev/null; then
    cp "$work/failure.png" "$PWD/$name-failure.png" 2>/dev/null && echo "screenshot: $PWD/$name-failure.png"
    echo "--- screenshot (JPEG at half size, base64) ---"
    /usr/bin/convert "$work/failure.png" -resize 50% -quality 60 jpg:- | base64 -w 0
    echo
    echo "--- end of screenshot ---"
  fi
  local log
  for log in "$work"/*.log; do
    [ -f "$log" ] && [ "${log##*/}" != xvfb.log ] && { echo "--- ${log##*/} ---"; tail -40 "$log"; }
  done
  exit 1
}

# Waits up to $1 seconds for the command in the remaining arguments to succeed.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}
alive() { kill -0 "$1" 2>/dev/null; }
ended() { ! kill -0 "$1" 2>/dev/null; }

# Whether what the command in the arguments prints is what it printed at the previous call (a window
# that stopped moving, a file that stopped growing). Each call of wait_steady starts afresh.
same_as_before() {
  local now
  now=$("$@" 2>&1)
  if [ "${same_before-}" = "$now" ] && [ -n "${same_before+set}" ]; then return 0; fi
  same_before=$now
  return 1
}
wait_steady() {
  local seconds=$1
  shift
  unset same_before
  wait_for "$seconds" same_as_before "$@"
}

# Whether the screen picture in the rectangle x y width height differs from the previous call's.
# The first call of each wait_moving only takes a picture.
picture_moved() {
  local last="$work/moving.png" now="$work/moving-now.png" differ
  /usr/bin/import -window root -crop "${3}x${4}+${1}+${2}" +repage "$now" 2>/dev/null || return 1
  if [ -f "$last" ]; then
    differ=$(/usr/bin/compare -metric AE "$last" "$now" null: 2>&1 | cut -d' ' -f1)
    if awk -v d="$differ" 'BEGIN { exit !(d + 0 > 50) }'; then
      rm -f "$last" "$now"
      return 0
    fi
  fi
  mv "$now" "$last"
  return 1
}
wait_moving() {
  local seconds=$1
  shift
  rm -f "$work/moving.png"
  wait_for "$seconds" picture_moved "$@"
}
# The live picture of the viewer window at win_x win_y, win_w x win_h: its moving test bar changes
# the middle of the preview all the time, and only while frames arrive.
wait_preview() {
  wait_moving "$1" $((win_x + win_w * 40 / 100)) $((win_y + win_h * 25 / 100)) $((win_w * 50 / 100)) $((win_h * 50 / 100))
}

# The toolbar's five action buttons of the viewer window at win_x win_y, win_w x win_h (the first
# third of the width, 26 of the window's 479 dialog units high). toolbar_remember keeps how they look
# enabled, with the pointer elsewhere; toolbar_idle is true once they look so again (a photo, a movie
# or a series disables them while it runs).
toolbar_shot() {
  /usr/bin/import -window root -crop "$((win_w / 3))x$((win_h * 26 / 479))+${win_x}+${win_y}" +repage \
    "$work/$1.png" 2>/dev/null
}
toolbar_remember() { toolbar_shot toolbar-idle; }
toolbar_pixels() { toolbar_shot toolbar-pixels && /usr/bin/identify -format '%#' "$work/toolbar-pixels.png"; }
toolbar_idle() {
  local differ
  toolbar_shot toolbar-now || return 1
  differ=$(/usr/bin/compare -metric AE "$work/toolbar-idle.png" "$work/toolbar-now.png" null: 2>&1 | cut -d' ' -f1)
  awk -v d="$differ" 'BEGIN { exit !(d + 0 < 20) }'
}
# Moves the pointer to the middle of the window without waiting for the motion (there may be none).
pointer_away() { xdotool mousemove $((win_x + win_w / 2)) $((win_y + win_h / 2)); }
# The pointer away and the buttons enabled again, for the next click on the toolbar.
toolbar_ready() {
  pointer_away
  wait_for 20 toolbar_idle
}

# Whether the file exists and has at least the given number of bytes.
has_bytes() { [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ]; }

# Frames of the first video stream of a movie as ffprobe decodes them (empty when it cannot).
probe_frames() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1" 2>/dev/null
}
# ffprobe decodes the movies; scripts/setup installs it with ffmpeg.
need_ffprobe() {
  command -v ffprobe >/dev/null || { echo "FAIL: ffprobe is not installed (scripts/setup installs ffmpeg)"; exit 1; }
}

# A display of our own: Xvfb picks a free number and writes it to the descriptor. $1: the screen,
# 1600x1000x24 unless given.
start_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 "${1:-1600x1000x24}" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$work/display")"
}

# HOME, the XDG folders and the locale point into the working folder; nothing reaches the user's own.
sandbox_home() {
  home="$work/home"
  mkdir -p "$home/Documents" "$home/.config" "$work/run"
  chmod 700 "$work/run"
  export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$work/run" XDG_DOCUMENTS_DIR="$home/Documents"
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  unset QT_QPA_PLATFORM
  # Leaks are the unit tests' business; the window system's libraries keep some memory to the end.
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
}
