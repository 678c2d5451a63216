#!/usr/bin/env bash
# Boots the camera rig's guest and runs one command in it; exits with the command's status.
# Usage: boot.sh RESULTS_DIR TIME_LIMIT_SECONDS COMMAND [ARGUMENT...]
#
# The guest is Debian's packaged kernel under qemu-system-x86_64 with TCG (2 CPUs, 3 GiB; the early
# timer check is left out, as emulated CPUs on a busy machine fail it and panic), on this
# machine's root shared read-only over 9p with a tmpfs overlay for its writes; RESULTS_DIR is shared
# writable and mounted at /results, where the command runs. The command's output lands in
# RESULTS_DIR/job.log and is printed here; the guest's console in RESULTS_DIR/console.log, printed
# when the guest fails to boot, to end, or the command fails.
# ORVANE_RIG_ENV names an already prepared rig.env (else prepare.sh runs first).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
results=${1:?usage: boot.sh RESULTS_DIR TIME_LIMIT_SECONDS COMMAND...}
limit=${2:?usage: boot.sh RESULTS_DIR TIME_LIMIT_SECONDS COMMAND...}
shift 2
[ $# -gt 0 ] || { echo "boot.sh: no command given" >&2; exit 2; }

command -v qemu-system-x86_64 >/dev/null || { echo "FAIL: qemu-system-x86_64 is missing; run scripts/setup"; exit 1; }
rig_env=${ORVANE_RIG_ENV:-}
if [ -z "$rig_env" ]; then
  rig_env=$("$here/prepare.sh") || { echo "FAIL: the rig's kernel could not be prepared"; exit 1; }
fi
# shellcheck source=/dev/null
. "$rig_env"

mkdir -p "$results"
results=$(cd "$results" && pwd)
rm -f "$results"/{job.env,job.log,job.status,console.log,boot.seconds}
{
  echo "KERNEL_ABI=$KERNEL_ABI"
  echo "MODULES_ROOT=$MODULES_ROOT"
  printf 'JOB=%q\n' "$(printf '%q ' "$@")"
} >"$results/job.env"

console_tail() {
  echo "--- guest console (last 60 lines of $results/console.log) ---"
  tail -60 "$results/console.log" 2>/dev/null
  echo "--- end of guest console ---"
}

started=$SECONDS
set +e
timeout --kill-after=10 "$limit" qemu-system-x86_64 \
  -accel tcg -cpu max -smp 2 -m 3072 \
  -display none -monitor none -no-reboot -nic none \
  -serial "file:$results/console.log" \
  -kernel "$KERNEL_IMAGE" -initrd "$INITRD" \
  -append "console=ttyS0 panic=-1 loglevel=4 no_timer_check rdinit=/init orvane_stage2=$here/guest_init.sh" \
  -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev "local,id=results,path=$results,security_model=none,multidevs=remap" \
  -device virtio-9p-pci,fsdev=results,mount_tag=results
qemu_status=$?
set -e
took=$((SECONDS - started))

[ -f "$results/job.log" ] && cat "$results/job.log"
if [ ! -f "$results/boot.seconds" ]; then
  echo "FAIL: the rig's guest did not boot (qemu status $qemu_status after $took s; kernel $KERNEL_ABI $KERNEL_VERSION)"
  console_tail
  exit 1
fi
if [ ! -f "$results/job.status" ]; then
  if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
    echo "FAIL: the guest's job did not end within $limit s"
  else
    echo "FAIL: the guest ended before its job did (qemu status $qemu_status)"
  fi
  console_tail
  exit 1
fi
status=$(cat "$results/job.status")
echo "rig: kernel $KERNEL_ABI ($KERNEL_VERSION), booted in $(cat "$results/boot.seconds") s, job status $status, $took s in all"
[ "$status" -eq 0 ] || console_tail
exit "$status"
