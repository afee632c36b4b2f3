#!/usr/bin/env bash
# The demo image script: two runs, from different working folders and at different times, give
# the same bytes, and the image is what the boot tests rely on: a GPT the reference tool finds
# clean, an EFI system partition whose FAT checks clean and holds an x86-64 EFI application as
# the removable-media boot program, and the data partition's marker line.
# Exits 77 (skipped) when the demo's compiler or linker is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
make_image="$here/../../tools/make-demo-image"
for tool in clang-16 lld-link-16 sgdisk mkfs.vfat mcopy; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
le_u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
le_u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

mkdir "$work/first" "$work/second"
(cd "$work/first" && "$make_image" demo.img)
sleep 1 # a second apart, so that any date taken from the clock would differ
(cd "$work/second" && "$make_image" "$work/second/demo.img")
cmp "$work/first/demo.img" "$work/second/demo.img" || fail "two runs gave different images"

cd "$work/first"
sgdisk -v demo.img | grep -q '^No problems found' || fail "sgdisk -v: $(sgdisk -v demo.img)"
[ "$(sgdisk -i 1 demo.img | sed -n 's/^Partition GUID code: \([^ ]*\).*/\1/p')" = \
    C12A7328-F81F-11D2-BA4B-00A0C93EC93B ] || fail "partition 1 is not an EFI system partition"
first=$(sgdisk -i 1 demo.img | sed -n 's/^First sector: \([0-9]*\).*/\1/p')
last=$(sgdisk -i 1 demo.img | sed -n 's/^Last sector: \([0-9]*\).*/\1/p')
dd if=demo.img of=esp.img bs=512 skip="$first" count=$((last - first + 1)) status=none
fsck.vfat -n esp.img >/dev/null || fail "the FAT of the EFI system partition does not check clean"
MTOOLS_SKIP_CHECK=1 mcopy -i esp.img ::/EFI/BOOT/BOOTX64.EFI boot.efi ||
    fail "no EFI/BOOT/BOOTX64.EFI"
if [ -f boot.efi ]; then
    pe=$(le_u32 boot.efi 60)
    [ "$(dd if=boot.efi bs=1 skip="$pe" count=4 status=none | od -An -t x1 | tr -d ' ')" = \
        50450000 ] || fail "BOOTX64.EFI is not a PE file"
    [ "$(le_u16 boot.efi $((pe + 4)))" = $((0x8664)) ] || fail "BOOTX64.EFI is not for x86-64"
    [ "$(le_u16 boot.efi $((pe + 24)))" = $((0x20b)) ] || fail "BOOTX64.EFI is not PE32+"
    [ "$(le_u16 boot.efi $((pe + 24 + 68)))" = 10 ] || fail "BOOTX64.EFI is not an EFI application"
fi
data=$(sgdisk -i 2 demo.img | sed -n 's/^First sector: \([0-9]*\).*/\1/p')
[ "$(dd if=demo.img bs=512 skip="$data" count=1 status=none | tr -d '\0')" = \
    'Orvelo installer demo data partition' ] || fail "the data partition's marker is missing"

echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" -eq 0 ]
