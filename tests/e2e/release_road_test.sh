#!/usr/bin/env bash
# The download road end to end on Linux: a release published with the development key and
# served by the local update server, written by `orvelo write --server … --dev`, with the cache
# in root's cache folder (or under XDG_CACHE_HOME without root); the misbehaving server's
# failures reach the user with their texts; a body that breaks off is continued with range
# requests, within the job and by the next one; and a cache folder that another account could
# turn elsewhere is not used.
key=$(realpath "$2")
source "$(dirname "$0")/lib.sh" "$1"

bash "$tools/make-gpt-image.sh" image.img 16
python3 "$tools/publish-release" image.img 1.2 "$key" site --build 5 --issued 1765000000 >/dev/null
image_file=$(sed -n 's/^file \([^ ]*\) .*/\1/p' site/installer/latest)
file_digest=$(sed -n 's/^file [^ ]* \([0-9a-f]*\) .*/\1/p' site/installer/latest)

serve() {  # NAME ARGS...: the release folder served; sets $url
    local name=$1; shift
    start_server "$name" site "$@"
}

# write NAME ARGS...: a fresh 64 MB drive file; sets $status, output in NAME.out and NAME.err.
write() {
    local name=$1; shift
    rm -f "$name.drive"
    truncate -s 64M "$name.drive"
    status=0
    run_orvelo write --drive "$name.drive" --yes "$@" >"$name.out" 2>"$name.err" || status=$?
}
untouched_drive() { untouched "$1.drive"; }

# check-manifest reads the published manifest, and refuses a changed one.
"$orvelo" check-manifest site/installer/latest --dev >check.out && grep -qx 'version 1.2' check.out &&
    grep -qx "file path $image_file" check.out && pass || fail "check-manifest: $(cat check.out)"
status=0; "$orvelo" check-manifest site/installer/latest 2>check.err || status=$?
[ "$status" = 1 ] && grep -qx "The download isn't signed by Orvelo." check.err && pass ||
    fail "check-manifest without --dev: $status $(cat check.err)"
sed 's/^version 1.2$/version 1.3/' site/installer/latest >changed.txt
status=0; "$orvelo" check-manifest changed.txt --dev 2>check.err || status=$?
[ "$status" = 1 ] && grep -qx "The download isn't signed by Orvelo." check.err && pass ||
    fail "a changed manifest: $status $(cat check.err)"

serve good
write first --server "$url" --dev
if [ "$status" = 0 ] && grep -q "^“$work/first.drive” now installs Orvelo (it fetches the newest version, 1.2 today)\.$" first.out; then pass; else fail "download road: $status $(cat first.out first.err)"; fi
sgdisk -v first.drive | grep -q '^No problems found' && pass || fail "the written drive does not verify"
cmp -s "cache/orvelo-installer/$file_digest.img.z" "site/$image_file" && pass || fail "the download was not cached"
grep -qx "/$image_file" good.log && pass || fail "the image was not requested"
[ "$(stat -c %a cache/orvelo-installer)" = 700 ] && pass || fail "the cache folder is not private"
[ ! -e tmp/orvelo-installer ] && pass || fail "TMPDIR chose the cache"

# The second run takes the image from the cache.
: >good.log
write second --server "$url" --dev
[ "$status" = 0 ] && pass || fail "from the cache: $(cat second.err)"
grep -qx "/installer/latest" good.log && ! grep -q "/$image_file" good.log && pass ||
    fail "the cached image was downloaded again: $(cat good.log)"

# Without --dev the development signature is not trusted; nothing is written.
write unsigned --server "$url"
[ "$status" = 1 ] && grep -qx "The download isn't signed by Orvelo." unsigned.err && untouched_drive unsigned && pass ||
    fail "without --dev: $status $(cat unsigned.err)"

# A cache file changed by one byte is downloaded again and overwritten.
printf '\x01' | dd of="cache/orvelo-installer/$file_digest.img.z" bs=1 seek=100 conv=notrunc status=none
: >good.log
write recached --server "$url" --dev
[ "$status" = 0 ] && grep -q "/$image_file" good.log && cmp -s "cache/orvelo-installer/$file_digest.img.z" "site/$image_file" &&
    pass || fail "a damaged cache file: $status $(cat recached.err)"

rm -rf cache/orvelo-installer
serve missing --status 404 --image-only
write missing --server "$url" --dev
[ "$status" = 1 ] && grep -qx "The server answered 404 for /$image_file." missing.err && untouched_drive missing && pass ||
    fail "404 for the image: $status $(cat missing.err)"

