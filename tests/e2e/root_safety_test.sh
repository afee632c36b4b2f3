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
