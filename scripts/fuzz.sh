#!/usr/bin/env bash
# fuzz.sh [MINUTES] [FUZZER...]: a fuzzing campaign (not part of CI). Runs each fuzzer (all of
# them, or the ones named, e.g. "inflate manifest") for MINUTES (default 10) each, two at a time
# on the two cores, starting from the corpus kept in the repository (fuzz/corpus/NAME) and the
# hand-made seeds (fuzz/seeds/NAME). Then it merges what the run found into fuzz/corpus/NAME,
# minimised with -merge=1 and without files over 64 KiB, ready to commit, and prints executions,
# speed, coverage and crashes per fuzzer. A crash leaves its input in build/fuzz/campaign/NAME/
# and makes the exit status 1.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"
orvelo_install_missing

minutes=${1:-10}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for fuzzer in $(find build/fuzz/fuzz -maxdepth 1 -type f -executable -name '*_fuzzer' | sort); do
        name=$(basename "$fuzzer")
        names+=("${name%_fuzzer}")
    done
fi

campaign() {  # NAME: one fuzzer's run; its log is build/fuzz/campaign/NAME.log
    local name=$1 work="build/fuzz/campaign/$1"
    rm -rf "$work"
    mkdir -p "$work/found" "fuzz/corpus/$name"
    local seeds=()
    [ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
    nice "build/fuzz/fuzz/${name}_fuzzer" -max_total_time=$((minutes * 60)) -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/found" "fuzz/corpus/$name" "${seeds[@]}" \
        >"$work.log" 2>&1 || echo "exit $?" >>"$work.log"
}

running=0
for name in "${names[@]}"; do
    [ -x "build/fuzz/fuzz/${name}_fuzzer" ] || { echo "no fuzzer named $name"; exit 2; }
    campaign "$name" &
    running=$((running + 1))
    if [ $running -ge 2 ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
printf '%-16s %12s %10s %8s %8s %8s\n' fuzzer executions exec/s cov features crashes
for name in "${names[@]}"; do
    work="build/fuzz/campaign/$name"
    # Minimise: the kept corpus becomes the smallest set covering all it and the run found.
    merged="$work/merged"
    mkdir -p "$merged"
    "build/fuzz/fuzz/${name}_fuzzer" -merge=1 "$merged" "fuzz/corpus/$name" "$work/found" \
        >"$work/merge.log" 2>&1
    find "$merged" -type f -size +64k -delete
    rm -rf "fuzz/corpus/$name"
    mv "$merged" "fuzz/corpus/$name"
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work.log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work.log")
    last=$(grep -E '^#[0-9]+' "$work.log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    crashes=$(find "$work" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' -o \
        -maxdepth 1 -name 'timeout-*' -o -maxdepth 1 -name 'oom-*' | wc -l)
    printf '%-16s %12s %10s %8s %8s %8s\n' "$name" "${executions:-?}" "${speed:-?}" "${cov:-?}" \
        "${features:-?}" "$crashes"
    [ "$crashes" -eq 0 ] || status=1
done
echo "corpus: $(find fuzz/corpus -type f | wc -l) files, $(du -sh fuzz/corpus | cut -f1)"
exit $status
