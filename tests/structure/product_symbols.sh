#!/usr/bin/env bash
# Installs the build into a scratch prefix and reads the installed orvane's symbols: the viewer's
# own classes are there, the simulated cameras are not.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" --component Unspecified >/dev/null 2>&1 ||
  cmake --install "$build" --prefix "$prefix" >/dev/null
program=$(find "$prefix" -type f -name orvane -perm -u+x | head -n1)
[ -n "$program" ] || { echo "no installed orvane below $prefix" >&2; exit 1; }
symbols=$(nm -C "$program")
grep -q "CMainViewerDlg" <<<"$symbols" || { echo "$program carries no readable symbols" >&2; exit 1; }
if grep -i "simulat" <<<"$symbols" | head -n5 | grep .; then
  echo "$program carries simulated-camera code" >&2
  exit 1
fi
echo "$program: $(wc -l <<<"$symbols") symbols, none of a simulated camera"
