#!/usr/bin/env bash
# `orvelo write` run as root writes only the medium the user confirmed, and nothing that another
# account chose: real loop devices stacked over each other, mounted in a private mount namespace
# or made a swap area; a drive file attached to a loop device; a link planted by a second account
# (made by the test, removed after); that account's HOME under a root run; root's cache folder
# turned into a link or given to that account. Each refusal has its exact line and leaves every
# medium untouched. Needs root and loop devices: exits 77 (skipped) without them.
key=$(realpath "$2")
source "$(dirname "$0")/lib.sh" "$1"
if ! have_loop_devices || ! command -v useradd >/dev/null || ! unshare -m true 2>/dev/null; then
    echo "no root, loop devices, accounts or mount namespaces here: skipped"
    exit 77
fi

bash "$tools/make-gpt-image.sh" image.img 16

# refused NAME LINE ARGS...: `orvelo write ARGS... --image image.img --yes` exits 1 with LINE
# alone on its standard error and nothing on its output.
refused() {
    local name=$1 line=$2; shift 2
    local status=0
    "$orvelo" write "$@" --image image.img --yes >"$name.out" 2>"$name.err" || status=$?
    [ "$status" = 1 ] && [ "$(cat "$name.err")" = "$line" ] && [ ! -s "$name.out" ] && pass ||
        fail "$name: $status $(cat "$name.out" "$name.err")"
}

# --- Devices stacked over each other ---------------------------------------------------------
truncate -s 64M lower.img upper.img
attach lower lower.img
attach upper "$lower" # a loop device over a loop device
mkfs.ext4 -q "$upper"
mkdir -p mnt
# In a mount namespace of its own (the test's mounts stay out of the machine's): the upper device
# mounted; then writing the lower one, beneath it, and the upper one, over it, is refused.
status=0
unshare -m sh -c '
    mount "$0" "$1" || exit 9
    "$2" write --drive "$3" --any-disk --image image.img --yes >beneath.out 2>beneath.err
    echo $? >beneath.status
    "$2" write --drive "$0" --any-disk --image image.img --yes >over.out 2>over.err
    echo $? >over.status' "$upper" "$work/mnt" "$orvelo" "$lower" || status=$?
[ "$status" = 0 ] || fail "the namespace's mount failed: $status"
[ "$(cat beneath.status)" = 1 ] &&
    [ "$(cat beneath.err)" = "$lower is in use: $upper is mounted on $work/mnt. Unmount it and try again." ] &&
    pass || fail "a loop beneath a mounted loop: $(cat beneath.out beneath.err)"
[ "$(cat over.status)" = 1 ] &&
    [ "$(cat over.err)" = "$upper is in use: $upper is mounted on $work/mnt. Unmount it and try again." ] &&
    pass || fail "a mounted loop over a loop: $(cat over.out over.err)"
# Unmounted, the lower device is still held: another device is built on it.
lower_before=$(sha256sum <lower.img)
refused held "$lower is in use: $upper is built on it. Take that device down and try again." \
    --drive "$lower" --any-disk
[ "$lower_before" = "$(sha256sum <lower.img)" ] && pass || fail "the stacked devices were written"

# A loop device over a swap area, and the swap area itself.
truncate -s 16M swap.img
attach swap swap.img
mkswap -q "$swap" >/dev/null 2>&1 || mkswap "$swap" >/dev/null
swaps+=("$swap")
if swapon "$swap" 2>/dev/null; then
    attach over_swap "$swap"
    refused swap-beneath "$over_swap is in use: $swap is an active swap area. Turn it off (swapoff) and try again." \
        --drive "$over_swap" --any-disk
    # An active swap area is one of the system's own disks, as `orvelo list` says too.
    refused swap-itself "$swap holds the running system." --drive "$swap" --any-disk
    swapoff "$swap"
else
    echo "swapon is not allowed here: the swap cases are left out"
fi

# A drive file attached to a loop device (and mounted there) is in use; the file keeps its bytes.
truncate -s 64M attached.img
mkfs.ext4 -q attached.img
attach attached attached.img
attached_before=$(sha256sum <attached.img)
refused attached-file "$work/attached.img is in use: $attached is attached to it. Detach it (losetup -d) and try again." \
    --drive attached.img
