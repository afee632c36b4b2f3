#!/usr/bin/env bash
# `orvelo write` writes only the drive the user confirmed: a drive file replaced or resized while
# the erase question is open, or a loop device given another backing file of the same or another
# size, is refused with its text and left untouched. Ctrl-C while the server stays silent stops
# the job within two seconds; Ctrl-C while writing says that the drive is now unusable.
source "$(dirname "$0")/lib.sh" "$1"

bash "$tools/make-gpt-image.sh" image.img 16

# confirm_after NAME DRIVE ACTION...: starts a write of DRIVE that asks the erase question, runs
# ACTION while the question is open, then answers yes; sets $status.
confirm_after() {
    local name=$1 drive=$2; shift 2
    rm -f answer.fifo; mkfifo answer.fifo
    "${orvelo_command[@]}" write --drive "$drive" --any-disk --image image.img <answer.fifo >"$name.out" 2>"$name.err" &
    local writer=$!
    exec 3>answer.fifo
    for _ in $(seq 200); do grep -q 'Erase it?\|Overwrite it?' "$name.out" && break; sleep 0.05; done
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
expect_replaced swapped "$work/swapped.img" swapped.img

# The same file, another size.
truncate -s 64M resized.img
confirm_after resized resized.img truncate -s 65M resized.img
expect_replaced resized "$work/resized.img" resized.img

# A loop device given another backing file, of another size and of the same size (a card
# swapped in a reader, a twin stick): the same device number, a new disk sequence number.
if have_loop_devices; then
    truncate -s 64M first.img
    truncate -s 128M second.img
    truncate -s 64M twin.img
    loop=$(attach first.img)
    confirm_after device "$loop" sh -c "losetup -d $loop && losetup $loop second.img"
    expect_replaced device "$loop" second.img
    losetup -d "$loop"
    losetup "$loop" first.img
    confirm_after twin "$loop" sh -c "losetup -d $loop && losetup $loop twin.img"
    expect_replaced twin "$loop" twin.img
    untouched first.img && pass || fail "twin: the first medium was written"
    losetup -d "$loop"
else
    echo "no loop devices here: the block device cases are left out"
fi

# Ctrl-C while the server never answers: the job ends within two seconds, nothing written, no
# failure text.
rm -f silent.port
python3 "$tools/update-server" "$work" --silent --port-file silent.port --lifetime 300 &
pids+=($!)
for _ in $(seq 100); do [ -s silent.port ] && break; sleep 0.05; done
truncate -s 64M stop.img
"${orvelo_command[@]}" write --drive stop.img --server "http://127.0.0.1:$(cat silent.port)" --dev --yes >stop.out 2>stop.err &
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

# Ctrl-C once writing began: the job stops, and the user is told that the drive is now unusable
# (a large image, so that the stop lands while it is written or checked).
bash "$tools/make-gpt-image.sh" large.img 256
truncate -s 300M written.img
"${orvelo_command[@]}" write --drive written.img --image large.img --yes >written.out 2>written.err &
writer=$!
for _ in $(seq 600); do grep -q '^Writing' written.out && break; sleep 0.02; done
kill -INT "$writer"
status=0
wait "$writer" || status=$?
[ "$status" = 1 ] && grep -qx "The installer wasn't made." written.out &&
    grep -qx "The drive won't be usable until you make the installer again." written.out &&
    [ ! -s written.err ] && pass || fail "a stop while writing: $status $(cat written.out written.err)"

finish
