#!/bin/bash
# Second init of the camera rig's guest, on the host's root: mounts what a desktop system has (tmpfs
# folders, configfs, the results share), makes the rig's module tree the kernel's, starts udevd and
# runs the job that boot.sh left in the results share. Its exit status goes to /results/job.status;
# then the guest powers off.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8

mark() { echo "rig: [$(cut -d' ' -f1 /proc/uptime) s] $*"; }
power_off() {
  sync
  umount /results 2>/dev/null
  /bin/busybox poweroff -f
}

mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /dev/pts /dev/shm /results
mount -t devpts -o mode=620,ptmxmode=666 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results /results; then
  mark "cannot mount the results share"
  power_off
fi
# shellcheck source=/dev/null
. /results/job.env

# The rig's modules (the packaged kernel's, and our patched ones preferred) as the running kernel's.
mkdir -p "/lib/modules/$KERNEL_ABI"
mount --bind "$MODULES_ROOT" "/lib/modules/$KERNEL_ABI"
modprobe configfs && mount -t configfs configfs /sys/kernel/config
hostname orvane-rig
mark "root mounted"

# Cameras come later and udevd handles their events as they come; of what is already there only the
# subsystems the cameras use are replayed (all of them would cost many seconds of emulated CPU).
# Only the rules that give cameras and their buttons their properties (USB ids, serial number, model
# from the USB ID database, port path, input ids) and access run: the others (storage, network,
# sound, modem and seat management, module loading) are masked, each of them costing seconds per
# plugged camera on emulated CPUs.
for rule in /lib/udev/rules.d/*.rules; do
  case ${rule##*/} in
    50-udev-default.rules | 60-persistent-v4l.rules | 60-input-id.rules | 60-persistent-input.rules | \
      60-evdev.rules | 70-uaccess.rules) ;;
    *) ln -sf /dev/null "/etc/udev/rules.d/${rule##*/}" ;;
  esac
done
/lib/systemd/systemd-udevd --daemon --resolve-names=never
udevadm trigger --action=add --subsystem-match=usb --subsystem-match=video4linux --subsystem-match=input
udevadm settle --timeout=120
mark "udevd running"
cut -d' ' -f1 /proc/uptime >/results/boot.seconds

cd /results || power_off
bash -c "$JOB" >/results/job.log 2>&1
echo $? >/results/job.status
mark "job ended with status $(cat /results/job.status)"
power_off
