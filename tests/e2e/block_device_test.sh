#!/usr/bin/env bash
# `orvelo write` on a real block device (a loop device over a file): the exclusive,
# unbuffered, write-through road of the Linux seam. A mounted partition makes the drive "in use";
# a read-only device is refused as read-only; a written device verifies clean. Needs root and loop
# devices: exits 77 (skipped) without them.
source "$(dirname "$0")/lib.sh" "$1"
if ! have_loop_devices; then
    echo "no loop devices here: skipped"
    exit 77
fi

bash "$tools/make-gpt-image.sh" image.img 16
truncate -s 64M backing.img
attach loop backing.img

# A loop device is no removable drive: refused before anything opens it, then taken with
# --any-disk.
if "$orvelo" write --drive "$loop" --image image.img --yes >refused.out 2>refused.err; then
    fail "a loop device was written without --any-disk"
fi
grep -qx "$loop is not a removable drive. Use --any-disk to write it anyway." refused.err ||
    fail "not removable: $(cat refused.err)"
untouched backing.img || fail "the refused device was written"
"$orvelo" write --drive "$loop" --any-disk --image image.img --yes >write.log 2>&1 || fail "write: $(cat write.log)"
sgdisk -v "$loop" | grep -q '^No problems found' || fail "the written device does not verify"
cmp -n 1048576 -i 17408:17408 image.img "$loop" || fail "the body differs on the device"

# A mounted partition: the drive is in use, and nothing is written. (The kernel may not know GPT,
# so the partitions are added from user space.)
partx -a "$loop" 2>/dev/null || partx -u "$loop"
mkfs.ext4 -q "${loop}p3"
mkdir mnt
mounts+=("$work/mnt")
mount "${loop}p3" mnt
# The file system's own writes go to its partition; the job's head and tail regions must stay.
regions() { head -c 17408 "$loop" | sha256sum; tail -c 16896 "$loop" | sha256sum; }
before=$(regions)
# A partition is never taken, even with --any-disk.
if "$orvelo" write --drive "${loop}p3" --any-disk --image image.img --yes >part.out 2>part.err; then
    fail "a partition was written"
fi
grep -qx "${loop}p3 is a partition; give the whole drive (for example /dev/sdb)." part.err ||
    fail "partition: $(cat part.err)"
if "$orvelo" write --drive "$loop" --any-disk --image image.img --yes >busy.out 2>busy.err; then
    fail "a drive with a mounted partition was written"
fi
grep -qx "$loop is in use: ${loop}p3 is mounted on $work/mnt. Unmount it and try again." busy.err ||
    fail "in use: $(cat busy.err)"
umount mnt
[ "$before" = "$(regions)" ] || fail "the busy drive was changed"
detach "$loop"

# A read-only device: refused before the question (a stick or card would be "write-protected").
attach loop backing.img -r
if "$orvelo" write --drive "$loop" --any-disk --image image.img --yes >ro.out 2>ro.err; then
    fail "a read-only drive was written"
fi
grep -qx "$loop is read-only: the system does not let it be written." ro.err ||
    fail "read-only: $(cat ro.err)"

finish
