#!/usr/bin/env bash
# The tool's main job, end to end on this machine. Installs what is missing first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ORVELO_ROOT"

orvelo_install_missing

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target OrveloInstaller
exe="$ORVELO_ROOT/build/mingw/src/app/OrveloInstaller.exe"
echo
echo "Built $exe"
tools/check-imports "$exe"
echo "The installer job is not built yet: this command builds the Windows program only."
