#!/usr/bin/env bash
# The window's whole road with a downloaded release, under Wine: the demo release, signed with
# the development key, is served by the local update server; the window (with the test-only
# drive provider) downloads it through WinHTTP, writes it onto the drive file behind disk 9 and
# shows the success box with the release's version. The written drive must verify with the
# reference partitioning tool and boot under UEFI firmware.
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

"$tools/make-demo-image" "$work/demo.img"
python3 "$tools/publish-release" "$work/demo.img" 1.2 "$key" \
    "$work/site" >/dev/null
python3 "$tools/update-server" "$work/site" --port-file "$work/port" --lifetime 600 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done

# The window test leaves the drive file in its work folder (the value of --work).
python3 "$@" download --server "http://127.0.0.1:$(cat "$work/port")"
drive_folder=""
while [ $# -gt 0 ]; do
    [ "$1" = "--work" ] && drive_folder=$2
    shift
done
drive="$drive_folder/drive9.img"
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
