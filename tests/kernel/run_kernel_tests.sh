#!/usr/bin/env bash
# The host's side of the kernel rig's CTest tests.
#   run_kernel_tests.sh prepare BUILD_DIR RESULTS_DIR   builds the guest's Release programs in BUILD_DIR
#                                                       (configuring it when new) and the rig's kernel
#   run_kernel_tests.sh backend BUILD_DIR RESULTS_DIR   boots the guest, runs the capture tests there
#   run_kernel_tests.sh same-serial BUILD_DIR RESULTS_DIR   the same for the two same-serial cameras
#   run_kernel_tests.sh e2e BUILD_DIR RESULTS_DIR       boots the guest, runs orvane under Xvfb there
# A guest that does not boot fails the test with the reason and the guest's console.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
mode=${1:?usage: run_kernel_tests.sh prepare|backend|same-serial|e2e BUILD_DIR RESULTS_DIR}
build=${2:?usage: run_kernel_tests.sh prepare|backend|same-serial|e2e BUILD_DIR RESULTS_DIR}
results=${3:?usage: run_kernel_tests.sh prepare|backend|same-serial|e2e BUILD_DIR RESULTS_DIR}
# The guest sees this machine's files at the same absolute paths.
mkdir -p "$build" "$results"
build=$(cd "$build" && pwd)
results=$(cd "$results" && pwd)

case $mode in
  prepare)
    started=$SECONDS
    if [ ! -f "$build/CMakeCache.txt" ]; then
      cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_BENCH=OFF
    fi
    cmake --build "$build" -j 2 --target orvane orvane_kernel_tests orvane_uvc_feeder
    # The emulated camera's MJPG pictures, encoded here at native speed; the guest only reads them.
    "$build/bin/orvane_uvc_feeder" --patterns "$build/feeder-patterns" --format mjpg:1920x1080,1280x720
    echo "rig: guest programs built in $((SECONDS - started)) s"
    started=$SECONDS
    "$here/rig/prepare.sh"
    echo "rig: kernel and modules ready in $((SECONDS - started)) s"
    echo "1 passed, 0 failed"
    ;;
  backend | same-serial)
    # The two same-serial cameras run in a guest of their own: after the other tests' dozens of plugs
    # and unbinds the second emulated bus has come back late or under another node in some runs.
    if [ "$mode" = backend ]; then
      part=backend filter=-*SameSerial*
    else
      part=same-serial filter=*SameSerial*
    fi
    for program in orvane_kernel_tests orvane_uvc_feeder; do
      [ -x "$build/bin/$program" ] || { echo "FAIL: $build/bin/$program is missing (kernel_rig_prepare builds it)"; exit 1; }
    done
    status=0
    "$here/rig/boot.sh" "$results/$part" 900 bash "$here/guest_backend.sh" "$build" "--gtest_filter=$filter" ||
      status=$?
    [ -f "$results/$part/kernel_backend.xml" ] || { echo "FAIL: the guest wrote no test report"; exit 1; }
    for log in "$results/$part"/*-feeder.log; do
      [ "$status" -ne 0 ] && [ -f "$log" ] && { echo "--- ${log##*/} ---"; tail -30 "$log"; }
    done
    exit "$status"
    ;;
  e2e)
    [ -x "$build/bin/orvane" ] || { echo "FAIL: $build/bin/orvane is missing (kernel_rig_prepare builds it)"; exit 1; }
    "$here/rig/boot.sh" "$results/e2e" 900 bash "$here/kernel_e2e.sh" "$build"
    ;;
  *)
    echo "run_kernel_tests.sh: unknown step $mode" >&2
    exit 2
    ;;
esac
