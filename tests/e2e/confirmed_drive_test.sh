#!/usr/bin/env bash
# `orvelo write` writes only the drive the user confirmed: a drive file replaced or resized while
# the erase question is open, or a loop device given another backing file of another size, is
# refused with its text and left untouched. Ctrl-C while the server stays silent stops the job
# within two seconds.
set -euo pipefail
orvelo=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
loop=""
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp"
mkdir -p cache tmp
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
untouched() { [ -z "$(tr -d '\0' <"$1" | head -c 1)" ]; }

bash "$here/../../tools/make-gpt-image.sh" image.img 16

# confirm_after NAME DRIVE ACTION...: starts a write of DRIVE that asks the erase question, runs
# ACTION while the question is open, then answers yes; sets $status.
confirm_after() {
    local name=$1 drive=$2; shift 2
    rm -f answer.fifo; mkfifo answer.fifo
    "$orvelo" write --drive "$drive" --any-disk --image image.img <answer.fifo >"$name.out" 2>"$name.err" &
    local writer=$!
    exec 3>answer.fifo
    for _ in $(seq 200); do grep -q 'Erase it?' "$name.out" && break; sleep 0.05; done
    "$@"
    echo y >&3
    exec 3>&-
    status=0
    wait "$writer" || status=$?
}
expect_replaced() {  # NAME LABEL FILE: the job refused the drive, and FILE is untouched
    [ "$status" = 1 ] && [ "$(cat "$1.err")" = "The installer couldn't be made
$2 was unplugged or replaced. Pick the drive again." ] && untouched "$3" && pass ||
        fail "$1: $status $(cat "$1.out" "$1.err")"
}

# The same file kept: written.
truncate -s 64M kept.img
confirm_after kept kept.img true
[ "$status" = 0 ] && sgdisk -v kept.img | grep -q '^No problems found' && pass ||
    fail "an unchanged drive file: $status $(cat kept.err)"

# Another file of the same size in its place.
truncate -s 64M swapped.img
confirm_after swapped swapped.img sh -c 'truncate -s 64M other.img && mv other.img swapped.img'
expect_replaced swapped swapped.img swapped.img

# The same file, another size.
truncate -s 64M resized.img
confirm_after resized resized.img truncate -s 65M resized.img
expect_replaced resized resized.img resized.img

# A loop device given another backing file of another size: the same device number.
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null && losetup -f >/dev/null 2>&1; then
    truncate -s 64M first.img
    truncate -s 128M second.img
    loop=$(losetup -f --show first.img)
    confirm_after device "$loop" sh -c "losetup -d $loop && losetup $loop second.img"
    expect_replaced device "$(basename "$loop")" second.img
    losetup -d "$loop"
    loop=""
else
    echo "no loop devices here: the block device case is left out"
fi

# Ctrl-C while the server never answers: the job ends within two seconds, nothing written, no
# failure text.
rm -f silent.port
python3 "$here/../../tools/update-server" "$work" --silent --port-file silent.port --lifetime 300 &
pids+=($!)
for _ in $(seq 100); do [ -s silent.port ] && break; sleep 0.05; done
truncate -s 64M stop.img
"$orvelo" write --drive stop.img --server "http://127.0.0.1:$(cat silent.port)" --dev --yes >stop.out 2>stop.err &
writer=$!
sleep 1
started=$(date +%s%N)
kill -INT "$writer"
status=0
wait "$writer" || status=$?
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
[ "$status" = 1 ] && [ "$elapsed_ms" -lt 2000 ] && grep -qx "The installer wasn't made." stop.out &&
    [ ! -s stop.err ] && untouched stop.img && pass ||
    fail "a stop during silence: $status after $elapsed_ms ms: $(cat stop.out stop.err)"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