# The same with its file system mounted, in a namespace of the test's own.
status=0
unshare -m sh -c 'mount "$0" "$1" || exit 9
    exec "$2" write --drive attached.img --image image.img --yes >mounted-file.out 2>mounted-file.err' \
    "$attached" "$work/mnt" "$orvelo" || status=$?
[ "$status" = 1 ] &&
    [ "$(cat mounted-file.err)" = "$work/attached.img is in use: $attached is attached to it. Detach it (losetup -d) and try again." ] &&
    pass || fail "a mounted drive file: $status $(cat mounted-file.out mounted-file.err)"
attached_before=$(sha256sum <attached.img)
refused attached-again "$work/attached.img is in use: $attached is attached to it. Detach it (losetup -d) and try again." \
    --drive attached.img
[ "$attached_before" = "$(sha256sum <attached.img)" ] && pass || fail "the attached file was written"

# A loop device with nothing attached has no medium; compressed swap in memory is no drive.
empty=$(losetup -f)
refused no-medium "$empty has no medium in it." --drive "$empty" --any-disk
if [ -b /dev/zram0 ]; then
    refused zram "/dev/zram0 is not a drive (a boot area, a RAM disk or swap in memory)." \
        --drive /dev/zram0 --any-disk
fi

# --- The kernel's word, not names -------------------------------------------------------------
# hold_mount NAME DEVICE: a process in a mount namespace of its own mounts DEVICE (read-only, so
# that the file system itself changes none of its bytes) and keeps it mounted until the test
# ends. This namespace never sees that mount: only the kernel's own exclusive open can tell that
# the device is held.
hold_mount() {
    local name=$1 device=$2 holder
    mkdir -p "held-$name"
    unshare -m sh -c 'mount -o ro "$0" "$1" && echo mounted && exec sleep 3600' "$device" "$work/held-$name" \
        >"held-$name.log" 2>&1 &
    holder=$!
    pids+=("$holder")
    wait_for_line "held-$name.log" '^mounted$' "$holder" "the mount of $name in another namespace"
}
# kept NAME FILE DIGEST: the victim FILE still has the digest taken before the attempts.
kept() { [ "$(sha256sum <"$2")" = "$3" ] && pass || fail "$1: $2 was changed"; }
elsewhere() { echo "$1 is in use: the system or another program holds $2. Close what uses it and try again."; }
device_number() { echo "$((0x$(stat -c %t "$1"))) $((0x$(stat -c %T "$1")))"; }

truncate -s 32M held.img
mkfs.ext4 -q held.img
held_before=$(sha256sum <held.img)
attach held "held.img"
hold_mount held "$held"
# The target itself, mounted in the other namespace.
refused other-namespace "$(elsewhere "$held" "$held")" --drive "$held" --any-disk
# A loop device attached through a node made with mknod outside /dev.
mknod node b $(device_number "$held")
attach via_node "$work/node"
refused mknod-node "$(elsewhere "$via_node" "$held")" --drive "$via_node" --any-disk
detach "$via_node"
# Three loop devices deep over it.
attach deep1 "$held"
attach deep2 "$deep1"
attach deep3 "$deep2"
refused other-namespace-deep "$(elsewhere "$deep3" "$held")" --drive "$deep3" --any-disk
# Seventeen and eighteen loop devices stacked over it: deeper than the walk goes, so refused.
top=$held
for _ in $(seq 17); do attach top "$top"; done
too_deep="sits on a device that can't be traced: more than 16 devices are stacked on it. Take it apart and try again."
refused seventeen-deep "$top $too_deep" --drive "$top" --any-disk
attach top "$top"
refused eighteen-deep "$top $too_deep" --drive "$top" --any-disk
kept stacked held.img "$held_before"

# Through a node made with mknod, in a namespace where the device is mounted in sight: on a
# folder of the test's, and on /boot (then it holds the running system).
truncate -s 32M boot.img
mkfs.ext4 -q boot.img
boot_before=$(sha256sum <boot.img)
attach boot_loop boot.img
mknod boot-node b $(device_number "$boot_loop")
attach via_boot_node "$work/boot-node"
status=0
unshare -m sh -c '
    mount -o ro "$0" "$1" || exit 9
    "$2" write --drive "$3" --any-disk --image image.img --yes >node-mounted.out 2>node-mounted.err
    umount "$1" && mount -o ro "$0" /boot || exit 9
    "$2" write --drive "$3" --any-disk --image image.img --yes >node-boot.out 2>node-boot.err
    exit 0' "$boot_loop" "$work/mnt" "$orvelo" "$via_boot_node" || status=$?
