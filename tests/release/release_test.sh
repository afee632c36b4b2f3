#!/usr/bin/env bash
# tools/package-release, end to end:
#  - it refuses a certificate and key that don't match, and a key that can't be read, before
#    building anything;
#  - a clean build of a copy of the source tree, in other folders and at another time, gives an
#    OrveloInstaller.exe and .debug byte-identical to this build's (the reproducibility check;
#    its duration is printed);
#  - a signed release verifies with its throwaway certificate as the trust anchor, stops
#    verifying after one changed byte, and signs exactly the reproducible exe's content.
# The signed release is left in WORK/signed for the Wine run of its exe (window_test.py
# product-window).
#   release_test.sh SOURCE_DIR PRODUCT_EXE WORK
set -euo pipefail
source_dir=$1
product=$2
work=$3
tool="$source_dir/tools/package-release"
rm -rf "$work"
mkdir -p "$work"
fail() {
    echo "FAILED: $*"
    exit 1
}

# A throwaway self-signed code-signing certificate, and a second key that isn't its.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvelo test code signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/other-key.pem" 2>/dev/null
openssl pkey -in "$work/key.pem" -aes256 -passout pass:secret -out "$work/encrypted-key.pem"
echo "not a key" >"$work/garbage.pem"

# Refusals: exit status 1, one line naming the problem, no release folder.
refusal() {
    local key=$1 expected=$2 status=0
    "$tool" "$work/refused" --sign "$work/cert.pem" "$key" >/dev/null 2>"$work/refusal.txt" ||
        status=$?
    [ "$status" -eq 1 ] || fail "$key: exit status $status, expected 1"
    [ "$(wc -l <"$work/refusal.txt")" -eq 1 ] && grep -q "$expected" "$work/refusal.txt" ||
        fail "$key: the message was: $(cat "$work/refusal.txt")"
    [ ! -e "$work/refused" ] || fail "$key: a release folder was made"
}
refusal "$work/other-key.pem" "is not the private key of"
refusal "$work/garbage.pem" "can't be read"
refusal "$work/encrypted-key.pem" "can't be read"
refusal "$work/missing.pem" "can't be read"

# The same commit from another source folder, built in another folder at another time.
mkdir "$work/copy"
(cd "$source_dir" && tar -cf - CMakeLists.txt CMakePresets.json cmake src res tools) |
    tar -xf - -C "$work/copy"
started=$(date +%s)
"$work/copy/tools/package-release" "$work/plain" >/dev/null
echo "reproducibility check: a clean build of the product took $(($(date +%s) - started)) s"
cmp "$work/plain/OrveloInstaller.exe" "$product" ||
    fail "OrveloInstaller.exe differs between two builds of the same source"
cmp "$work/plain/OrveloInstaller.exe.debug" "$product.debug" ||
    fail "OrveloInstaller.exe.debug differs between two builds of the same source"
(cd "$work/plain" && sha256sum --quiet -c SHA256SUMS) || fail "the unsigned release's SHA256SUMS"

# The signed release.
"$tool" "$work/signed" --sign "$work/cert.pem" "$work/key.pem" >/dev/null
[ "$(ls "$work/signed" | tr '\n' ' ')" = "OrveloInstaller.exe OrveloInstaller.exe.debug SHA256SUMS " ] ||
    fail "the release folder holds: $(ls "$work/signed")"
(cd "$work/signed" && sha256sum --quiet -c SHA256SUMS) || fail "the signed release's SHA256SUMS"
signed="$work/signed/OrveloInstaller.exe"
osslsigncode verify -in "$signed" -CAfile "$work/cert.pem" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "the signature does not verify"; }
grep -q '^Signature verification: ok' "$work/verify.txt" || fail "no 'ok' verdict"
grep -q '^Message digest algorithm  : SHA256' "$work/verify.txt" || fail "not signed with SHA-256"
echo "osslsigncode verify: $(grep '^Signature verification' "$work/verify.txt")"
# The content the signature covers is the reproducible exe's, byte for byte.
python3 "$source_dir/tools/compare-signed-exe" "$signed" "$product" >/dev/null ||
    fail "the signed exe is not the built exe"
# One changed byte in the code: the signature no longer holds.
cp "$signed" "$work/changed.exe"
python3 -c 'import sys
with open(sys.argv[1], "r+b") as exe:
    exe.seek(4096)
    byte = exe.read(1)[0]
    exe.seek(4096)
    exe.write(bytes([byte ^ 0xFF]))' "$work/changed.exe"
[ "$(cmp "$signed" "$work/changed.exe" | wc -l)" -eq 1 ] || fail "not one changed byte"
if osslsigncode verify -in "$work/changed.exe" -CAfile "$work/cert.pem" >"$work/changed.txt" 2>&1; then
    fail "a changed exe still verifies"
fi
grep -q 'Signature verification: failed\|MISMATCH' "$work/changed.txt" ||
    { cat "$work/changed.txt"; fail "the changed exe failed for another reason"; }
echo "a changed byte: $(grep -m1 'Signature verification\|MISMATCH' "$work/changed.txt")"
echo "release: passed"
