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

# Boot the written drive.
started=$(date +%s)
status=0
"$here/../../tools/boot-drive" drive.img "$boot_seconds" >serial.log 2>boot.err || status=$?
elapsed=$(($(date +%s) - started))
[ "$status" -eq 0 ] || fail "the written drive did not boot: $(cat boot.err)"
if [ "$failures" -ne 0 ]; then
    echo "--- serial console"
    tail -20 serial.log
    echo
fi

echo "the boot of the $size-byte drive took $elapsed s"
echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" -eq 0 ]
