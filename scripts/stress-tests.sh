#!/usr/bin/env bash
# Proof that the tests hold on a loaded machine and leave it as they found it: runs the
# end-to-end tests (natively, as the user who runs this: as root they use real loop devices,
# mounts in namespaces of their own, a swap area, a second account and a throttled drive) and
# the Windows tests that drive a window or a server under Wine, ROUNDS times each, while one
# busy loop per core keeps every core busy. Then it compares the machine with what it was before:
# loop devices, mounts, swap areas, accounts, the tests' control groups, and processes of the
# kinds the tests start. Prints each test's passes and exits 0 only when every run passed and
# nothing was left behind.
#   bash scripts/stress-tests.sh [ROUNDS]      (default 3)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"
rounds=${1:-3}
native_tests='^(cli_contract|gpt_by_reference_tool|block_device|release_road|confirmed_drive_only|server_text_on_terminal|root_safety)$'
wine_tests='^(https_against_local_server|ui_.*)$'
log=build/stress
mkdir -p "$log"

orvelo_install_missing
cmake --preset native >/dev/null && cmake --build --preset native >"$log/build-native.log"
cmake --preset mingw >/dev/null && cmake --build --preset mingw >"$log/build-mingw.log"

# What the tests may leave behind, as lines to compare. Processes: those of the kinds the tests
# start (the program, Wine and its programs, the update server, the display, the emulator, the
# helpers that hold namespaces), this script's own excepted.
test_processes='orvelo|wine|\.exe$|update-server|Xvfb|qemu|unshare|losetup|xdotool|python3'
machine_state() {
    echo "-- loop devices"
    losetup -a | sort
    echo "-- mounts"
    findmnt -rn -o TARGET,SOURCE,FSTYPE | sort
    echo "-- swap areas"
    swapon --show=NAME --noheadings | sort
    echo "-- accounts"
    getent passwd | cut -d: -f1 | sort
    echo "-- control groups"
    find /sys/fs/cgroup -maxdepth 2 -name 'orvelo-test-*' 2>/dev/null | sort
    echo "-- processes"
    ps -e -o pid=,args= | awk -v self=$$ '$1 != self' | grep -E "$test_processes" |
        grep -v -E 'stress-tests|grep -E' | sort || true
}
machine_state >"$log/before.txt"

load=()
stop_load() {
    for pid in "${load[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${load[@]}"; do wait "$pid" 2>/dev/null || true; done
    load=()
}
trap 'stop_load; orvelo_stop_wine' EXIT
for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    load+=($!)
done
echo "Load: ${#load[@]} busy loops on $(nproc) cores; $rounds rounds"

declare -A passed failed skipped
# run_round PRESET REGEX ROUND: one ctest run; counts each test's result.
run_round() {
    local preset=$1 regex=$2 round=$3 output="$log/$1-round-$3.log"
    ctest --preset "$preset" -R "$regex" >"$output" 2>&1 || true
    while read -r name result; do
        if [ "$result" = Passed ]; then
            passed[$name]=$((${passed[$name]:-0} + 1))
        elif [ "$result" = Skipped ]; then
            skipped[$name]=$((${skipped[$name]:-0} + 1))  # no root or loop devices here
        else
            failed[$name]=$((${failed[$name]:-0} + 1))
            echo "   $name: $result in round $round (see $output)"
        fi
    done < <(sed -n 's/^ *[0-9/]* *Test *#[0-9]*: \([^ ]*\) \.*\** *\([A-Za-z]*\).*/\1 \2/p' "$output")
    echo "$preset round $round: $(tail -n 20 "$output" | grep 'tests passed' || echo 'no summary')"
}
for round in $(seq "$rounds"); do
    run_round native "$native_tests" "$round"
done
orvelo_start_wine
for round in $(seq "$rounds"); do
    run_round mingw "$wine_tests" "$round"
done
orvelo_stop_wine
stop_load
# Wine's processes end a moment after the server is told to stop; wait for them (bounded).
for _ in $(seq 300); do
    machine_state >"$log/after.txt"
    cmp -s "$log/before.txt" "$log/after.txt" && break
    sleep 0.1
done

echo "== Passes of $rounds runs under load"
status=0
for name in $(printf '%s\n' "${!passed[@]}" "${!failed[@]}" "${!skipped[@]}" | sort -u); do
    printf '%-32s %d passed, %d failed, %d skipped\n' "$name" "${passed[$name]:-0}" \
        "${failed[$name]:-0}" "${skipped[$name]:-0}"
    [ "${failed[$name]:-0}" -eq 0 ] || status=1
done
[ ${#passed[@]} -gt 0 ] || { echo "no test ran"; status=1; }
if diff -u "$log/before.txt" "$log/after.txt" >"$log/left-behind.diff"; then
    echo "The machine is as it was: the same loop devices, mounts, swap areas, accounts, control groups and test processes before and after."
else
    echo "Left behind:"
    cat "$log/left-behind.diff"
    status=1
fi
exit "$status"
