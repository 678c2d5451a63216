#!/usr/bin/env bash
# Emulated USB microscopes for the camera rig's guest: UVC gadgets made through configfs on the
# dummy_hcd controllers, each served by orvane_uvc_feeder and seen by the real uvcvideo driver.
#
#   uvc_gadget.sh load [CONTROLLERS]      loads libcomposite, usb_f_uvc and dummy_hcd (num=CONTROLLERS, 2)
#   uvc_gadget.sh plug NAME [CONTROLLER [SERIAL [PRODUCT_ID]]]
#                                         makes gadget NAME if needed, binds it to dummy_udc.CONTROLLER
#                                         (0), starts its feeder and prints the camera's capture node
#                                         once uvcvideo and udev have it
#   uvc_gadget.sh unplug NAME             unbinds it (the camera leaves the host) and waits for its
#                                         nodes and feeder to go
#   uvc_gadget.sh node NAME               prints the capture node of a plugged camera
#   uvc_gadget.sh usb-device NAME         prints the sysfs path of its USB device on the host side
#
# Every camera: vendor 0c45, product PRODUCT_ID (6366), "Orvane Labs" / "Orvane Test Microscope",
# serial SERIAL (ORV0001); MJPG 1920x1080 and 1280x720, YUYV 640x480, all at 30 fps.
# ORVANE_FEEDER names the feeder program; its log goes to $ORVANE_GADGET_LOGS/NAME-feeder.log (/tmp).
# ORVANE_FEEDER_PACE, when set, is the number of frames the feeder really sends a second;
# ORVANE_FEEDER_PATTERNS the folder of its encoded test pictures (made beforehand, /tmp/orvane-feeder).
set -euo pipefail

configfs=/sys/kernel/config/usb_gadget
state=/run/orvane-gadget
logs=${ORVANE_GADGET_LOGS:-/tmp}
fps=${ORVANE_GADGET_FPS:-30}
mkdir -p "$state"

die() { echo "uvc_gadget: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command in the remaining arguments to succeed.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

put() { printf '%s\n' "$2" >"$1"; }

frame() {  # format-dir name width height
  local dir=$1/$2
  mkdir "$dir"
  put "$dir/wWidth" "$3"
  put "$dir/wHeight" "$4"
  put "$dir/dwMinBitRate" $(($3 * $4 * 16 * fps))
  put "$dir/dwMaxBitRate" $(($3 * $4 * 16 * fps))
  put "$dir/dwMaxVideoFrameBufferSize" $(($3 * $4 * 2))
  put "$dir/dwDefaultFrameInterval" $((10000000 / fps))
  put "$dir/dwFrameInterval" $((10000000 / fps))
}

make_gadget() {  # name serial product-id
  local g=$configfs/$1 f
  mkdir "$g"
  put "$g/idVendor" 0x0c45
  put "$g/idProduct" "0x$3"
  put "$g/bcdDevice" 0x0100
  put "$g/bcdUSB" 0x0200
  # Miscellaneous device class with interface association descriptors, as UVC cameras declare.
  put "$g/bDeviceClass" 0xef
  put "$g/bDeviceSubClass" 0x02
  put "$g/bDeviceProtocol" 0x01
  mkdir "$g/strings/0x409"
  put "$g/strings/0x409/manufacturer" "Orvane Labs"
  put "$g/strings/0x409/product" "Orvane Test Microscope"
  put "$g/strings/0x409/serialnumber" "$2"
  mkdir "$g/configs/c.1" "$g/configs/c.1/strings/0x409"
  put "$g/configs/c.1/strings/0x409/configuration" "Video"
  put "$g/configs/c.1/MaxPower" 500

  f=$g/functions/uvc.0
  mkdir "$f"
  # High speed, high bandwidth: three 1024-byte packets every microframe.
  put "$f/streaming_maxpacket" 3072
  put "$f/streaming_interval" 1
  mkdir "$f/control/header/h"
  ln -s "$f/control/header/h" "$f/control/class/fs/h"
  ln -s "$f/control/header/h" "$f/control/class/ss/h"
  # Frame indices follow the order of creation, format indices the order of the header's links.
  mkdir "$f/streaming/mjpeg/m"
  frame "$f/streaming/mjpeg/m" 1080p 1920 1080
  frame "$f/streaming/mjpeg/m" 720p 1280 720
  mkdir "$f/streaming/uncompressed/u"
  frame "$f/streaming/uncompressed/u" 480p 640 480
  mkdir "$f/streaming/header/h"
  ln -s "$f/streaming/mjpeg/m" "$f/streaming/header/h/m"
  ln -s "$f/streaming/uncompressed/u" "$f/streaming/header/h/u"
  ln -s "$f/streaming/header/h" "$f/streaming/class/fs/h"
  ln -s "$f/streaming/header/h" "$f/streaming/class/hs/h"
  ln -s "$f/streaming/header/h" "$f/streaming/class/ss/h"
  ln -s "$f" "$g/configs/c.1/uvc.0"
}

# The video4linux node whose device lies below sysfs path $1 and is the first (capture) node of
# its interface.
node_below() {
  local v dev
  # No USB device yet: an empty path would match every node (vivid's among them).
  [ -n "$1" ] || return 1
  for v in /sys/class/video4linux/video*; do
    [ -e "$v" ] || continue
    dev=$(readlink -f "$v/device")
    case "$dev/" in "$1"/*) ;; *) continue ;; esac
    [ "$(cat "$v/index" 2>/dev/null)" = 0 ] || continue
    echo "/dev/${v##*/}"
    return 0
  done
  return 1
}

