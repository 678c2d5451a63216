#!/usr/bin/env bash
# Makes the camera rig's kernel ready in the cache and prints the path of its description file
# (rig.env: KERNEL_ABI, KERNEL_VERSION, KERNEL_IMAGE, INITRD, MODULES_ROOT).
#
# Cache: ${XDG_CACHE_HOME:-$HOME/.cache}/orvane/kernel-rig/<Debian version>/ holding
#   image/      the unpacked linux-image package (never installed into /boot); its module tree gets
#               our patched dummy_hcd and usb_f_uvc in updates/ and a depmod index that prefers them
#   source/     the few files taken from linux-source-6.1
#   build/      the out-of-tree module build against /usr/src/linux-headers-<abi>
#   initrd.img  the busybox initramfs with what mounting the host's root over 9p takes
# Every step is skipped when its result is there and its inputs (patches, init script) are unchanged.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
kernel_dir=$(dirname "$here")
cache_root=${ORVANE_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvane/kernel-rig}
log() { echo "prepare: $*" >&2; }
die() { echo "prepare: $*" >&2; exit 1; }

mkdir -p "$cache_root"
exec 9>"$cache_root/.lock"
flock 9

if ! selection=$("$here/kernel_select.sh"); then
  # Without package lists the newest complete cache still serves.
  newest=$(find "$cache_root" -mindepth 2 -maxdepth 2 -name rig.env -printf '%h\n' 2>/dev/null | sort -V | tail -1)
  [ -n "$newest" ] || die "no kernel can be chosen and none is cached; run scripts/setup"
  log "no kernel can be chosen from the package lists; using the cached $(basename "$newest")"
  echo "$newest/rig.env"
  exit 0
fi
read -r abi version image_package <<<"$selection"
cache="$cache_root/$version"
mkdir -p "$cache"
headers="/usr/src/linux-headers-$abi"
[ -f "$headers/Makefile" ] || die "$headers is missing; scripts/setup installs linux-headers-$abi=$version"

fetch() {  # package version -> path of the .deb in $cache/debs
  local deb
  mkdir -p "$cache/debs"
  deb=$(find "$cache/debs" -name "${1}_*.deb" | head -1)
  if [ -z "$deb" ]; then
    log "downloading $1=$2"
    (cd "$cache/debs" && apt-get download -q -o APT::Sandbox::User=root "$1=$2" >&2) ||
      die "apt-get download $1=$2 failed (stale package lists? run apt-get update)"
    deb=$(find "$cache/debs" -name "${1}_*.deb" | head -1)
  fi
  echo "$deb"
}

# The kernel and its modules.
modules="$cache/image/lib/modules/$abi"
if [ ! -f "$cache/image/boot/vmlinuz-$abi" ] || [ ! -f "$modules/modules.order" ]; then
  rm -rf "$cache/image"
  deb=$(fetch "$image_package" "$version")
  log "unpacking $(basename "$deb")"
  dpkg -x "$deb" "$cache/image.tmp"
  mv "$cache/image.tmp" "$cache/image"
  rm -f "$deb"
fi

# The sources of the two modules we patch.
wanted=(
  drivers/usb/gadget/udc/dummy_hcd.c
  drivers/usb/gadget/function/f_uvc.c drivers/usb/gadget/function/f_uvc.h
  drivers/usb/gadget/function/u_uvc.h drivers/usb/gadget/function/uvc.h
  drivers/usb/gadget/function/uvc_configfs.c drivers/usb/gadget/function/uvc_configfs.h
  drivers/usb/gadget/function/uvc_queue.c drivers/usb/gadget/function/uvc_queue.h
  drivers/usb/gadget/function/uvc_v4l2.c drivers/usb/gadget/function/uvc_v4l2.h
  drivers/usb/gadget/function/uvc_video.c drivers/usb/gadget/function/uvc_video.h
)
if [ ! -f "$cache/source/.complete" ]; then
  rm -rf "$cache/source" "$cache/source.tmp"
  deb=$(fetch linux-source-6.1 "$version")
  log "taking ${#wanted[@]} files out of $(basename "$deb")"
  mkdir -p "$cache/source.tmp"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/src/linux-source-6.1.tar.xz |
    tar -xJ -C "$cache/source.tmp" --strip-components=1 "${wanted[@]/#/linux-source-6.1/}"
  touch "$cache/source.tmp/.complete"
  mv "$cache/source.tmp" "$cache/source"
  rm -f "$deb"
