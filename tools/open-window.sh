#!/usr/bin/env bash
# open-window.sh [SIZE_MIB]: opens the installer's window under Wine on the current display
# (or on a virtual one, with a screenshot, when there is none) with a demo drive: a drive file
# of SIZE_MIB (default 256) shown as a USB stick on disk 9 by the test build of the program, and
# a local GPT image to write onto it. Closing the window ends the script; the written drive file
# is then checked by sgdisk.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup.sh"
cd "$ORVELO_ROOT"
size_mib=${1:-256}
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target OrveloInstallerTest >/dev/null
demo="$ORVELO_ROOT/build/demo-window"
mkdir -p "$demo"
bash tools/make-gpt-image.sh "$demo/image.img" 16
rm -f "$demo/drive.img"
truncate -s "${size_mib}M" "$demo/drive.img"
if [ -z "${DISPLAY:-}" ]; then
    trap orvelo_stop_wine EXIT
    orvelo_start_wine
    headless=1
else
    export WINEPREFIX="$ORVELO_ROOT/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    headless=0
fi
wine wineboot </dev/null >/dev/null 2>&1
ln -sfn "$demo/drive.img" "$WINEPREFIX/dosdevices/physicaldrive9"
echo "Opening the window: pick 'Wine Test Drive', press Create Installer, answer Yes."
if [ "$headless" = 1 ]; then
    wine build/mingw/tests/ui/OrveloInstallerTest.exe --image "Z:${demo//\//\\}\\image.img" &
    sleep 5
    import -window root "$demo/window.png"
    echo "No display: a screenshot of the window is in $demo/window.png"
    wine build/mingw/tests/ui/orvelo_inspector.exe close >/dev/null || true
    wait
else
    wine build/mingw/tests/ui/OrveloInstallerTest.exe --image "Z:${demo//\//\\}\\image.img"
    sgdisk -v "$demo/drive.img" || true
fi
rm -f "$WINEPREFIX/dosdevices/physicaldrive9"
