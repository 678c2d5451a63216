#!/bin/busybox sh
# First init of the camera rig's guest, inside the initramfs: loads the virtio and 9p modules, mounts
# the host's root (read-only over 9p) under a tmpfs overlay that takes the guest's writes, and hands
# over to the second init ($orvane_stage2, from the kernel command line) running on that root.
/bin/busybox --install -s /bin
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

fail() {
  echo "rig-init: $*"
  poweroff -f
}

while read -r module; do
  insmod "/lib/modules/$module" || fail "cannot load $module"
done </lib/modules/load.order

mkdir -p /lower /upper
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot /lower ||
  fail "cannot mount the host's root over 9p"
mount -t tmpfs -o mode=755 tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work overlay /newroot ||
  fail "cannot mount the overlay root"

[ -n "$orvane_stage2" ] && [ -f "/newroot$orvane_stage2" ] || fail "no second init at '$orvane_stage2'"
for dir in dev proc sys; do
  mount --move "/$dir" "/newroot/$dir"
done
exec switch_root /newroot /bin/bash "$orvane_stage2"
