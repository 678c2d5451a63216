#!/usr/bin/env bash
# Chooses the Debian kernel the camera rig boots: the newest package version for which the mirror
# offers all three of linux-image-<abi>-amd64(-unsigned), linux-headers-<abi>-amd64 and
# linux-source-6.1, so that modules built from the source load into the image.
# Prints "<abi> <version> <image package>", e.g. "6.1.0-58-amd64 6.1.194-1 linux-image-6.1.0-58-amd64-unsigned".
# ORVANE_KERNEL_ABI and ORVANE_KERNEL_VERSION, when both set, are taken as they are.
# Exits 1 with a message on stderr when the package lists hold no such triple.
set -euo pipefail

if [ -n "${ORVANE_KERNEL_ABI:-}" ] && [ -n "${ORVANE_KERNEL_VERSION:-}" ]; then
  echo "$ORVANE_KERNEL_ABI $ORVANE_KERNEL_VERSION ${ORVANE_KERNEL_IMAGE:-linux-image-$ORVANE_KERNEL_ABI-unsigned}"
  exit 0
fi

abis=$(apt-cache search --names-only '^linux-headers-6\.1\.0-[0-9]+-amd64$' 2>/dev/null |
  sed -n 's/^linux-headers-\(6\.1\.0-[0-9]*-amd64\) .*/\1/p' | sort -u)
packages=(linux-source-6.1)
for abi in $abis; do
  packages+=("linux-headers-$abi" "linux-image-$abi-unsigned" "linux-image-$abi")
done
# "package version" for every version of every candidate, from one look-up.
offers=$(apt-cache madison "${packages[@]}" 2>/dev/null | awk -F'|' '{ gsub(/ /, ""); print $1, $2 }' | sort -u)

if ! grep -q '^linux-source-6\.1 ' <<<"$offers"; then
  echo "kernel_select: the package lists offer no linux-source-6.1 (run apt-get update?)" >&2
  exit 1
fi

# Newest version first; at one version the unsigned image is preferred.
best=$(awk '
  { have[$1 " " $2] = 1; if ($1 ~ /^linux-image-/) images[++n] = $1 " " $2 }
  END {
    for (i = 1; i <= n; i++) {
      split(images[i], f, " ")
      abi = f[1]; sub(/^linux-image-/, "", abi); sub(/-unsigned$/, "", abi)
      if (have["linux-headers-" abi " " f[2]] && have["linux-source-6.1 " f[2]])
        print f[2], abi, f[1]
    }
  }' <<<"$offers" | sort -t' ' -k1,1V -k3,3 | tail -1)

if [ -z "$best" ]; then
  echo "kernel_select: no Debian 6.1 kernel version has its image, headers and linux-source-6.1 in the" \
    "package lists" >&2
  exit 1
fi
read -r version abi image <<<"$best"
echo "$abi $version $image"