fi

# The patched modules, rebuilt when a patch changes.
patches=("$kernel_dir/dummy_hcd-isochronous.patch" "$kernel_dir/f_uvc-controls.patch")
module_stamp=$(cat "${patches[@]}" "$here/Kbuild.modules" | sha256sum | cut -c1-16)
if [ "$(cat "$cache/build/.stamp" 2>/dev/null)" != "$module_stamp" ] || [ ! -f "$modules/updates/usb_f_uvc.ko" ]; then
  rm -rf "$cache/build"
  mkdir -p "$cache/build"
  cp -r "$cache/source/drivers" "$cache/build/"
  for patch in "${patches[@]}"; do
    patch -s -p1 -d "$cache/build" <"$patch" || die "$(basename "$patch") does not apply to linux-source-6.1 $version"
  done
  cp "$here/Kbuild.modules" "$cache/build/Kbuild"
  log "building dummy_hcd and usb_f_uvc against $headers"
  make -s -C "$headers" M="$cache/build" -j2 modules >"$cache/build/make.log" 2>&1 ||
    { cat "$cache/build/make.log" >&2; die "the module build failed"; }
  mkdir -p "$modules/updates"
  cp "$cache/build/dummy_hcd.ko" "$cache/build/usb_f_uvc.ko" "$modules/updates/"
  echo "search updates built-in" >"$cache/build/depmod.conf"
  depmod -b "$cache/image" -C "$cache/build/depmod.conf" "$abi"
  echo "$module_stamp" >"$cache/build/.stamp"
fi

# The initramfs: busybox, the modules that mounting a 9p share over virtio needs, and the first init.
boot_modules=(virtio_pci 9pnet_virtio 9p overlay)
initrd_stamp=$( (cat "$here/init.sh" /bin/busybox; echo "${boot_modules[*]}") | sha256sum | cut -c1-16)
if [ "$(cat "$cache/initrd.stamp" 2>/dev/null)" != "$initrd_stamp" ] || [ ! -f "$cache/initrd.img" ]; then
  [ -x /bin/busybox ] && file -L /bin/busybox | grep -q 'statically linked' ||
    die "/bin/busybox is not the static busybox; scripts/setup installs busybox-static"
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  mkdir -p "$root"/{bin,dev,proc,sys,newroot,lib/modules}
  cp /bin/busybox "$root/bin/busybox"
  cp "$here/init.sh" "$root/init"
  chmod 755 "$root/init"
  # In load order, dependencies first.
  modprobe -a -d "$cache/image" -S "$abi" --show-depends "${boot_modules[@]}" |
    awk '$1 == "insmod" { print $2 }' | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$root/lib/modules/"
    basename "$ko" >>"$root/lib/modules/load.order"
  done
  [ -s "$root/lib/modules/load.order" ] || die "no module found for ${boot_modules[*]}"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$cache/initrd.img"
  echo "$initrd_stamp" >"$cache/initrd.stamp"
fi

cat >"$cache/rig.env" <<EOF
KERNEL_ABI=$abi
KERNEL_VERSION=$version
KERNEL_IMAGE=$cache/image/boot/vmlinuz-$abi
INITRD=$cache/initrd.img
MODULES_ROOT=$cache/image/lib/modules/$abi
EOF
echo "$cache/rig.env"