[ "$status" = 0 ] &&
    [ "$(cat node-mounted.err)" = "$via_boot_node is in use: $boot_loop is mounted on $work/mnt. Unmount it and try again." ] &&
    pass || fail "a mknod node of a mounted device: $status $(cat node-mounted.out node-mounted.err)"
[ "$(cat node-boot.err)" = "$via_boot_node holds the running system." ] && pass ||
    fail "a mknod node of the device on /boot: $(cat node-boot.out node-boot.err)"
kept boot boot.img "$boot_before"

# A loop device over a loop device whose partition is mounted in the other namespace; and the
# partitioned device itself. The kernel reads the table at once; the partition's node comes from
# its device file system a moment later.
truncate -s 32M parted.img
sgdisk -q -n 1:2048:0 parted.img >/dev/null
attach parted parted.img -P
if [ -e "/sys/block/${parted#/dev/}/${parted#/dev/}p1" ]; then
    for _ in $(seq 300); do [ -b "${parted}p1" ] && break; sleep 0.1; done
    mkfs.ext4 -q "${parted}p1"
    parted_before=$(sha256sum <parted.img)
    hold_mount parted "${parted}p1"
    attach over_parted "$parted"
    refused partition-elsewhere "$(elsewhere "$over_parted" "$parted")" --drive "$over_parted" --any-disk
    refused partitioned-elsewhere "$(elsewhere "$parted" "$parted")" --drive "$parted" --any-disk
    kept partitioned parted.img "$parted_before"
else
    echo "this kernel reads no partition table of a loop device: the partition cases are left out"
fi

# Two loop devices over one file, one of them mounted in the other namespace, the other given.
truncate -s 32M shared.img
mkfs.ext4 -q shared.img
shared_before=$(sha256sum <shared.img)
attach shared_a shared.img
attach shared_b shared.img
hold_mount shared "$shared_a"
refused two-loops-one-file "$shared_b is in use: $shared_a reads the same file. Detach it (losetup -d) and try again." \
    --drive "$shared_b" --any-disk
kept two-loops shared.img "$shared_before"

# A mounted drive file whose loop device was attached through a hard link removed since (its
# name in sysfs ends in " (deleted)"); through a name ending in a space; through a name that
# isn't UTF-8. The kernel names the file by its numbers in each case.
truncate -s 32M linked.img
mkfs.ext4 -q linked.img
linked_before=$(sha256sum <linked.img)
ln linked.img linked-alias.img
attach linked_loop linked-alias.img
rm linked-alias.img
hold_mount linked "$linked_loop"
refused removed-link "$work/linked.img is in use: $linked_loop is attached to it. Detach it (losetup -d) and try again." \
    --drive linked.img
kept removed-link linked.img "$linked_before"
truncate -s 32M "spaced.img "
attach spaced_loop "spaced.img "
refused trailing-space "$work/spaced.img  is in use: $spaced_loop is attached to it. Detach it (losetup -d) and try again." \
    --drive "spaced.img "
truncate -s 32M named.img
ln named.img "$(printf 'named-\377.img')"
attach named_loop "$(printf 'named-\377.img')"
refused not-utf8 "$work/named.img is in use: $named_loop is attached to it. Detach it (losetup -d) and try again." \
    --drive named.img

# Two jobs on one drive at once: the second is refused before its question, while the first
# holds the drive at its own; the first then writes it whole.
# second_job NAME DRIVE LINE ARGS...: the first job asks its question, the second is refused
# with LINE, then the first is answered yes and must write DRIVE's FILE clean.
second_job() {
    local name=$1 drive=$2 file=$3 line=$4; shift 4
    local first status=0
    rm -f "$name.fifo"
    mkfifo "$name.fifo"
    "$orvelo" write --drive "$drive" "$@" --image image.img <"$name.fifo" >"$name-first.out" 2>"$name-first.err" &
    first=$!
    pids+=("$first")
    exec 4>"$name.fifo"
    wait_for_line "$name-first.out" 'Erase it?\|Overwrite it?' "$first" "$name: the first job's question" &&
        refused "$name" "$line" --drive "$drive" "$@"
    (echo y >&4) 2>/dev/null || true
    exec 4>&-
    wait "$first" || status=$?
    [ "$status" = 0 ] && sgdisk -v "$file" | grep -q '^No problems found' && pass ||
        fail "$name: the first job: $status $(cat "$name-first.out" "$name-first.err")"
}
truncate -s 64M twice.img
second_job two-jobs-file twice.img twice.img \
    "$work/twice.img is being written by another job. Wait for it to end, then try again."
