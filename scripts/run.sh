#!/usr/bin/env bash
# The tool's main job, end to end on this machine: a GPT disk image is written onto a 1 GB drive
# file by `orvelo write` (the job of the Windows program, built for Linux), checked byte for byte
# by the job itself, and then judged by the reference partitioning tool. The Windows program is
# built too. Installs what is missing first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"

orvelo_install_missing

echo "== Building"
cmake --preset release >/dev/null
cmake --build --preset release --target orvelo
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target OrveloInstaller
tools/check-imports build/mingw/src/app/OrveloInstaller.exe

demo="$ORVELO_ROOT/build/demo"
mkdir -p "$demo"
echo
echo "== A GPT disk image (EFI system partition with a FAT file system, two data partitions)"
bash tools/make-gpt-image.sh "$demo/orvelo-demo.img" 16
sgdisk -p "$demo/orvelo-demo.img" | sed -n '/^Number/,$p'

echo
echo "== Writing it onto a 1 GB drive file"
rm -f "$demo/drive.img"
truncate -s 1000000000 "$demo/drive.img"
build/release/orvelo write --drive "$demo/drive.img" --image "$demo/orvelo-demo.img" --yes

echo
echo "== The reference tool's verdict on the written drive"
sgdisk -v "$demo/drive.img"
sgdisk -p "$demo/drive.img" | sed -n '/^Disk /p;/^Number/,$p'
