#!/usr/bin/env bash
# Builds everything and runs every test: natively under the sanitizers, the Windows build under
# Wine, the fuzzers for a short while, and the benchmarks once as a smoke run. Installs what is
# missing first. Exit status 0 only when every step passed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"

orvelo_install_missing

echo "== Native build and tests (AddressSanitizer + UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native | tee build/native-ctest.log

# The suites that read the repository's test data (published vectors, signed fixtures, the
# development key) are registered by name; losing one must fail here, not pass by omission.
ctest --preset native -N >build/native-ctest-list.txt
for suite in Sha256VectorsTest EcdsaWycheproof EcdsaNist InflateVectors TrustedKeys \
    SignedDocumentTest DevSignedDocumentTest ReleaseRoadTest release_road; do
    grep -q "Test *#[0-9]*: \(BothPaths/\)\?$suite[./ ]\|Test *#[0-9]*: $suite\$" build/native-ctest-list.txt ||
        { echo "The native tests lack the suite $suite"; exit 1; }
done
echo "Every suite of the repository's test data is registered."

echo "== Windows build and tests under Wine"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
trap orvelo_stop_wine EXIT
orvelo_start_wine
ctest --preset mingw | tee build/mingw-ctest.log
orvelo_stop_wine
trap - EXIT

echo "== Optimised native build and benchmarks (smoke run)"
cmake --preset release >/dev/null
cmake --build --preset release
for bench in $(find build/release/bench -maxdepth 1 -type f -executable -name "*_bench" 2>/dev/null | sort); do
    # A benchmark that fails reports it in its output and still exits 0; only the one that
    # waits for a realistic image that nobody named may skip.
    output=$(ORVELO_BENCH_IMAGE_MIB=8 ORVELO_BENCH_DIR="$ORVELO_ROOT/build/release" \
        "$bench" --benchmark_min_time=0.01)
    if grep "ERROR OCCURRED" <<<"$output" | grep -v "no ORVELO_BENCH_REALISTIC_IMAGE"; then
        echo "$bench: a benchmark failed"
        exit 1
    fi
    echo "$bench: ran"
done

echo "== Fuzzers (short runs)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in $(find build/fuzz/fuzz -maxdepth 1 -type f -executable -name '*_fuzzer' 2>/dev/null | sort); do
    name=$(basename "$fuzzer")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    # New finds go to the build's folder; the kept corpus and the hand-made seeds are read only.
    kept=()
    for folder in "fuzz/corpus/${name%_fuzzer}" "fuzz/seeds/${name%_fuzzer}"; do
        [ -d "$folder" ] && kept+=("$folder")
    done
    "$fuzzer" -max_total_time="${ORVELO_FUZZ_SECONDS:-20}" -print_final_stats=0 "$corpus" "${kept[@]}" \
        >"build/fuzz/$name.log" 2>&1 || { tail -50 "build/fuzz/$name.log"; exit 1; }
    echo "$name: $(grep -c '^#' "build/fuzz/$name.log") status lines, no failure"
done

# One summary line for both test runs (each runs to its end or stops the script).
total=$(sed -n 's/.*tests failed out of \([0-9]*\)$/\1/p' build/native-ctest.log build/mingw-ctest.log |
    awk '{ sum += $1 } END { print sum }')
echo "All tests passed."
echo "tests: $total passed, 0 failed"