serve longer --extra-bytes 1 --image-only
write longer --server "$url" --dev
[ "$status" = 1 ] && grep -qx "The download is damaged. Try again." longer.err && untouched_drive longer && pass ||
    fail "one byte too long: $status $(cat longer.err)"
# A download that fails its checks is never kept as the release's cache file.
[ ! -e "cache/orvelo-installer/$file_digest.img.z" ] && pass || fail "the long download was kept in the cache"
serve again
write again --server "$url" --dev
[ "$status" = 0 ] && grep -q "/$image_file" again.log && pass || fail "after a long download: $status $(cat again.err)"

# A body cut twice is continued with range requests within the one job.
file_size=$(stat -c %s "site/$image_file")
image_answers() { awk -v path="/$image_file" '$2 == path { print $1, $3, $4 }' "$1"; }
rm -rf cache/orvelo-installer
serve cut --cut-after 2000 --cuts 2 --image-only --sent cut.sent
write cut --server "$url" --dev
[ "$status" = 0 ] && sgdisk -v cut.drive | grep -q '^No problems found' && pass ||
    fail "a body cut twice: $status $(cat cut.err)"
[ "$(image_answers cut.sent)" = "200 - 2000
206 bytes=2000- 2000
206 bytes=4000- $((file_size - 4000))" ] && pass || fail "the answers to a body cut twice: $(cat cut.sent)"

# A body that always breaks off at the same byte fails after five more tries and leaves what
# came; the next job asks only for the rest, and a foreign file in the cache folder stays.
rm -rf cache/orvelo-installer
serve stuck --cut-at 3000 --image-only --sent stuck.sent
write stuck --server "$url" --dev
[ "$status" = 1 ] && grep -q "^The download broke off: " stuck.err && untouched_drive stuck && pass ||
    fail "a body that always breaks off: $status $(cat stuck.err)"
[ "$(image_answers stuck.sent)" = "200 - 3000
$(for _ in 1 2 3 4 5; do echo "206 bytes=3000- 0"; done)" ] && pass || fail "the tries: $(cat stuck.sent)"
head -c 3000 "site/$image_file" >head.part
cmp -s "cache/orvelo-installer/$file_digest.img.z.partial" head.part && pass || fail "the part was not kept"
[ ! -e "cache/orvelo-installer/$file_digest.img.z" ] && pass || fail "a part was taken for the file"
printf 'mine\n' >cache/orvelo-installer/notes.txt
serve rest --sent rest.sent
write rest --server "$url" --dev
[ "$status" = 0 ] && [ "$(image_answers rest.sent)" = "206 bytes=3000- $((file_size - 3000))" ] && pass ||
    fail "the next job after a part: $status $(cat rest.err rest.sent)"
cmp -s "cache/orvelo-installer/$file_digest.img.z" "site/$image_file" &&
    [ ! -e "cache/orvelo-installer/$file_digest.img.z.partial" ] && pass || fail "the part did not become the file"
[ "$(cat cache/orvelo-installer/notes.txt)" = mine ] && pass || fail "a foreign file was touched"

# A part with a changed byte costs one download from the start, and the job succeeds.
rm -f "cache/orvelo-installer/$file_digest.img.z"
cp head.part "cache/orvelo-installer/$file_digest.img.z.partial"
printf '\x01' | dd of="cache/orvelo-installer/$file_digest.img.z.partial" bs=1 seek=100 conv=notrunc status=none
serve corrupt --sent corrupt.sent
write corrupt --server "$url" --dev
[ "$status" = 0 ] && [ "$(image_answers corrupt.sent)" = "206 bytes=3000- $((file_size - 3000))
200 - $file_size" ] && pass || fail "a corrupt part: $status $(cat corrupt.err corrupt.sent)"
cmp -s "cache/orvelo-installer/$file_digest.img.z" "site/$image_file" &&
    [ ! -e "cache/orvelo-installer/$file_digest.img.z.partial" ] && pass || fail "after a corrupt part"

write nowhere --server "ftp://127.0.0.1"
[ "$status" = 1 ] && grep -qx "ftp://127.0.0.1 is not a server address." nowhere.err && pass ||
    fail "not a server address: $(cat nowhere.err)"

# Ctrl-C during a download stops the job; no failure box text, the drive untouched. The server
# sends the image's first 3000 bytes and then nothing for as long as the job would wait (a
# minute): the test sees those bytes sent before it stops the job, so the stop always lands
# while the download is under way.
rm -rf cache/orvelo-installer
serve slow --stall-after 3000 --image-only --sent slow.sent
rm -f stop.drive; truncate -s 64M stop.drive
"${orvelo_command[@]}" write --drive stop.drive --server "$url" --dev --yes >stop.out 2>stop.err &
writer=$!
pids+=("$writer")
if wait_for_line slow.sent "^200 /$image_file " "$writer" "Ctrl-C: the download" &&
    interrupt "Ctrl-C during a download" "$writer"; then
    status=0; wait "$writer" || status=$?
    [ "$status" = 1 ] && grep -qx "The installer wasn't made." stop.out && [ ! -s stop.err ] && untouched_drive stop && pass ||
        fail "Ctrl-C: $status $(cat stop.out stop.err)"
fi

serve good
if ! is_root; then
    # Without XDG_CACHE_HOME the cache lives in $HOME/.cache, made private when missing.
    mkdir -p home
    status=0
    env -u XDG_CACHE_HOME HOME="$work/home" "$orvelo" write --drive second.drive --yes --server "$url" --dev \
        >home.out 2>home.err || status=$?
    [ "$status" = 0 ] && cmp -s "home/.cache/orvelo-installer/$file_digest.img.z" "site/$image_file" &&
        [ "$(stat -c %a home/.cache)" = 700 ] && pass || fail "the cache under HOME: $status $(cat home.err)"
fi

# A cache that another account could turn elsewhere: each time the job succeeds without the
# cache, and the file a link points to keeps its bytes.
printf 'precious\n' >victim
mkdir -p elsewhere
cache_attack() {  # NAME: the cache folder has been arranged; runs the job and checks
    local name=$1
    : >good.log
    write "$name" --server "$url" --dev
    [ "$status" = 0 ] && grep -qx "/$image_file" good.log && pass ||
        fail "$name: the job did not download and succeed: $status $(cat "$name.err")"
    [ "$(cat victim)" = precious ] && pass || fail "$name: the link's target was written"
    [ -z "$(ls -A elsewhere)" ] && pass || fail "$name: a file appeared where the link points"
}
fresh_folder() {  # MODE: an empty cache folder of our own with that mode
    rm -rf cache/orvelo-installer
    mkdir cache/orvelo-installer
    chmod "$1" cache/orvelo-installer
}
fresh_folder 700
ln -s "$work/victim" "cache/orvelo-installer/$file_digest.img.z"
cache_attack planted-link
[ -L "cache/orvelo-installer/$file_digest.img.z" ] && pass || fail "planted-link: the link was replaced"

rm -rf cache/orvelo-installer
ln -s "$work/elsewhere" cache/orvelo-installer
cache_attack linked-folder

fresh_folder 770
ln -s "$work/victim" "cache/orvelo-installer/$file_digest.img.z"
cache_attack group-writable
# Such a folder is not used at all, even when nothing is planted in it yet.
fresh_folder 770
cache_attack group-writable-empty
[ -z "$(ls -A cache/orvelo-installer)" ] && pass || fail "group-writable: the folder was used"

if [ "$(id -u)" = 0 ]; then
    fresh_folder 700
    ln -s "$work/victim" "cache/orvelo-installer/$file_digest.img.z"
    chown -h nobody "cache/orvelo-installer/$file_digest.img.z"
    chown nobody cache/orvelo-installer
    cache_attack foreign-owner
    fresh_folder 700
    chown nobody cache/orvelo-installer
    cache_attack foreign-owner-empty
    [ -z "$(ls -A cache/orvelo-installer)" ] && pass || fail "foreign-owner: the folder was used"
else
    echo "not root: the folder owned by another account is left out"
fi

# A FIFO at the cache file's name does not hang the job: no cache.
fresh_folder 700
mkfifo "cache/orvelo-installer/$file_digest.img.z"
truncate -s 64M fifo.drive
: >good.log
status=0
"${orvelo_command[@]}" write --drive fifo.drive --yes --server "$url" --dev >fifo.out 2>fifo.err &
writer=$!
pids+=("$writer")
for _ in $(seq 600); do kill -0 "$writer" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$writer" 2>/dev/null || true
wait "$writer" || status=$?
[ "$status" = 0 ] && grep -qx "/$image_file" good.log && [ -p "cache/orvelo-installer/$file_digest.img.z" ] &&
    pass || fail "a FIFO at the cache name: $status $(cat fifo.err)"

finish