udc_of() { cat "$state/$1.udc" 2>/dev/null; }
# The host controller paired with dummy_udc.N is dummy_hcd.N; the camera is its only device.
usb_device_of() {
  local n=${1##*.} d
  for d in /sys/devices/platform/dummy_hcd."$n"/usb*/*-1; do
    [ -f "$d/idVendor" ] && { echo "$d"; return 0; }
  done
  return 1
}
camera_node() { node_below "$(usb_device_of "$(udc_of "$1")")"; }
gadget_node() { node_below "/sys/devices/platform/$(udc_of "$1")"; }
feeder_gone() { ! kill -0 "$(cat "$state/$1.pid" 2>/dev/null)" 2>/dev/null; }

case ${1:-} in
  load)
    modprobe libcomposite
    modprobe usb_f_uvc
    modprobe dummy_hcd num="${2:-2}"
    modprobe uvcvideo
    [ -e /sys/class/udc/dummy_udc.0 ] || die "dummy_hcd made no controller"
    ;;
  plug)
    name=${2:?usage: uvc_gadget.sh plug NAME [CONTROLLER [SERIAL [PRODUCT_ID]]]}
    udc=dummy_udc.${3:-0}
    [ -n "${ORVANE_FEEDER:-}" ] && [ -x "$ORVANE_FEEDER" ] || die "ORVANE_FEEDER does not name the feeder program"
    [ -d "$configfs/$name" ] || make_gadget "$name" "${4:-ORV0001}" "${5:-6366}"
    feeder_gone "$name" || die "$name is plugged in already"
    echo "$udc" >"$state/$name.udc"
    put "$configfs/$name/UDC" "$udc"
    wait_for 60 gadget_node "$name" || die "$name: the gadget's video node did not appear"
    rm -f "$state/$name.ready"
    "$ORVANE_FEEDER" --node "$(gadget_node "$name")" --fps "$fps" --pace "${ORVANE_FEEDER_PACE:-$fps}" \
      --format mjpg:1920x1080,1280x720 --format yuyv:640x480 \
      --patterns "${ORVANE_FEEDER_PATTERNS:-/tmp/orvane-feeder}" \
      --ready "$state/$name.ready" >>"$logs/$name-feeder.log" 2>&1 &
    echo $! >"$state/$name.pid"
    wait_for 60 test -f "$state/$name.ready" || die "$name: the feeder did not start (see $logs/$name-feeder.log)"
    wait_for 60 camera_node "$name" || die "$name: uvcvideo made no capture node"
    udevadm settle --timeout=60
    camera_node "$name"
    ;;
  unplug)
    name=${2:?usage: uvc_gadget.sh unplug NAME}
    node=$(camera_node "$name" || true)
    # A gadget the bus already dropped is unbound already; the waits below still check the end.
    put "$configfs/$name/UDC" "" 2>/dev/null || true
    wait_for 20 feeder_gone "$name" || die "$name: the feeder did not end"
    [ -z "$node" ] || wait_for 20 test ! -e "$node" || die "$name: $node stayed"
    udevadm settle --timeout=60
    ;;
  node) camera_node "${2:?usage: uvc_gadget.sh node NAME}" ;;
  usb-device) usb_device_of "$(udc_of "${2:?usage: uvc_gadget.sh usb-device NAME}")" ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
