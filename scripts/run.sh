#!/usr/bin/env bash
# The tool's main job, end to end on this machine: a demo release is published and signed with
# the development key, served by the local update server, and `orvelo write` (the job of the
# Windows program, built for Linux) fetches the signed manifest, checks the signature, downloads
# and unpacks the image, writes it onto a 1 GB drive file and reads every byte back; then the
# reference partitioning tool judges the drive. The Windows program is built too. Installs what
# is missing first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"
orvelo_install_missing

echo "== Building"
cmake --preset release >/dev/null
cmake --build --preset release --target orvelo
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target OrveloInstaller OrveloInstallerTest orvelo_inspector
tools/check-imports build/mingw/src/app/OrveloInstaller.exe

demo="$ORVELO_ROOT/build/demo"
rm -rf "$demo"
mkdir -p "$demo/cache"
key="$ORVELO_ROOT/tests/data/keys/development-private.pem"

echo
echo "== A demo release (a GPT image whose EFI system partition boots a small UEFI program),"
echo "   signed with the development key"
tools/make-demo-image "$demo/orvelo-demo.img"
python3 tools/publish-release "$demo/orvelo-demo.img" 1.2 "$key" "$demo/site"
build/release/orvelo check-manifest "$demo/site/installer/latest" --dev

echo
echo "== The local update server"
python3 tools/update-server "$demo/site" --port-file "$demo/port" --lifetime 900 &
server=$!
trap 'kill $server 2>/dev/null || true; orvelo_stop_wine' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.05; done
url="http://127.0.0.1:$(cat "$demo/port")"
echo "serving $demo/site at $url"

echo
echo "== Writing the release onto a 1 GB drive file"
truncate -s 1000000000 "$demo/drive.img"
# Run as root, orvelo keeps its cache in root's own folder; otherwise under XDG_CACHE_HOME.
cache="$demo/cache/orvelo-installer"
[ "$(id -u)" = 0 ] && cache=/var/cache/orvelo-installer
XDG_CACHE_HOME="$demo/cache" build/release/orvelo write --drive "$demo/drive.img" --server "$url" --dev --yes
echo "cached in $cache: $(ls "$cache")"

echo
echo "== The reference tool's verdict on the written drive"
sgdisk -v "$demo/drive.img"
sgdisk -p "$demo/drive.img" | sed -n '/^Disk /p;/^Number/,$p'

echo
echo "== Booting the written drive: UEFI firmware under QEMU, serial console below"
tools/boot-drive "$demo/drive.img"

echo
echo "== The Windows program under Wine: the same road in the real window"
echo "   (a virtual display; the test build shows the drive file build/demo/window/drive9.img as"
echo "   a USB stick on disk 9; xdotool picks it, presses Create Installer and answers Yes)"
orvelo_start_wine
python3 tests/ui/window_test.py --product build/mingw/src/app/OrveloInstaller.exe \
    --app build/mingw/tests/ui/OrveloInstallerTest.exe \
    --inspector build/mingw/tests/ui/orvelo_inspector.exe --source "$ORVELO_ROOT" \
    --work "$demo/window" download --server "$url"
orvelo_stop_wine
sgdisk -v "$demo/window/drive9.img" | grep '^No problems'
tools/boot-drive "$demo/window/drive9.img"

echo
echo "Drive written by orvelo write:        $demo/drive.img"
echo "Drive written by the Windows program: $demo/window/drive9.img"
echo "Screenshots of the window:            $demo/window/screenshots/"
echo "The release folder:                   $demo/site"
