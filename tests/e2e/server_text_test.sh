#!/usr/bin/env bash
# A release whose version holds terminal controls and a direction override: `orvelo write` shows
# each as a visible escape, and no control byte reaches the output.
set -euo pipefail
orvelo=$(realpath "$1")
key=$2
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../../tools"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export XDG_CACHE_HOME="$work/cache" TMPDIR="$work/tmp"
mkdir -p cache tmp
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bash "$tools/make-gpt-image.sh" image.img 16
version=$'1.2\e[2J\e]0;x\a\u202egnp'
python3 "$tools/publish-release" image.img "$version" "$key" site --build 5 --issued 1765000000 >/dev/null
python3 "$tools/update-server" site --port-file port --lifetime 300 &
pids+=($!)
for _ in $(seq 100); do [ -s port ] && break; sleep 0.05; done
truncate -s 64M drive.img
status=0
"$orvelo" write --drive drive.img --server "http://127.0.0.1:$(cat port)" --dev --yes >out.bin 2>err.bin || status=$?
[ "$status" = 0 ] || fail "the write failed: $(cat out.bin err.bin)"
grep -qF '“drive.img” now installs Orvelo (it fetches the newest version, 1.2\x1b[2J\x1b]0;x\x07\u202egnp today).' out.bin ||
    fail "the version is not shown escaped: $(cat -v out.bin)"
if LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' out.bin err.bin || grep -q $'\u202e' out.bin; then
    fail "a control reached the output: $(cat -v out.bin)"
fi

echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" -eq 0 ]
