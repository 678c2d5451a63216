#!/usr/bin/env bash
# Builds the Debian package with CPack, checks its control data, unpacks it into a scratch root with
# dpkg -x and runs the unpacked viewer under a private Xvfb display with a sandboxed home.
# Usage: check_debian_package.sh BUILD_DIR SOURCE_DIR WORK_DIR SCREENSHOT
set -euo pipefail
build=$1 source=$2 work=$3 screenshot=$4
. "$(dirname "$0")/packaging_checks.sh"

require_programs_built "$build"
require_tools dpkg dpkg-deb Xvfb xdotool import readelf

version=$(cache_value "$build" CMAKE_PROJECT_VERSION "")
program_dir=$(cache_value "$build" ORVANE_INSTALL_PROGRAM_DIR lib/orvane)
udev_dir=$(cache_value "$build" ORVANE_INSTALL_UDEV_RULES_DIR lib/udev/rules.d)
case "$udev_dir" in /*) udev_dir=${udev_dir#/} ;; esac

rm -rf "$work"
mkdir -p "$work"

"${ORVANE_CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack could not build the package"; }
debs=("$work"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${#debs[@]} packages, not one"
deb=${debs[0]}

# Control data.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "orvane" ] || fail "the package is named '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "the package version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "the package is for '$(field Architecture)'"
[ "$(field Maintainer)" = "Zentrova <support@zentrova.example>" ] || fail "the maintainer is '$(field Maintainer)'"
depends=$(field Depends)
echo "Depends: $depends"
echo "Recommends: $(field Recommends)"
for library in 'libqt6widgets6' 'libqt6gui6' 'libqt6core6' 'libavformat[0-9]+' 'libavcodec[0-9]+' 'libswscale[0-9]+' \
  'libavutil[0-9]+' 'libturbojpeg0' 'libyuv0' 'libudev1' 'libxcb1' 'libc6' 'qt6-translations-l10n'; do
  echo "$depends" | grep -Eq "(^|, )$library( |,|$)" || fail "Depends lacks $library"
done
field Recommends | grep -q 'fonts-noto-cjk' || fail "the Chinese font is not recommended"
# Every dependency names a package this Debian has: each is installed here, since the build used it.
for name in $(echo "$depends" | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/:any//' | tr -d ' '); do
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' ||
    fail "the dependency $name is not a package installed on this system"
done

dpkg-deb -e "$deb" "$work/control"
[ "$(stat -c %a "$work/control/postinst")" = 755 ] || fail "postinst is not executable"
sh -n "$work/control/postinst" || fail "postinst is not a valid shell script"
if dpkg-deb -c "$deb" | awk '{print $2}' | grep -v '^root/root$' | grep -q .; then
  fail "the package holds files not owned by root"
fi

# The unpacked tree.
root="$work/root"
dpkg -x "$deb" "$root"
check_installed_tree "$root" /usr "$program_dir" "$udev_dir" "$source"
for program in orvane orvane-demo; do
  if readelf -d "$root/usr/$program_dir/$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$program_dir/$program still searches the build tree for libraries"
  fi
done

# A window title only the unpacked Resource/ holds: when the window shows it, the program read the
# folder beside its real location, not the build tree's.
marker="Orvane unpacked package check"
for strings in "$root/usr/$program_dir"/Resource/*.lproj/Localizable.strings; do
  sed -i "s|^\"ui_dlg_viewer\" = \".*\";|\"ui_dlg_viewer\" = \"$marker\";|" "$strings"
done

sandbox="$work/sandbox"
mkdir -p "$sandbox/home/Documents" "$sandbox/config" "$sandbox/data" "$sandbox/cache" "$sandbox/runtime"
chmod 700 "$sandbox/runtime"

xvfb_pid="" program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A private display: a free number well above the ones people start by hand, tried until one Xvfb
# comes up (another server may take a number between the check and the start).
display=""
for _ in $(seq 1 20); do
  number=$((300 + RANDOM % 600))
  [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
  Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do
    [ -S "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -S "/tmp/.X11-unix/X$number" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    display=":$number"
    break
  fi
  kill -TERM "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$display" ] || { cat "$work/xvfb.log" >&2; fail "no Xvfb display could be started"; }

# Started by name from the unpacked bin/, through the link, with nothing of the user's session.
env -i \
  PATH="$root/usr/bin:/usr/bin:/bin" \
  HOME="$sandbox/home" XDG_CONFIG_HOME="$sandbox/config" XDG_DATA_HOME="$sandbox/data" \
  XDG_CACHE_HOME="$sandbox/cache" XDG_RUNTIME_DIR="$sandbox/runtime" XDG_DOCUMENTS_DIR="$sandbox/home/Documents" \
  DISPLAY="$display" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
  ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
  orvane-demo >"$work/program.log" 2>&1 &
program_pid=$!

window=""
for _ in $(seq 1 60); do
  kill -0 "$program_pid" 2>/dev/null || { cat "$work/program.log" >&2; fail "the unpacked orvane-demo ended by itself"; }
  window=$(DISPLAY="$display" xdotool search --onlyvisible --name "^$marker\$" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  DISPLAY="$display" import -window root "$screenshot" 2>/dev/null || true
  cat "$work/program.log" >&2
  fail "no window titled '$marker' appeared (screen in $screenshot)"
fi

# Let it run a few seconds with the simulated camera before the screenshot.
sleep 3
kill -0 "$program_pid" 2>/dev/null || { cat "$work/program.log" >&2; fail "the unpacked orvane-demo stopped while running"; }
DISPLAY="$display" import -window root "$screenshot" || fail "the screenshot failed"
echo "screenshot: $screenshot"

kill -TERM "$program_pid"
status=""
for _ in $(seq 1 100); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    set +e
    wait "$program_pid"
    status=$?
    set -e
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || fail "orvane-demo was still running 10 s after SIGTERM"
program_pid=""
echo "orvane-demo ended with status $status on SIGTERM"
# 143: ended by the signal itself; 0: it caught the signal and quit.
[ "$status" = 143 ] || [ "$status" = 0 ] || { cat "$work/program.log" >&2; fail "orvane-demo ended with status $status on SIGTERM"; }

cleanup
trap - EXIT
rm -rf "$work"
echo "PASS: the package $(basename "$deb") unpacks and its viewer runs under Xvfb"
