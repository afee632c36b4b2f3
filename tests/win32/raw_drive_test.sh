#!/usr/bin/env bash
# Runs the raw drive test under Wine with a 4 MiB drive file exposed as \\.\PhysicalDrive9, then
# checks from Linux that the bytes reached the file where they were meant to go.
set -euo pipefail
test_exe=$1
wine_exec=$2
: "${WINEPREFIX:?the Wine prefix of the test run}"
drive=$(mktemp)
trap 'rm -f "$drive" "$WINEPREFIX/dosdevices/physicaldrive9"' EXIT
truncate -s 4M "$drive"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/physicaldrive9"
"$wine_exec" "$test_exe"
python3 - "$drive" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
def piece(seed, length):
    return bytes((seed + i * 13) & 0xFF for i in range(length))
assert data[3 * 1048576:3 * 1048576 + 16896] == piece(1, 16896), "tail piece"
assert data[17408:17408 + 1048576] == piece(2, 1048576), "body piece"
assert data[:17408] == piece(3, 17408), "head piece"
assert data[17408 + 1048576:3 * 1048576] == bytes(3 * 1048576 - 17408 - 1048576), "untouched"
print("the drive file holds what was written")
PY
