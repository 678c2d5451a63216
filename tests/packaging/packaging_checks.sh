# Shared by the packaging tests: results, the build's settings and the checks both trees must pass.
# Sourced, never run.

skip() {
  echo "SKIP: $*"
  exit 77
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The value of a cache entry of the build folder, or $3 when it is not set there.
cache_value() {
  local value
  value=$(sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1)
  echo "${value:-$3}"
}

require_programs_built() {
  local build=$1
  for program in orvane orvane-demo; do
    [ -x "$build/bin/$program" ] || skip "$build/bin/$program is not built"
  done
  grep -qF "\"$build/bin/orvane\"" "$build/packaging/cmake_install.cmake" 2>/dev/null ||
    skip "the build folder was configured before the programs existed; configure it again"
}

require_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/setup installs it)"
  done
}

# Width and height of a PNG file, from its header.
png_size() {
  local bytes
  bytes=($(od -An -tu1 -j16 -N8 "$1"))
  [ ${#bytes[@]} -eq 8 ] || return 1
  echo "$(((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]))x$(((bytes[4] << 24) | (bytes[5] << 16) | (bytes[6] << 8) | bytes[7]))"
}

# The value of a key of the [Desktop Entry] group.
desktop_value() {
  sed -n "/^\[Desktop Entry\]/,/^\[/{s/^$2=//p}" "$1" | head -n 1
}

# Checks an installed tree: $1 the root (DESTDIR or extracted package), $2 the prefix inside it,
# $3 the program folder and $4 the udev rules folder relative to the prefix, $5 the source tree.
check_installed_tree() {
  local root=$1 prefix=$2 program_dir=$3 udev_dir=$4 source=$5
  local top="$root$prefix"

  [ -d "$top" ] || fail "nothing was installed under $top"

  # Exactly these files: nothing of the build (libraries, test programs, headers) slips in.
  local expected actual
  expected=$(
    {
      echo "bin/orvane"
      echo "bin/orvane-demo"
      echo "$program_dir/orvane"
      echo "$program_dir/orvane-demo"
      (cd "$source/Resource" && find . -type f | sed "s|^\./|$program_dir/Resource/|")
      echo "share/applications/orvane.desktop"
      for size in 16 24 32 48 64 128 256; do echo "share/icons/hicolor/${size}x${size}/apps/orvane.png"; done
      echo "share/icons/hicolor/scalable/apps/orvane.svg"
      echo "$udev_dir/60-orvane-camera-button.rules"
      echo "share/doc/orvane/copyright"
    } | LC_ALL=C sort
  )
  actual=$(cd "$top" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
  if [ "$expected" != "$actual" ]; then
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    fail "the installed files differ from the expected layout (< expected, > installed)"
  fi

  # The programs sit beside an identical copy of Resource/.
  for program in orvane orvane-demo; do
    [ -x "$top/$program_dir/$program" ] && [ ! -L "$top/$program_dir/$program" ] ||
      fail "$program_dir/$program is not an executable file"
    head -c 4 "$top/$program_dir/$program" | grep -q 'ELF' || fail "$program_dir/$program is not an ELF program"
  done
  diff -r "$source/Resource" "$top/$program_dir/Resource" >&2 || fail "the installed Resource/ differs from the source"

  # bin/ holds relative links into the program folder, so the tree can be moved as a whole and
  # /proc/self/exe names the program folder.
  for program in orvane orvane-demo; do
    local link="$top/bin/$program"
    [ -L "$link" ] || fail "bin/$program is not a symbolic link"
    case "$(readlink "$link")" in
      /*) fail "bin/$program points to an absolute path: $(readlink "$link")" ;;
    esac
    [ "$(readlink -f "$link")" = "$(readlink -f "$top/$program_dir/$program")" ] ||
      fail "bin/$program does not lead to $program_dir/$program"
  done

  # The menu entry.
  local desktop="$top/share/applications/orvane.desktop"
  [ "$(desktop_value "$desktop" Type)" = "Application" ] || fail "the menu entry is not an application"
  [ "$(desktop_value "$desktop" Name)" = "Orvane" ] || fail "the menu entry's name is not Orvane"
  [ -n "$(desktop_value "$desktop" 'Name\[zh_CN\]')" ] || fail "the menu entry has no Chinese name"
  [ "$(desktop_value "$desktop" Icon)" = "orvane" ] || fail "the menu entry's icon is not orvane"
  [ "$(desktop_value "$desktop" Exec)" = "orvane" ] || fail "the menu entry does not start orvane"
  local categories
  categories=";$(desktop_value "$desktop" Categories)"
  for category in Graphics AudioVideo Video; do
    case "$categories" in
      *";$category;"*) ;;
      *) fail "the menu entry is not in the $category category" ;;
    esac
  done
  if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate --no-hints "$desktop" || fail "desktop-file-validate rejects the menu entry"
  else
    echo "note: desktop-file-validate is not installed; the menu entry was checked by key only"
  fi

  # The icon at each size of the theme.
  for size in 16 24 32 48 64 128 256; do
    local icon="$top/share/icons/hicolor/${size}x${size}/apps/orvane.png"
    [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $(png_size "$icon" || echo 'not a PNG')"
  done
  grep -q '<svg' "$top/share/icons/hicolor/scalable/apps/orvane.svg" || fail "the scalable icon is not an SVG drawing"

  # The udev rule gives access to the cameras' button nodes only.
  local rule="$top/$udev_dir/60-orvane-camera-button.rules"
  grep -q 'TAG+="uaccess"' "$rule" || fail "the udev rule grants nothing"
  grep -q 'DRIVERS=="uvcvideo"' "$rule" || fail "the udev rule is not limited to UVC cameras"
}
