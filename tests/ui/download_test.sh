#!/usr/bin/env bash
# The window's whole road with a downloaded release, under Wine: the demo release, signed with
# the development key, is served by the local update server, which cuts the image's body twice;
# the window (with the test-only drive provider) downloads it through WinHTTP, asking for the
# rest with range requests, writes it onto the drive file behind disk 9 and shows the success
# box with the release's version. The written drive must hold the image's partitions byte for
# byte, verify with the reference partitioning tool and boot under UEFI firmware.
#   download_test.sh DEVELOPMENT_KEY.pem WINDOW_TEST_SCRIPT WINDOW_TEST_OPTIONS...
set -euo pipefail
key=$(realpath "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../../tools"
work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The release must come from the server: a run before this one left it in the prefix's cache.
if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c/users" ]; then
    find "$WINEPREFIX/drive_c/users" -type d -path '*/Temp/orvelo-installer' -prune \
        -exec rm -rf {} + 2>/dev/null || true
fi

"$tools/make-demo-image" "$work/demo.img"
python3 "$tools/publish-release" "$work/demo.img" 1.2 "$key" \
    "$work/site" >/dev/null
image_file=$(sed -n 's/^file \([^ ]*\) .*/\1/p' "$work/site/installer/latest")
file_size=$(stat -c %s "$work/site/$image_file")
python3 "$tools/update-server" "$work/site" --port-file "$work/port" --lifetime 600 \
    --cut-after 3000 --cuts 2 --image-only --sent "$work/sent" &
server=$!
port=$("$tools/wait-for-port" "$work/port" "$server")

# The window test leaves the drive file in its work folder (the value of --work).
python3 "$@" download --server "http://127.0.0.1:$port"
drive_folder=""
while [ $# -gt 0 ]; do
    [ "$1" = "--work" ] && drive_folder=$2
    shift
done
drive="$drive_folder/drive9.img"
answers=$(awk -v path="/$image_file" '$2 == path { print $1, $3, $4 }' "$work/sent")
expected="200 - 3000
206 bytes=3000- 3000
206 bytes=6000- $((file_size - 6000))"
[ "$answers" = "$expected" ] || { echo "the image's answers were: $answers"; exit 1; }
# Between the primary GPT (sectors 0 to 33) and the backup GPT (the last 33 sectors of the
# image), which are adapted to the drive, the drive holds the image as it is.
sectors=$(( $(stat -c %s "$work/demo.img") / 512 ))
cmp <(dd if="$drive" bs=512 skip=34 count=$((sectors - 67)) status=none) \
    <(dd if="$work/demo.img" bs=512 skip=34 count=$((sectors - 67)) status=none) ||
    { echo "the drive differs from the image"; exit 1; }
sgdisk -v "$drive" | grep -q '^No problems found' || { echo "the drive does not verify"; exit 1; }
status=0
"$tools/boot-drive" "$drive" || status=$?
if [ "$status" -eq 77 ]; then
    echo "no emulator here: the boot is left out"
elif [ "$status" -ne 0 ]; then
    echo "the drive written by the Windows program did not boot"
    exit 1
fi
echo "the drive written by the Windows program verifies and boots"
