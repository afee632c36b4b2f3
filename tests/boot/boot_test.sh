#!/usr/bin/env bash
# boot_test.sh ORVELO SIZE: proof that a drive written by the job boots. The demo image is made
# from source, written with `orvelo write` onto a drive file of SIZE bytes (sparse), verified by
# the reference partitioning tool, and then booted in a virtual machine with UEFI firmware
# (software emulation). The boot program's line must reach the serial console and the machine
# must power off (not reset, not hang) within the time bound. Beside it, the same image copied
# raw onto a drive of the same size shows what the job's adaptation of the tables is for.
# Exits 77 (skipped) when the emulator, its firmware or the demo's compiler is missing.
set -euo pipefail
orvelo=$(realpath "$1")
size=$2
here=$(cd "$(dirname "$0")" && pwd)
boot_seconds=${ORVELO_BOOT_SECONDS:-120}
firmware=/usr/share/OVMF/OVMF_CODE_4M.fd
# The variable store without enrolled keys: with Secure Boot on, the unsigned demo program would
# be refused and the firmware would wait forever.
variables=/usr/share/OVMF/OVMF_VARS_4M.fd

for tool in qemu-system-x86_64 clang-16 lld-link-16 sgdisk mkfs.vfat mcopy; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: skipped"; exit 77; }
done
[ -r "$firmware" ] && [ -r "$variables" ] || { echo "no OVMF firmware: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
verifies_clean() { sgdisk -v "$1" | grep -q '^No problems found'; }

"$here/../../tools/make-demo-image" demo.img

# The job writes the drive.
truncate -s "$size" drive.img
"$orvelo" write --drive drive.img --image demo.img --yes >write.log 2>&1 ||
    fail "orvelo write failed: $(cat write.log)"
verifies_clean drive.img || fail "the written drive: $(sgdisk -v drive.img)"

# A plain copy of the image onto a drive of the same size leaves the backup header mid-disk.
truncate -s "$size" raw.img
dd if=demo.img of=raw.img conv=notrunc status=none
if verifies_clean raw.img; then
    fail "a raw copy onto $size bytes verified clean: the comparison shows nothing"
fi
rm -f raw.img

# Boot the written drive. -no-reboot turns a reset into an exit as well, so the exit status alone
# cannot tell a power-off from a reset: the emulator's trace names the cause of its shutdown,
# and a guest power-off is cause 6 (a reset by the guest would be 7).
cp "$variables" vars.fd
started=$(date +%s)
status=0
timeout "$boot_seconds" qemu-system-x86_64 -machine q35 -m 256 -nographic -no-reboot -net none \
    -drive if=pflash,format=raw,readonly=on,file="$firmware" \
    -drive if=pflash,format=raw,file=vars.fd \
    -drive file=drive.img,format=raw,if=virtio \
    -trace qemu_system_shutdown_request \
    </dev/null >serial.log 2>qemu.log || status=$?
elapsed=$(($(date +%s) - started))

if [ "$status" -eq 124 ]; then
    fail "no power-off within $boot_seconds s"
elif [ "$status" -ne 0 ]; then
    fail "qemu exited with $status: $(cat qemu.log)"
fi
grep -aq 'Orvelo installer demo' serial.log || fail "the boot program's line is not on the console"
grep -Eq 'qemu_system_shutdown_request reason=6( |$)' qemu.log ||
    fail "no guest power-off in the emulator's trace (a reset?): $(cat qemu.log)"
if [ "$failures" -ne 0 ]; then
    echo "--- serial console"
    tr -d '\r' <serial.log | tail -20
    echo
fi

echo "the boot of the $size-byte drive took $elapsed s"
echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" -eq 0 ]
