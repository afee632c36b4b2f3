#!/usr/bin/env bash
# The Linux front end's contract: usage errors exit 2, failures exit 1 with the catalogue's text,
# the erase question guards the drive, and success prints the ready texts.
version=$2
source "$(dirname "$0")/lib.sh" "$1"
expect_status() {  # expected status, then the command
    local expected=$1; shift
    local status=0
    "$@" >out.txt 2>err.txt </dev/null || status=$?
    [ "$status" = "$expected" ] || fail "$* exited $status, not $expected: $(cat out.txt err.txt)"
}

bash "$tools/make-gpt-image.sh" image.img 16
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
# The local image is read before anyone is asked: a missing one, or one that is no regular file
# (a FIFO would hold open() for ever), is refused with its own line and nothing is asked.
expect_status 1 "$orvelo" write --drive drive.img --image 'no such.img'
[ "$(cat err.txt)" = "no such.img can't be read." ] && [ ! -s out.txt ] || fail "missing image: $(cat out.txt err.txt)"
mkfifo image.fifo
expect_status 1 timeout 10 "$orvelo" write --drive drive.img --image image.fifo
[ "$(cat err.txt)" = "image.fifo is not a regular file." ] || fail "FIFO image: $(cat err.txt)"
printf 'not an image' >bad.img
expect_status 1 "$orvelo" write --drive drive.img --image bad.img
[ "$(cat err.txt)" = "bad.img isn't an Orvelo installer image." ] && [ ! -s out.txt ] ||
    fail "bad image: $(cat out.txt err.txt)"
untouched drive.img || fail "a refused image touched the drive"

# Without --yes the question is asked; anything but yes leaves the drive alone.
status=0
printf 'n\n' | "$orvelo" write --drive drive.img --image image.img >out.txt 2>&1 || status=$?
[ "$status" = 1 ] || fail "declined erase exited $status"
grep -qx 'Overwrite this file?' out.txt &&
    grep -q "^The file “$work/drive.img” (67 MB) will be overwritten with the Orvelo installer\.$" out.txt ||
    fail "question: $(cat out.txt)"
[ -z "$(tr -d '\0' <drive.img | head -c 1)" ] || fail "a declined drive was written"

printf 'y\n' | "$orvelo" write --drive drive.img --image image.img >out.txt 2>&1 || fail "confirmed write failed"
grep -qx 'The Orvelo installer is ready' out.txt || fail "no ready caption: $(cat out.txt)"
grep -q "^“$work/drive.img” now installs Orvelo\.$" out.txt || fail "no ready text: $(cat out.txt)"
sgdisk -v drive.img | grep -q '^No problems found' || fail "the written drive does not verify"

finish
