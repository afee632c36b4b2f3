#!/usr/bin/env bash
# The GPT that the job writes, judged by the reference partitioning tool: an image made by it is
# written with `orvelo write` onto drive files of several sizes; every written drive must verify
# clean, keep the image's partitions (start, end, GUIDs), carry its backup header in its last
# sector, and hold a FAT file system that checks clean.
source "$(dirname "$0")/lib.sh" "$1"

bash "$tools/make-gpt-image.sh" image.img 16
image_bytes=$(stat -c %s image.img)

partitions() { sgdisk -p "$1" | sed -n '/^Number/,$p' | awk 'NR > 1 { print $1, $2, $3, $6, $7 }'; }
guids() { for n in 1 2 3; do sgdisk -i "$n" "$1" | grep -E 'unique GUID|type code'; done; }
le_u64() { od -An -t u8 -j "$2" -N 8 "$1" | tr -d ' '; }
le_u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

check_drive() {
    local drive=$1 sectors=$(( $(stat -c %s "$1") / 512 ))
    local verdict
    verdict=$(sgdisk -v "$drive")
    grep -q '^No problems found' <<<"$verdict" || fail "$drive: sgdisk -v: $verdict"
    [ "$(partitions "$drive")" = "$(partitions image.img)" ] || fail "$drive: partitions differ"
    [ "$(guids "$drive")" = "$(guids image.img)" ] || fail "$drive: GUIDs differ"
    local last=$(( (sectors - 1) * 512 ))
    [ "$(dd if="$drive" bs=1 skip="$last" count=8 status=none)" = "EFI PART" ] ||
        fail "$drive: no backup header in the last sector"
    [ "$(le_u64 "$drive" $((last + 24)))" = "$((sectors - 1))" ] || fail "$drive: backup MyLBA"
    [ "$(le_u64 "$drive" $((512 + 32)))" = "$((sectors - 1))" ] || fail "$drive: AlternateLBA"
    local mbr_size=$(( sectors - 1 > 4294967295 ? 4294967295 : sectors - 1 ))
    [ "$(le_u32 "$drive" 458)" = "$mbr_size" ] || fail "$drive: protective MBR size"
    dd if="$drive" of=esp.img bs=512 skip=2048 count=8192 status=none
    fsck.vfat -n esp.img >/dev/null || fail "$drive: the FAT file system does not check clean"
    MTOOLS_SKIP_CHECK=1 mtype -i esp.img ::/EFI/BOOT/README.TXT | grep -q 'Orvelo test payload' ||
        fail "$drive: the file on the ESP is not there"
    pass
}

# Drive files: an exact fit, 1 GB, 8 GB sparse, and 2^32 + 8 sectors sparse (the MBR's size
# field is clamped there).
for drive_case in "exact:$image_bytes" "1gb:1000000000" "8gb:8000000000" "2tib:$(( (4294967296 + 8) * 512 ))"; do
    name=${drive_case%%:*}
    size=${drive_case#*:}
    truncate -s "$size" "$name.drive"
    if "$orvelo" write --drive "$name.drive" --image image.img --yes >"$name.log" 2>&1; then
        check_drive "$name.drive"
    else
        fail "$name: orvelo write failed: $(cat "$name.log")"
    fi
    rm -f "$name.drive"
done

# One sector too small: refused with the exact text, the drive untouched.
truncate -s $((image_bytes - 512)) small.drive
if "$orvelo" write --drive small.drive --image image.img --yes >small.out 2>small.err; then
    fail "a drive one sector too small was written"
fi
grep -qx 'This drive is too small for the installer.' small.err || fail "too small: $(cat small.err)"
[ -z "$(tr -d '\0' <small.drive | head -c 1)" ] || fail "the small drive was touched"

# Images cut short after their last partition, as shrinking tools leave them: the header still
# describes the longer disk. Cut at the body's last sector (L/512 - 34) the partition is written
# whole; cut one sector shorter its end would fall into the image's last 33 sectors, which are
# never written, so the image is refused and the drive left alone.
truncate -s 16M long.img
sgdisk -n 1:2048:+4M -t 1:8300 -u 1:5A7D1C2E-0000-4000-8000-000000000011 long.img >/dev/null
last=$(sgdisk -i 1 long.img | sed -n 's/^Last sector: \([0-9]*\).*/\1/p')
head -c $(( (last - 2047) * 512 )) < <(yes 'orvelo-shrunk-partition') |
    dd of=long.img bs=512 seek=2048 conv=notrunc status=none
cp long.img edge.img
truncate -s $(( (last + 34) * 512 )) edge.img
truncate -s 64M edge.drive
if "$orvelo" write --drive edge.drive --image edge.img --yes >edge.out 2>edge.err; then
    sgdisk -v edge.drive | grep -q '^No problems found' || fail "edge: sgdisk -v: $(sgdisk -v edge.drive)"
    cmp -s <(dd if=edge.img bs=512 skip=2048 count=$((last - 2047)) status=none) \
        <(dd if=edge.drive bs=512 skip=2048 count=$((last - 2047)) status=none) ||
        fail "edge: the last partition's bytes differ on the drive"
    pass
else
    fail "edge: an image cut at the body's last sector was refused: $(cat edge.err)"
fi
for cut in "one-short:$(( (last + 33) * 512 ))" "at-partition-end:$(( (last + 1) * 512 ))"; do
    name=${cut%%:*}
    cp long.img "$name.img"
    truncate -s "${cut#*:}" "$name.img"
    truncate -s 64M "$name.drive"
    if "$orvelo" write --drive "$name.drive" --image "$name.img" --yes >"$name.out" 2>"$name.err"; then
        fail "$name: an image that loses its last partition's end was written"
    fi
    grep -qx "$name.img isn't an Orvelo installer image." "$name.err" || fail "$name: $(cat "$name.err")"
    [ -z "$(tr -d '\0' <"$name.drive" | head -c 1)" ] || fail "$name: the drive was touched"
done

# The same image copied raw onto a larger drive (backup header left mid-disk) is what the job
# avoids: the reference tool finds problems there.
truncate -s 1000000000 raw.drive
dd if=image.img of=raw.drive conv=notrunc status=none
if sgdisk -v raw.drive | grep -q '^No problems found'; then
    fail "a raw copy verified clean: the reference check is not looking"
fi

finish
