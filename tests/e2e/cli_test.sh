#!/usr/bin/env bash
# The Linux front end's contract: usage errors exit 2, failures exit 1 with the catalogue's text,
# the erase question guards the drive, and success prints the ready texts.
set -euo pipefail
orvelo=$(realpath "$1")
version=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected status, then the command
    local expected=$1; shift
    local status=0
    "$@" >out.txt 2>err.txt </dev/null || status=$?
    [ "$status" = "$expected" ] || fail "$* exited $status, not $expected: $(cat out.txt err.txt)"
}

bash "$here/../../tools/make-gpt-image.sh" image.img 16
truncate -s 64M drive.img

expect_status 2 "$orvelo"
expect_status 2 "$orvelo" frobnicate
expect_status 2 "$orvelo" write --image image.img --yes  # --yes confirms a named drive only
expect_status 2 "$orvelo" write --drive drive.img --drive drive.img --image image.img
expect_status 2 "$orvelo" list extra
expect_status 0 "$orvelo" --help
grep -q '^usage: orvelo list$' out.txt || fail "help: $(cat out.txt)"
expect_status 0 "$orvelo" --version
[ "$(cat out.txt)" = "orvelo $version" ] || fail "version: $(cat out.txt), not $version"

# An argument that is not UTF-8, in each position, is refused before anything reads it.
bad=$'\xff'
truncated=$'a\xe2\x82'
for arguments in "$bad" "write $bad" "write --drive $bad" "write --drive drive.img --image $truncated" \
        "write --drive drive.img --server $bad" "write --drive drive.img --yes $bad" \
        "check-manifest $truncated" "check-manifest x $bad" "list $bad" "--help $bad"; do
    # shellcheck disable=SC2086
    expect_status 2 "$orvelo" $arguments
    [ "$(cat err.txt)" = "An argument is not valid UTF-8." ] || fail "not UTF-8 ($arguments): $(cat err.txt)"
done
expect_status 2 "$orvelo" write --drive drive.img --bogus
expect_status 1 "$orvelo" write --drive missing.img --image image.img --yes
grep -qx 'missing.img can'"'"'t be read.' err.txt || fail "missing drive: $(cat err.txt)"
expect_status 1 "$orvelo" write --drive drive.img --image 'no such.img' --yes
grep -qx 'no such.img can'"'"'t be read.' err.txt || fail "missing image: $(cat err.txt)"
grep -qx 'The installer couldn'"'"'t be made' err.txt || fail "no failure caption"

# Without --yes the question is asked; anything but yes leaves the drive alone.
status=0
printf 'n\n' | "$orvelo" write --drive drive.img --image image.img >out.txt 2>&1 || status=$?
[ "$status" = 1 ] || fail "declined erase exited $status"
grep -q 'Everything on “drive.img” (67 MB) will be deleted' out.txt || fail "question: $(cat out.txt)"
[ -z "$(tr -d '\0' <drive.img | head -c 1)" ] || fail "a declined drive was written"

printf 'y\n' | "$orvelo" write --drive drive.img --image image.img >out.txt 2>&1 || fail "confirmed write failed"
grep -qx 'The Orvelo installer is ready' out.txt || fail "no ready caption: $(cat out.txt)"
grep -q '^“drive.img” now installs Orvelo\.$' out.txt || fail "no ready text: $(cat out.txt)"
sgdisk -v drive.img | grep -q '^No problems found' || fail "the written drive does not verify"

echo "$((failures == 0 ? 1 : 0)) passed, $failures failed"
[ "$failures" -eq 0 ]
