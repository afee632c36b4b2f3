#!/usr/bin/env bash
# A release whose version holds terminal controls and a direction override: `orvelo write` shows
# each as a visible escape, and no control byte reaches the output.
key=$(realpath "$2")
source "$(dirname "$0")/lib.sh" "$1"

bash "$tools/make-gpt-image.sh" image.img 16
version=$'1.2\e[2J\e]0;x\a\u202egnp'
python3 "$tools/publish-release" image.img "$version" "$key" site --build 5 --issued 1765000000 >/dev/null
start_server good site
truncate -s 64M drive.img
status=0
run_orvelo write --drive drive.img --server "$url" --dev --yes >out.bin 2>err.bin || status=$?
[ "$status" = 0 ] || fail "the write failed: $(cat out.bin err.bin)"
grep -qF "“$work/drive.img” now installs Orvelo (it fetches the newest version, 1.2\\x1b[2J\\x1b]0;x\\x07\\u202egnp today)." out.bin ||
    fail "the version is not shown escaped: $(cat -v out.bin)"
if LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' out.bin err.bin || grep -q $'\u202e' out.bin; then
    fail "a control reached the output: $(cat -v out.bin)"
fi

finish
