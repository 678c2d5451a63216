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

# A display of our own: Xvfb picks a free number and writes it to the descriptor.
start_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
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
