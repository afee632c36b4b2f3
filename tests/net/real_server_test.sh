#!/usr/bin/env bash
# https_get through the system's real HTTP stack (libcurl natively, WinHTTP under Wine) against
# the local update server: the body, the limit, the status rule, a refused connection, a body
# broken off, stops, progress; then HTTPS with a test certificate that the system store trusts.
#   real_server_test.sh PROBE [RUNNER TRUST_TOOL]
# (RUNNER: tools/wine-exec for the Windows probe; TRUST_TOOL: trust_authority.exe, which puts the
# test authority into the Wine prefix's own Root store and takes it out again)
set -euo pipefail
probe=$1
runner=${2:-}
trust_tool=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
server_tool="$here/../../tools/update-server"
work=$(mktemp -d)
pids=()
anchor=/usr/local/share/ca-certificates/orvelo-test-authority.crt
trusted=""
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "$trusted" ]; then
        $runner "$trust_tool" remove "$trusted" || echo "the test authority stays in the prefix's store"
    fi
    if [ -f "$anchor" ]; then
        rm -f "$anchor"
        update-ca-certificates --fresh >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/site/installer"
head -c 65536 /dev/urandom >"$work/site/installer/latest"
head -c 65537 /dev/urandom >"$work/site/installer/over"
: >"$work/site/installer/empty"
head -c 300000 /dev/urandom >"$work/site/installer/blob"

# start_server NAME ARGS...: starts the server and sets $port.
start_server() {
    local name=$1; shift
    rm -f "$work/$name.port"
    python3 "$server_tool" "$work/site" --port-file "$work/$name.port" --lifetime 300 "$@" &
    pids+=($!)
    port=$("$here/../../tools/wait-for-port" "$work/$name.port" $!)
}

# expect URL PATH LIMIT STOP EXPECTED_FIRST_LINE [EXPECTED_PROGRESS]
expect() {
    local output
    output=$($runner "$probe" "$1" "$2" "$3" "$4" | tr -d '\r')
    local first=${output%%$'\n'*}
    local progress=${output#*$'\n'}
    if [ "$first" != "$5" ]; then
        fail "$1$2 (limit $3, stop $4): got '$first', want '$5'"
    elif [ $# -ge 6 ] && [ "$progress" != "progress $6" ]; then
        fail "$1$2: got '$progress', want 'progress $6'"
    else
        passes=$((passes + 1))
    fi
}

start_server plain
url="http://127.0.0.1:$port"
expect "$url" /installer/latest 65536 0 "body 65536"
expect "$url" /installer/over 65536 0 "error The server sent more than expected."
expect "$url" /installer/over 65537 0 "body 65537"
expect "$url" /installer/empty 10 0 "body 0" ""
expect "$url" /installer/missing 10 0 "error The server answered 404 for /installer/missing."
expect "$url" /installer/blob 300000 1 "error Stopped." ""
expect "$url" /installer/blob 300000 0 "body 300000"

start_server slow --slow 0.05
expect "http://127.0.0.1:$port" /installer/blob 300000 3 "error Stopped."

start_server status --status 503
expect "http://127.0.0.1:$port" /installer/latest 65536 0 "error The server answered 503 for /installer/latest."

# A body broken off after 1000 of the announced bytes. libcurl reports it as an error; Wine's
# WinHTTP ends the body there without one, and the client then hands over what it got (the
# callers' size and digest checks refuse it).
start_server cut --cut-after 1000
output=$($runner "$probe" "http://127.0.0.1:$port" /installer/blob 300000 0 | tr -d '\r' | head -1)
case "$output" in
    "error The download broke off: "*) passes=$((passes + 1)) ;;
    "body 1000") if [ -n "$runner" ]; then passes=$((passes + 1)); else fail "a body broken off: '$output'"; fi ;;
    *) fail "a body broken off: '$output'" ;;
esac

# Nothing listens on a port just used and closed.
refused_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
output=$($runner "$probe" "http://127.0.0.1:$refused_port" /installer/latest 10 0 | tr -d '\r' | head -1)
# The system's text ends with the code in brackets, or is "error N" where the system has no
# text for the code (Wine has none for the HTTP stack's codes).
case "$output" in
    "error Can't reach 127.0.0.1 — check the internet connection: "*")" | \
    "error Can't reach 127.0.0.1 — check the internet connection: error "[0-9]*)
        passes=$((passes + 1)) ;;
    *) fail "a refused connection: '$output'" ;;
esac

# HTTPS: a test authority the system store trusts, and a certificate for the DNS name localhost.
if [ "$(id -u)" = 0 ] && command -v update-ca-certificates >/dev/null; then
    cd "$work"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "/CN=Orvelo test authority" -keyout ca.key -out ca.crt 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
        -keyout server.key -out server.csr 2>/dev/null
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >ext.cnf
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile ext.cnf -out server.crt 2>/dev/null
    cp ca.crt "$anchor"
    update-ca-certificates >/dev/null 2>&1
    # Wine copies the host's authorities into the prefix on its own schedule: a request made
    # before it did so fails the handshake (12157), as was seen on a loaded machine. The
    # prefix's own store trusts the authority at once.
    if [ -n "$trust_tool" ]; then
        trusted="$work/ca.crt"
        $runner "$trust_tool" add "$trusted"
    fi
    start_server tls --tls server.crt server.key
    expect "https://localhost:$port" /installer/latest 65536 0 "body 65536"
    expect "https://localhost:$port" /installer/blob 300000 0 "body 300000"
    # A certificate by an authority the store does not hold is refused.
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "/CN=Untrusted authority" -keyout rogue-ca.key -out rogue-ca.crt 2>/dev/null
    openssl x509 -req -in server.csr -CA rogue-ca.crt -CAkey rogue-ca.key -CAcreateserial \
        -days 2 -extfile ext.cnf -out rogue.crt 2>/dev/null
    start_server rogue --tls rogue.crt server.key
    output=$($runner "$probe" "https://localhost:$port" /installer/latest 65536 0 | tr -d '\r' | head -1)
    case "$output" in
        "error Can't reach localhost — check the internet connection: "*) passes=$((passes + 1)) ;;
        *) fail "an untrusted certificate: '$output'" ;;
    esac
    rm -f "$anchor"
    update-ca-certificates --fresh >/dev/null 2>&1
else
    echo "not root: the HTTPS cases are left out"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