truncate -s 64M twice-device.img
attach twice_loop twice-device.img
second_job two-jobs-device "$twice_loop" twice-device.img "$(elsewhere "$twice_loop" "$twice_loop")" --any-disk

# An active swap file, and a loop device over one (attached read-only: the kernel lets nobody
# write a swap file). The file lies on an ext4 file system of the test's, which allows swap
# files wherever the test's folder does not.
truncate -s 64M swapfs.img
mkfs.ext4 -q swapfs.img
attach swapfs swapfs.img
mkdir -p swapfs
mount "$swapfs" swapfs
mounts+=("$work/swapfs")
swapfile=$work/swapfs/swapfile.img
dd if=/dev/zero of="$swapfile" bs=1M count=16 status=none
chmod 600 "$swapfile"
mkswap "$swapfile" >/dev/null 2>&1
if swapon "$swapfile" 2>/dev/null; then
    swaps+=("$swapfile")
    # The kernel may page out to the swap area meanwhile, but never into its first page.
    swap_before=$(head -c 4096 "$swapfile" | sha256sum)
    refused swap-file "$swapfile is in use: $swapfile is an active swap area. Turn it off (swapoff) and try again." \
        --drive "$swapfile"
    attach over_swapfile "$swapfile" 2>/dev/null
    refused loop-over-swap-file "$over_swapfile is in use: $swapfile is an active swap area. Turn it off (swapoff) and try again." \
        --drive "$over_swapfile" --any-disk
    [ "$swap_before" = "$(head -c 4096 "$swapfile" | sha256sum)" ] && pass ||
        fail "the swap file's header was changed"
    swapoff "$swapfile"
    detach "$over_swapfile"
else
    echo "swap files are not allowed here: the swap file cases are left out"
fi
umount swapfs

# A drive file on a read-only file system; a path too long.
mkdir -p read-only
status=0
unshare -m sh -c 'mount -t tmpfs tmpfs "$0" && truncate -s 64M "$0/drive.img" &&
    mount -o remount,ro "$0" &&
    exec "$1" write --drive "$0/drive.img" --image image.img --yes >ro-fs.out 2>ro-fs.err' \
    "$work/read-only" "$orvelo" || status=$?
[ "$status" = 1 ] && [ "$(cat ro-fs.err)" = "$work/read-only/drive.img is read-only: the system does not let it be written." ] &&
    pass || fail "a read-only file system: $status $(cat ro-fs.out ro-fs.err)"
long=$(printf 'x%.0s' $(seq 300))
refused long-path "$long is too long a path." --drive "$long"

# A drive file under an overlay file system, both ways round: attached through the merged view
# and given by the upper folder's path, and the other way.
if grep -qw overlay /proc/filesystems; then
    mkdir -p ovl/lower ovl/upper ovl/work ovl/merged
    truncate -s 32M ovl/upper/disk.img
    status=0
    unshare -m sh -c '
        mount -t overlay overlay -o lowerdir=ovl/lower,upperdir=ovl/upper,workdir=ovl/work ovl/merged || exit 9
        loop=$(losetup -f --show ovl/merged/disk.img) || exit 9
        "$0" write --drive ovl/upper/disk.img --image image.img --yes >ovl-upper.out 2>ovl-upper.err
        losetup -d "$loop"
        loop=$(losetup -f --show ovl/upper/disk.img) || exit 9
        "$0" write --drive ovl/merged/disk.img --image image.img --yes >ovl-merged.out 2>ovl-merged.err
        losetup -d "$loop"' "$orvelo" || status=$?
    [ "$status" = 0 ] && [ "$(cat ovl-upper.err)" = "$work/ovl/upper/disk.img is in use by the system or another program. Close what uses it and try again." ] &&
        pass || fail "overlay, attached through the merged view: $status $(cat ovl-upper.out ovl-upper.err)"
    [ "$(cat ovl-merged.err)" = "$work/ovl/merged/disk.img sits on a device that can't be traced: it lies on an overlay file system, which hides the file that holds its bytes. Take it apart and try again." ] &&
        pass || fail "overlay, given through the merged view: $(cat ovl-merged.out ovl-merged.err)"
    untouched ovl/upper/disk.img && pass || fail "overlay: the file was written"
