#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR under the default prefix and checks the installed tree.
# Usage: check_install_layout.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$1 source=$2 work=$3
. "$(dirname "$0")/packaging_checks.sh"

require_programs_built "$build"

program_dir=$(cache_value "$build" ORVANE_INSTALL_PROGRAM_DIR lib/orvane)
udev_dir=$(cache_value "$build" ORVANE_INSTALL_UDEV_RULES_DIR lib/udev/rules.d)
prefix=/usr/local

rm -rf "$work"
mkdir -p "$work"
root="$work/root"

DESTDIR="$root" "${ORVANE_CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

check_installed_tree "$root" "$prefix" "$program_dir" "$udev_dir" "$source"

# The installed programs must not load libraries from the build tree.
for program in orvane orvane-demo; do
  if readelf -d "$root$prefix/$program_dir/$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$program_dir/$program still searches the build tree for libraries"
  fi
done

rm -rf "$work"
echo "PASS: the installed tree under $prefix has the expected layout"
