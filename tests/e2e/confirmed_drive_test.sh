#!/usr/bin/env bash
# `orvelo write` writes only the drive the user confirmed: a drive file replaced or resized while
# the erase question is open is refused with its text and left untouched, and a loop device
# cannot be given another backing file while the job holds it. Ctrl-C while the server stays silent stops
# the job within two seconds; Ctrl-C while writing says that the drive is now unusable.
source "$(dirname "$0")/lib.sh" "$1"

bash "$tools/make-gpt-image.sh" image.img 16

# confirm_after NAME DRIVE ACTION...: starts a write of DRIVE that asks the erase question, runs
# ACTION once the question is open, then answers yes; sets $status.
confirm_after() {
    local name=$1 drive=$2; shift 2
    rm -f answer.fifo; mkfifo answer.fifo
    "${orvelo_command[@]}" write --drive "$drive" --any-disk --image image.img <answer.fifo >"$name.out" 2>"$name.err" &
    local writer=$!
    pids+=("$writer")
    exec 3>answer.fifo
    # The question waits for the answer, so ACTION always runs while it is open.
    if wait_for_line "$name.out" 'Erase it?\|Overwrite it?' "$writer" "$name: the erase question"; then
        "$@"
    fi
    # A job that already ended reads no answer: the write then fails in a subshell of its own.
    (echo y >&3) 2>/dev/null || true
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

# The same file renamed away: the success would name a path that no longer exists.
truncate -s 64M renamed.img
confirm_after renamed renamed.img mv renamed.img moved.img
expect_replaced renamed "$work/renamed.img" moved.img

# The same file, another size.
truncate -s 64M resized.img
confirm_after resized resized.img truncate -s 65M resized.img
expect_replaced resized "$work/resized.img" resized.img

# A loop device given another backing file while the question is open (what a card swapped in a
# reader is to the kernel): the job holds the device open and claimed from before the question,
# so nothing else can claim it (an O_EXCL open fails with EBUSY) and the detach waits for the
# job; the file attached at the question is the one written, and the other stays untouched.
if have_loop_devices; then
    truncate -s 64M first.img
    truncate -s 128M second.img
    attach loop first.img
    try_swap() {
        python3 -c 'import os, sys
try:
    os.open(sys.argv[1], os.O_RDONLY | os.O_EXCL)
    print("claimed")
except OSError as error:
    print(error.errno)' "$loop" >claim.txt
        losetup -d "$loop"
        if losetup "$loop" second.img 2>/dev/null; then echo attached >swap.txt; else echo refused >swap.txt; fi
    }
    confirm_after device "$loop" try_swap
    [ "$status" = 0 ] && [ "$(cat claim.txt)" = 16 ] && [ "$(cat swap.txt)" = refused ] &&
        sgdisk -v first.img | grep -q '^No problems found' && untouched second.img && pass ||
        fail "a swap during the question: $status $(cat claim.txt swap.txt device.out device.err)"
    # The detach asked for during the question came once the job let the device go.
    if losetup "$loop" >/dev/null 2>&1; then detach "$loop"; else
        for i in "${!loops[@]}"; do [ "${loops[i]}" = "$loop" ] && unset 'loops[i]'; done
        loops=("${loops[@]}")
    fi
else
    echo "no loop devices here: the block device cases are left out"
fi

# Ctrl-C while the server never answers: the job ends at once, nothing written, no failure
# text. The server keeps silent for as long as the job would wait (a minute), so the stop always
# lands while the job waits for it; an end within 20 s shows that the stop cut the wait short.
start_server silent "$work" --silent
truncate -s 64M stop.img
"${orvelo_command[@]}" write --drive stop.img --server "$url" --dev --yes >stop.out 2>stop.err &
writer=$!
pids+=("$writer")
if wait_for_line silent.log '^/installer/latest$' "$writer" "a stop during silence: the request"; then
    started=$(date +%s%N)
    status=0
    interrupt "a stop during silence" "$writer" || true
    wait "$writer" || status=$?
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    [ "$status" = 1 ] && [ "$elapsed_ms" -lt 20000 ] && grep -qx "The installer wasn't made." stop.out &&
        [ ! -s stop.err ] && untouched stop.img && pass ||
        fail "a stop during silence: $status after $elapsed_ms ms: $(cat stop.out stop.err)"
fi

# Ctrl-C once writing began, a termination and a hang-up: the job stops, and the user is told
# that the drive is now unusable. The drive is a loop device whose writes the test slows to
# 64 KiB/s, so that writing lasts minutes, however fast the machine; once the stop is sent, the
# drive runs free again, the write under way ends and the job sees the stop.
# Then an output that goes away while the job writes (`| head -1`): the job goes on and
# succeeds; here the reader is seen gone before the drive runs free, so that the job's later
# lines meet a closed pipe.
if have_loop_devices; then
    truncate -s 64M written.img
    attach slow written.img
    if throttle "$slow" 65536; then
        for stop_signal in INT TERM HUP; do
            name="a stop by SIG$stop_signal while writing"
            throttle "$slow" 65536
            "${throttled[@]}" "${orvelo_command[@]}" write --drive "$slow" --any-disk --image image.img --yes \
                >written.out 2>written.err &
            writer=$!
            pids+=("$writer")
            if wait_for_line written.out '^Writing' "$writer" "$name: the writing phase" &&
                interrupt "$name" "$writer" "$stop_signal"; then
                unthrottle
                status=0
                wait "$writer" || status=$?
                [ "$status" = 1 ] && grep -qx "The installer wasn't made." written.out &&
                    grep -qx "The drive won't be usable until you make the installer again." written.out &&
                    [ ! -s written.err ] && pass || fail "$name: $status $(cat written.out written.err)"
            else
                kill -KILL "$writer" 2>/dev/null || true
                unthrottle
                wait "$writer" 2>/dev/null || true
            fi
        done

        throttle "$slow" 65536
        rm -f lines.fifo; mkfifo lines.fifo
        "${throttled[@]}" "${orvelo_command[@]}" write --drive "$slow" --any-disk --image image.img --yes \
            >lines.fifo 2>closed-pipe.err &
        writer=$!
        pids+=("$writer")
        head -1 <lines.fifo >closed-pipe.out
        unthrottle
        status=0
        wait "$writer" || status=$?
        [ "$status" = 0 ] && [ -s closed-pipe.out ] && [ ! -s closed-pipe.err ] &&
            sgdisk -v "$slow" | grep -q '^No problems found' && pass ||
            fail "an output closed while writing: $status $(cat closed-pipe.out closed-pipe.err)"

        # Standard output closed from the start (`>&-`): while the job writes the drive, its
        # descriptor 1 is /dev/null, not the drive, the image or a folder that took the number.
        throttle "$slow" 65536
        "${throttled[@]}" "${orvelo_command[@]}" write --drive "$slow" --any-disk --image image.img --yes \
            >&- 2>closed-out.err &
        writer=$!
        pids+=("$writer")
        for _ in $(seq 1200); do
            ls -l "/proc/$writer/fd" 2>/dev/null | grep -q " -> $slow\$" || ! kill -0 "$writer" 2>/dev/null && break
            sleep 0.1
        done
        output_descriptor=$(readlink "/proc/$writer/fd/1" || echo none)
        unthrottle
        status=0
        wait "$writer" || status=$?
        [ "$status" = 0 ] && [ "$output_descriptor" = /dev/null ] && [ ! -s closed-out.err ] &&
            sgdisk -v "$slow" | grep -q '^No problems found' && pass ||
            fail "standard output closed: $status, descriptor 1 was $output_descriptor: $(cat closed-out.err)"
    else
        echo "no block I/O control here: the stops while writing are left out"
    fi
    detach "$slow"
else
    echo "no loop devices here: the stops while writing are left out"
fi

# Standard output closed from the start (`>&-`): no drive, image or file takes its number, so
# the progress lines go nowhere and the drive holds the installer alone.
truncate -s 64M closed.img
cp image.img image.before
status=0
"$orvelo" write --drive closed.img --image image.img --yes >&- 2>closed.err || status=$?
[ "$status" = 0 ] && [ ! -s closed.err ] && sgdisk -v closed.img | grep -q '^No problems found' &&
    ! grep -q -a "Writing\|Checking" closed.img && cmp -s image.img image.before && pass ||
    fail "standard output closed: $status $(cat closed.err)"

finish
