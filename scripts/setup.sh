# Sourced by the README's commands: installs what is missing (Debian 12, as root) and offers
# helpers to run Windows programs under Wine with a display of their own.

ORVELO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
ORVELO_PACKAGES="cmake ninja-build g++ git python3 googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    wine wine64 fonts-wine xvfb xdotool imagemagick
    zlib1g-dev libdeflate-dev libssl-dev libcurl4-openssl-dev openssl ca-certificates e2fsprogs
    gdisk dosfstools mtools clang-16 libclang-rt-16-dev lld-16 qemu-system-x86 ovmf
    osslsigncode"

orvelo_install_missing() {
    local missing=()
    local package
    for package in $ORVELO_PACKAGES; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
}

# A Wine prefix of the build's own, its server started before any test (otherwise the services
# the first wine call spawns inherit a test's output pipe and every test waits for them), and a
# virtual display for windows. orvelo_stop_wine undoes it all.
orvelo_start_wine() {
    export WINEPREFIX="$ORVELO_ROOT/build/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local display=99
    while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    ORVELO_XVFB_PID=$!
    export DISPLAY=":$display"
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine wineboot </dev/null >/dev/null 2>&1
}

orvelo_stop_wine() {
    wineserver -k 2>/dev/null || true
    if [ -n "${ORVELO_XVFB_PID:-}" ]; then
        kill "$ORVELO_XVFB_PID" 2>/dev/null || true
        wait "$ORVELO_XVFB_PID" 2>/dev/null || true
    fi
}
