#!/usr/bin/env bash
# The exe as the build ships it: no debug sections, a debug link to its .debug file (right name,
# right CRC-32) through which an address resolves to a source line, no build folder in either
# file, a zero PE time stamp, and the version resource with the project's version.
#   shipped_exe_test.sh EXE VERSION SOURCE_DIR BUILD_DIR
set -euo pipefail
exe=$1
version=$2
source_dir=$3
build_dir=$4
tools=x86_64-w64-mingw32-
fail() {
    echo "FAILED: $*"
    exit 1
}

sections=$(${tools}objdump -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
if echo "$sections" | grep -q '^\.debug'; then
    fail "debug sections in the shipped exe: $(echo $sections)"
fi
echo "$sections" | grep -qx '\.gnu_debuglink' || fail "no debug link"

# The link: the file's name, zero-padded to 4 bytes, then the CRC-32 of the file's bytes.
python3 - "$exe" <<'PYTHON' || fail "the debug link does not name the .debug file beside the exe"
import subprocess, sys, zlib
exe = sys.argv[1]
headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", exe], stdout=subprocess.PIPE,
                         check=True).stdout.decode().split("\n")
fields = next(line.split() for line in headers if " .gnu_debuglink " in line)
size, offset = int(fields[2], 16), int(fields[5], 16)
with open(exe, "rb") as image:
    image.seek(offset)
    link = image.read(size)
name = link.partition(b"\0")[0]
crc = int.from_bytes(link[-4:], "little")
with open(exe + ".debug", "rb") as debug:
    actual = zlib.crc32(debug.read())
print("debug link:", name.decode(), "crc %08x, file crc %08x" % (crc, actual))
sys.exit(0 if name == b"OrveloInstaller.exe.debug" and crc == actual else 1)
PYTHON

# A crash address inside the window's colour step resolves to its source line.
address=$(${tools}nm "$exe.debug" | awk '/static_colours/ { address = $1 } END { print address }')
[ -n "$address" ] || fail "no symbol for the colour step in the debug file"
line=$(${tools}addr2line -e "$exe.debug" "0x$address")
case "$line" in
    /orvelo/src/ui/main_window.cpp:[0-9]*) echo "0x$address: $line" ;;
    *) fail "0x$address resolves to '$line'" ;;
esac

for file in "$exe" "$exe.debug"; do
    for folder in "$source_dir" "$build_dir"; do
        if grep -qF "$folder" "$file"; then fail "$file names $folder"; fi
    done
done
stamp=$(${tools}objdump -p "$exe" | sed -n 's/^Time\/Date[[:space:]]*//p')
[ "$stamp" = "Thu Jan  1 00:00:00 1970" ] || fail "the PE header has a time stamp: $stamp"

IFS=. read -r major minor patch <<<"$version"
${tools}windres -i "$exe" -O rc >"${TMPDIR:-/tmp}/orvelo-version.$$.rc"
resource=$(sed -n '/VERSIONINFO/,/^END/p' "${TMPDIR:-/tmp}/orvelo-version.$$.rc")
rm -f "${TMPDIR:-/tmp}/orvelo-version.$$.rc"
for expected in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
    'VALUE "CompanyName", "Orvelo"' 'VALUE "FileDescription", "Orvelo Installer"' \
    "VALUE \"FileVersion\", \"$version\"" 'VALUE "OriginalFilename", "OrveloInstaller.exe"' \
    'VALUE "ProductName", "Orvelo Installer"' "VALUE \"ProductVersion\", \"$version\"" \
    'VALUE "Translation", 0x409, 1200'; do
    echo "$resource" | grep -qF "$expected" || fail "the version resource lacks: $expected"
done
echo "shipped exe: passed"
