# Sourced by the end-to-end tests as `source lib.sh ORVELO`: the program under test, a work
# folder of the test's own (the current folder from here on) that is removed with every server,
# mount, loop device, account and control group the test registers, and the pass and failure
# counts. The clean-up runs on every road out: success, failure, an error under `set -e`, and
# an interrupt (Ctrl-C), hang-up or termination of the test.
set -euo pipefail
orvelo=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[1]}")" && pwd)
tools="$here/../../tools"
work=$(mktemp -d)
pids=()       # background processes: killed
mounts=()     # mount points: unmounted, last first
loops=()      # loop devices: their partitions dropped, then detached, last first
accounts=()   # accounts made by the test: removed with their homes
swaps=()      # active swap areas: turned off
groups=()     # control groups made by the test: removed once their processes have ended
cleanup() {
    local i group live
    trap - EXIT INT TERM HUP
    # Only the recorded processes that still run as this shell's children are ended: the id of
    # one that ended and was waited for may belong to another program by now.
    live=" $(jobs -p | tr '\n' ' ') "
    for pid in "${pids[@]}"; do
        [[ $live == *" $pid "* ]] && kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        [[ $live == *" $pid "* ]] && wait "$pid" 2>/dev/null || true
    done
    for area in "${swaps[@]}"; do swapoff "$area" 2>/dev/null || true; done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" 2>/dev/null || true; done
    for ((i = ${#loops[@]} - 1; i >= 0; i--)); do
        partx -d "${loops[i]}" 2>/dev/null || true
        losetup -d "${loops[i]}" 2>/dev/null || true
    done
    for account in "${accounts[@]}"; do
        pkill -KILL -u "$account" 2>/dev/null || true
        userdel -r "$account" 2>/dev/null || true
    done
    for group in "${groups[@]}"; do
        # A group can be removed only once its last process is gone; a killed one may take a
        # moment to end, so each is waited for (bounded: the test must end anyway).
        for _ in $(seq 100); do rmdir "$group" 2>/dev/null && break; sleep 0.1; done
    done
    cd /
    rm -rf "$work"
}
trap cleanup EXIT
# An interrupt or termination runs the clean-up through EXIT, with the status a signal gives.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
cd "$work"
mkdir -p cache tmp
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
untouched() { [ -z "$(tr -d '\0' <"$1" | head -c 1)" ]; }
# The closing line; the status tells whether every check passed.
finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}

is_root() { [ "$(id -u)" = 0 ]; }
have_loop_devices() { is_root && command -v losetup >/dev/null && losetup -f >/dev/null 2>&1; }

# run_orvelo ARGS...: the program, its cache in $work/cache. Run as root it keeps its cache in
# /var/cache, whatever the environment says: it then runs in a mount namespace of its own in
# which $work/cache is bound there, so that the test neither reads nor leaves a cache outside
# its folder. Without root, XDG_CACHE_HOME does the same. In the background, start
# "${orvelo_command[@]}" ARGS... & instead: unshare, sh and env each exec the next, so that $!
# is the program's own id and a signal sent to it reaches the program.
if is_root; then
    orvelo_command=(unshare -m sh -c 'mount --bind "$0" /var/cache && exec "$@"' "$work/cache"
        env TMPDIR="$work/tmp" "$orvelo")
else
    orvelo_command=(env XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp" "$orvelo")
fi
run_orvelo() { "${orvelo_command[@]}" "$@"; }

# attach VAR FILE [losetup options]: a loop device over FILE, its path put in VAR and recorded
# here, in the test's own shell, so that the clean-up detaches it whatever happens. (Run in a
# command substitution, the record would be lost with the subshell.)
attach() {
    # Locals of unlikely names: printf -v would set a local of the caller's chosen name instead.
    local attach_var_=$1 attach_loop_
    shift
    attach_loop_=$(losetup -f --show "$@")
    loops+=("$attach_loop_")
    printf -v "$attach_var_" '%s' "$attach_loop_"
}
# detach LOOP: detaches a loop device now (with its partitions) and drops it from the record, so
# that the clean-up never detaches the device of another user who took the number since.
detach() {
    local i
    partx -d "$1" 2>/dev/null || true
    losetup -d "$1"
    for i in "${!loops[@]}"; do [ "${loops[i]}" = "$1" ] && unset 'loops[i]'; done
    loops=("${loops[@]}")
}

# throttle DEVICE BYTES_PER_SECOND: a block I/O control group of the test's own, in which writes
# to DEVICE go at most that fast; sets `throttled` to a command prefix that runs a program in it
# (the prefix execs, so $! is still the program's id). Makes a job's writing last as long as the
# test needs, whatever the machine's speed; `unthrottle` lets it run free again, and a later
# call sets a new rate in the same group. Fails (status 1) where the machine offers no such
# control.
throttle_group=""
throttle() {
    local device=$1 rate=$2 number
    number=$(lsblk -dno MAJ:MIN "$device" | tr -d ' ')
    if [ -f /sys/fs/cgroup/blkio/blkio.throttle.write_bps_device ]; then
        if [ -z "$throttle_group" ]; then
            throttle_group=/sys/fs/cgroup/blkio/orvelo-test-$$
            groups+=("$throttle_group")
            mkdir "$throttle_group" || return 1
        fi
        throttle_rule="$throttle_group/blkio.throttle.write_bps_device"
        echo "$number $rate" >"$throttle_rule" || return 1
        throttle_off="$number 0"
    elif grep -qw io /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
        if [ -z "$throttle_group" ]; then
            echo +io >/sys/fs/cgroup/cgroup.subtree_control 2>/dev/null || true
            throttle_group=/sys/fs/cgroup/orvelo-test-$$
            groups+=("$throttle_group")
            mkdir "$throttle_group" || return 1
        fi
        throttle_rule="$throttle_group/io.max"
        echo "$number wbps=$rate" >"$throttle_rule" || return 1
        throttle_off="$number wbps=max"
    else
        return 1
    fi
    throttled=(sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$throttle_group")
}
unthrottle() {
    echo "$throttle_off" >"$throttle_rule"
}

# wait_for_line FILE PATTERN PID WHAT: waits until FILE holds a line matching PATTERN (grep's
# basic form), for as long as process PID lives; fails with a line naming WHAT when PID ended
# first, or after two minutes.
wait_for_line() {
    local file=$1 pattern=$2 pid=$3 what=$4
    for _ in $(seq 1200); do
        grep -q "$pattern" "$file" 2>/dev/null && return 0
        if ! kill -0 "$pid" 2>/dev/null; then
            grep -q "$pattern" "$file" 2>/dev/null && return 0
            fail "$what: the program ended before it was seen: $(cat "$file")"
            return 1
        fi
        sleep 0.1
    done
    fail "$what: not seen within two minutes: $(cat "$file")"
    return 1
}

# interrupt NAME PID [SIGNAL]: Ctrl-C (or SIGNAL) for the program PID. A program that already
# ended cannot be stopped: that is the test's failure, said as such (never a shell error under
# `set -e`).
interrupt() {
    kill -"${3:-INT}" "$2" 2>/dev/null && return 0
    fail "$1: the job had ended before the stop reached it"
    return 1
}

# start_server NAME FOLDER ARGS...: the update server on loopback, serving FOLDER, logging the
# paths asked for in NAME.log; sets $url.
start_server() {
    local name=$1 folder=$2; shift 2
    rm -f "$name.port"
    python3 "$tools/update-server" "$folder" --port-file "$name.port" --log "$name.log" \
        --lifetime 300 "$@" &
    pids+=($!)
    url="http://127.0.0.1:$("$tools/wait-for-port" "$name.port" $!)"
}