else
    echo "no overlay file system here: its cases are left out"
fi
for tool in mkfs.btrfs mkfs.erofs; do
    command -v "$tool" >/dev/null || echo "no $tool here: its case is left out"
done
if command -v mkfs.btrfs >/dev/null; then
    # A loop device over the second device of a two-device btrfs mounted in the other namespace.
    truncate -s 256M btrfs-a.img btrfs-b.img
    attach btrfs_a btrfs-a.img
    attach btrfs_b btrfs-b.img
    mkfs.btrfs -q -f "$btrfs_a" "$btrfs_b" >/dev/null
    btrfs_before=$(sha256sum <btrfs-b.img)
    hold_mount btrfs "$btrfs_a"
    attach over_btrfs "$btrfs_b"
    refused btrfs-member "$(elsewhere "$over_btrfs" "$btrfs_b")" --drive "$over_btrfs" --any-disk
    kept btrfs-member btrfs-b.img "$btrfs_before"
fi
if command -v mkfs.erofs >/dev/null; then
    # An erofs image mounted from the file itself, without a loop device.
    mkdir -p erofs-content && echo data >erofs-content/file
    mkfs.erofs -q erofs.img erofs-content >/dev/null
    erofs_before=$(sha256sum <erofs.img)
    status=0
    unshare -m sh -c 'mount -t erofs "$0" "$1" || exit 9
        exec "$2" write --drive "$0" --image image.img --yes >erofs.out 2>erofs.err' \
        "$work/erofs.img" "$work/mnt" "$orvelo" || status=$?
    if [ "$status" = 9 ]; then
        echo "this kernel mounts no erofs image from a file: its case is left out"
    else
        [ "$(cat erofs.err)" = "$work/erofs.img is in use: $work/erofs.img is mounted on $work/mnt. Unmount it and try again." ] &&
            pass || fail "an erofs image mounted from its file: $(cat erofs.out erofs.err)"
        kept erofs erofs.img "$erofs_before"
    fi
fi

# --- A second account ------------------------------------------------------------------------
account="orvt$$"
accounts+=("$account")
useradd -m -d "$work/home-$account" "$account"
home="$work/home-$account"
chmod 755 "$home"
chmod 711 "$work"
printf 'precious\n' >victim.img
truncate -s 64M victim.img
victim_before=$(sha256sum <victim.img)
# A link that the account owns, in its folder, pointing at a root-owned file.
su -s /bin/sh "$account" -c "ln -s '$work/victim.img' '$home/stick.img'"
refused planted-link "$home/stick.img is a link that belongs to $account. Give the drive's own path." \
    --drive "$home/stick.img"
# The same through a link to the account's folder, owned by root: the account's link is still met.
ln -s "$home" via-root
refused planted-link-deeper "$home/stick.img is a link that belongs to $account. Give the drive's own path." \
    --drive via-root/stick.img
[ "$victim_before" = "$(sha256sum <victim.img)" ] && pass || fail "the link's target was written"
# The account without access: a block device needs root; root's file may not be changed.
attach denied_loop victim.img -r
status=0
su -s /bin/sh "$account" -c "'$orvelo' write --drive '$denied_loop' --any-disk --image '$work/image.img' --yes" \
    >denied.out 2>denied.err || status=$?
[ "$status" = 1 ] && [ "$(cat denied.err)" = "$denied_loop needs root: run it with sudo." ] && pass ||
    fail "a block device without access: $status $(cat denied.out denied.err)"
detach "$denied_loop"
status=0
su -s /bin/sh "$account" -c "'$orvelo' write --drive '$work/victim.img' --image '$work/image.img' --yes" \
    >not-theirs.out 2>not-theirs.err || status=$?
[ "$status" = 1 ] && [ "$(cat not-theirs.err)" = "$work/victim.img can't be written: you are not allowed to change it." ] &&
    pass || fail "root's file for another account: $status $(cat not-theirs.out not-theirs.err)"
