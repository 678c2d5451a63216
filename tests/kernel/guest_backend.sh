#!/usr/bin/env bash
# Runs in the kernel rig's guest: loads vivid and the UVC gadget's modules, plugs in the emulated
# microscope and runs the capture object's tests against them, the report going to /results.
# Usage: guest_backend.sh BUILD_DIR [GTEST_ARGUMENT...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: guest_backend.sh BUILD_DIR}
shift
export ORVANE_RIG_DIR=$here/rig ORVANE_FEEDER=$build/bin/orvane_uvc_feeder ORVANE_GADGET_LOGS=/results
# The test pictures, encoded on the build machine (run_kernel_tests.sh prepare).
export ORVANE_FEEDER_PATTERNS=$build/feeder-patterns

# Two vivid instances with a video capture node each.
modprobe vivid n_devs=2 node_types=0x1,0x1
"$ORVANE_RIG_DIR/uvc_gadget.sh" load 2
udevadm settle --timeout=60
started=$SECONDS
"$ORVANE_RIG_DIR/uvc_gadget.sh" plug cam1 0 ORV0001 >/dev/null
echo "guest: microscope plugged in after $((SECONDS - started)) s"
exec "$build/bin/orvane_kernel_tests" --gtest_output=xml:/results/kernel_backend.xml "$@"
