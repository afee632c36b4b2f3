# Sourced by the end-to-end tests as `source lib.sh ORVELO`: the program under test, a work
# folder of the test's own (the current folder from here on) that is removed with every server,
# mount, loop device and account the test registers, and the pass and failure counts.
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
cleanup() {
    local i
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for area in "${swaps[@]}"; do swapoff "$area" 2>/dev/null || true; done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" 2>/dev/null || true; done
    for ((i = ${#loops[@]} - 1; i >= 0; i--)); do
        partx -d "${loops[i]}" 2>/dev/null || true
        losetup -d "${loops[i]}" 2>/dev/null || true
    done
    for account in "${accounts[@]}"; do userdel -r "$account" 2>/dev/null || true; done
    cd /
    rm -rf "$work"
}
trap cleanup EXIT
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

# attach FILE [losetup options]: a loop device over FILE, detached at the end; prints its path.
attach() {
    local loop
    loop=$(losetup -f --show "$@")
    loops+=("$loop")
    echo "$loop"
}

# start_server NAME FOLDER ARGS...: the update server on loopback, serving FOLDER, logging the
# paths asked for in NAME.log; sets $url.
start_server() {
    local name=$1 folder=$2; shift 2
    rm -f "$name.port"
    python3 "$tools/update-server" "$folder" --port-file "$name.port" --log "$name.log" \
        --lifetime 300 "$@" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$name.port" ] && break; sleep 0.05; done
    url="http://127.0.0.1:$(cat "$name.port")"
}