[ "$victim_before" = "$(sha256sum <victim.img)" ] && pass || fail "root's file was written"
# A root-owned link is followed, and every text names the real file.
ln -s victim.img own-link.img
status=0
printf 'n\n' | "$orvelo" write --drive own-link.img --image image.img >own.out 2>&1 || status=$?
grep -q "^The file “$work/victim.img” (67 MB) will be overwritten" own.out && pass ||
    fail "a root-owned link: $(cat own.out)"

# The account's HOME and XDG_CACHE_HOME under a root run: root's cache is its own, and nothing
# is made in the account's folders.
python3 "$tools/publish-release" image.img 1.2 "$key" site --build 5 --issued 1765000000 >/dev/null
file_digest=$(sed -n 's/^file [^ ]* \([0-9a-f]*\) .*/\1/p' site/installer/latest)
start_server good site
truncate -s 64M sudo.img
status=0
HOME="$home" XDG_CACHE_HOME="$home/.cache" run_orvelo write --drive sudo.img --server "$url" --dev --yes \
    >sudo.out 2>sudo.err || status=$?
[ "$status" = 0 ] && [ -f "cache/orvelo-installer/$file_digest.img.z" ] &&
    [ "$(stat -c %a cache/orvelo-installer)" = 700 ] && pass || fail "root's cache: $status $(cat sudo.err)"
[ -z "$(find "$home" -newer sudo.img -print -quit)" ] && [ ! -e "$home/.cache" ] && pass ||
    fail "something was made in the account's home: $(find "$home" -newer sudo.img)"

# A drive file in the program's own cache folder, named like a download in progress: refused,
# and neither deleted nor written.
partial="cache/orvelo-installer/$(printf '%064d' 0).img.z.partial"
truncate -s 64M "$partial"
status=0
run_orvelo write --drive "$partial" --image image.img --yes >cache-file.out 2>cache-file.err || status=$?
[ "$status" = 1 ] && [ "$(cat cache-file.err)" = "$work/$partial is in the installer's own cache folder. Give a file elsewhere." ] &&
    [ -f "$partial" ] && untouched "$partial" && pass || fail "a drive file in the cache: $status $(cat cache-file.err)"
rm -f "$partial"

# Root's cache folder turned elsewhere: /var/cache a link into the account's folder, or a folder
# of that account. The job still succeeds, by download, and makes nothing there.
mkdir -p "$home/trap"
chown "$account" "$home/trap"
: >good.log
status=0
unshare -m sh -c 'mount -t tmpfs -o mode=755 tmpfs /var && ln -s "$0" /var/cache &&
    exec "$1" write --drive sudo.img --server "$2" --dev --yes' \
    "$home/trap" "$orvelo" "$url" >linked.out 2>linked.err || status=$?
[ "$status" = 0 ] && grep -qx "/$(sed -n 's/^file \([^ ]*\) .*/\1/p' site/installer/latest)" good.log &&
    [ -z "$(ls -A "$home/trap")" ] && pass || fail "a linked /var/cache: $status $(cat linked.err)"
status=0
unshare -m sh -c 'mount --bind "$0" /var/cache && exec "$1" write --drive sudo.img --server "$2" --dev --yes' \
    "$home/trap" "$orvelo" "$url" >foreign.out 2>foreign.err || status=$?
[ "$status" = 0 ] && [ -z "$(ls -A "$home/trap")" ] && pass ||
    fail "a /var/cache of another account: $status $(cat foreign.err)"

# --- Linux texts -----------------------------------------------------------------------------
# A full file system: the error's own text. A library failure: its text and its CURLcode.
mkdir -p full
truncate -s 64M full.drive
status=0
unshare -m sh -c 'mount -t tmpfs -o size=4m tmpfs "$0" && truncate -s 64M "$0/drive.img" &&
    "$1" write --drive "$0/drive.img" --image image.img --yes >full.out 2>full.err' \
    "$work/full" "$orvelo" || status=$?
grep -qx "Writing to $work/full/drive.img failed: No space left on device (28)" full.err && pass ||
    fail "a full disk: $status $(cat full.out full.err)"
status=0
run_orvelo write --drive full.drive --server "http://127.0.0.1:9" --dev --yes >refused.out 2>refused.err || status=$?
[ "$status" = 1 ] && grep -q "(CURLcode 7)$" refused.err && ! grep -q "1129644" refused.err && pass ||
    fail "a refused connection: $status $(cat refused.err)"

finish
