#!/usr/bin/env bash
# make-gpt-image.sh IMAGE SIZE_MIB: a GPT disk image made by the reference partitioning tool,
# with an EFI system partition holding a FAT file system with a file on it, a data partition
# filled with a pattern, and a small third partition, all with fixed GUIDs.
set -euo pipefail
image=$1
size_mib=$2
rm -f "$image"
truncate -s "${size_mib}M" "$image"
sgdisk -U 5A7D1C2E-0000-4000-8000-0000000000AA \
    -n 1:2048:+4M -t 1:ef00 -c 1:ESP -u 1:5A7D1C2E-0000-4000-8000-000000000001 \
    -n 2:0:+2M -t 2:8300 -c 2:data -u 2:5A7D1C2E-0000-4000-8000-000000000002 \
    -n 3:0:0 -t 3:8300 -c 3:rest -u 3:5A7D1C2E-0000-4000-8000-000000000003 \
    "$image" >/dev/null
# The FAT file system of the ESP, made apart and copied in at the partition's offset.
esp=$(mktemp)
trap 'rm -f "$esp"' EXIT
truncate -s 4M "$esp"
mkfs.vfat --invariant -i 0A0B0C0D -n ORVELO "$esp" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$esp" ::/EFI ::/EFI/BOOT
printf 'Orvelo test payload\n' > "$esp.txt"
mcopy -i "$esp" "$esp.txt" ::/EFI/BOOT/README.TXT
rm -f "$esp.txt"
dd if="$esp" of="$image" bs=512 seek=2048 conv=notrunc status=none
# A pattern in the data partition, so that a misplaced body shows.
start2=$(sgdisk -i 2 "$image" | sed -n 's/^First sector: \([0-9]*\).*/\1/p')
head -c 2097152 < <(yes 'orvelo-data-partition-pattern') |
    dd of="$image" bs=512 seek="$start2" conv=notrunc status=none
