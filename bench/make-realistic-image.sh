#!/usr/bin/env bash
# make-realistic-image.sh IMAGE [MiB]: a GPT disk image for the benchmarks (256 MiB unless told)
# made of real files from this machine: a 64 MiB EFI system partition (FAT) holding x86-64 shared
# objects, and an ext4 root partition filled by `mkfs.ext4 -d` with about 110 MiB of programs,
# shared libraries and documentation; the rest of the disk stays free. Beside IMAGE it writes
# IMAGE.z, one raw deflate stream by zlib at level 9, as a release is published.
#
# The files are whatever this machine has, so the image differs between machines: compare only
# figures measured in one run on one machine.
set -euo pipefail
if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 IMAGE [MiB]" >&2
    exit 2
fi
image=$1
size_mib=${2:-256}
esp_mib=64
root_data_mib=110
if ((size_mib < esp_mib + root_data_mib + 40)); then
    echo "$0: the image needs at least $((esp_mib + root_data_mib + 40)) MiB" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Copies regular files (no links, nothing already compressed) from the given folders into
# $1, in path order, until $2 MiB have been taken.
take_files() {
    local target=$1 budget=$(($2 * 1048576))
    shift 2
    local taken=0 size
    while IFS= read -r -d '' file; do
        size=$(stat -c %s "$file")
        ((size > 0 && taken + size <= budget)) || continue
        mkdir -p "$target/$(dirname "$file")"
        cp "$file" "$target/$file" 2>/dev/null || continue
        taken=$((taken + size))
        ((taken < budget - 4096)) || break
    done < <(find "$@" -xdev -type f ! -name '*.gz' ! -name '*.xz' ! -name '*.bz2' \
        ! -name '*.zst' ! -name '*.zip' ! -name '*.jar' ! -name '*.png' -print0 2>/dev/null |
        sort -z)
}

# The ESP's content: shared objects, as a boot partition holds executables.
take_files "$work/esp" 44 /usr/lib/x86_64-linux-gnu/*.so*
# The root's content: programs, shared libraries and documentation in about equal parts.
take_files "$work/root" 38 /usr/bin /usr/sbin
take_files "$work/root" 36 /usr/lib/x86_64-linux-gnu/perl-base /usr/lib/x86_64-linux-gnu/gconv \
    /usr/lib/gcc /usr/lib/x86_64-linux-gnu/*.a
take_files "$work/root" 36 /usr/share/doc /usr/share/man /usr/share/perl

rm -f "$image"
truncate -s "${size_mib}M" "$image"
esp_start=2048
esp_sectors=$((esp_mib * 2048))
root_start=$((esp_start + esp_sectors))
# The root partition reaches to the last usable sector; its file system only as far as needed,
# so that the end of the disk is free space.
sgdisk -U 5A7D1C2E-0000-4000-8000-0000000000BB \
    -n 1:$esp_start:+${esp_mib}M -t 1:ef00 -c 1:ESP -u 1:5A7D1C2E-0000-4000-8000-000000000011 \
    -n 2:$root_start:0 -t 2:8304 -c 2:root -u 2:5A7D1C2E-0000-4000-8000-000000000012 \
    "$image" >/dev/null

export MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1700000000 TZ=UTC
truncate -s "${esp_mib}M" "$work/esp.img"
mkfs.vfat --invariant -i 0A0B0C0E -n ORVELOESP "$work/esp.img" >/dev/null
mcopy -s -i "$work/esp.img" "$work/esp/usr" ::/ >/dev/null
dd if="$work/esp.img" of="$image" bs=512 seek=$esp_start conv=notrunc status=none

root_mib=$((size_mib - esp_mib - 2))
E2FSPROGS_FAKE_TIME=$SOURCE_DATE_EPOCH mkfs.ext4 -q -F -L orvelo-root \
    -U 5a7d1c2e-0000-4000-8000-0000000000cc -E root_owner=0:0 -d "$work/root" \
    "$work/root.img" "${root_mib}M"
dd if="$work/root.img" of="$image" bs=512 seek=$root_start conv=notrunc,sparse status=none

python3 - "$image" <<'EOF'
import sys, zlib
image = open(sys.argv[1], "rb").read()
compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
with open(sys.argv[1] + ".z", "wb") as out:
    out.write(compressor.compress(image) + compressor.flush())
EOF
echo "$image: $size_mib MiB; $image.z: $(stat -c %s "$image.z") bytes"
