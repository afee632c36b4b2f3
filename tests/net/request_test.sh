#!/usr/bin/env bash
# The libcurl side of https_get against the local update server, as the server sees it: the
# request on the wire (host, port and path as given, no header beyond the user agent), redirects
# (followed up to 10, never from https to http, only the last answer's status and body count),
# and the receive timeout measured from the last byte.
#   request_test.sh PROBE [timeout]   (with "timeout": only the receive timeout's case, ~60 s)
set -euo pipefail
probe=$(realpath "$1")
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
server_tool="$here/../../tools/update-server"
work=$(mktemp -d)
pids=()
anchor=/usr/local/share/ca-certificates/orvelo-request-test-authority.crt
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -f "$anchor" ]; then
        rm -f "$anchor"
        update-ca-certificates --fresh >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }

mkdir -p site/installer
head -c 300000 /dev/urandom >site/installer/blob
printf 'manifest\n' >site/installer/latest

# start_server NAME ARGS...: starts the server recording the wire in NAME.wire; sets $port.
start_server() {
    local name=$1; shift
    rm -f "$name.port"
    : >"$name.wire"
    python3 "$server_tool" site --port-file "$name.port" --wire "$name.wire" --lifetime 300 "$@" &
    pids+=($!)
    port=$("$here/../../tools/wait-for-port" "$name.port" $!)
}
# get URL PATH LIMIT: the probe's first line in $first, its progress line in $progress.
get() {
    local output
    output=$("$probe" "$1" "$2" "$3")
    first=${output%%$'\n'*}
    progress=${output#*$'\n'}
}
requests() { grep -c '^GET ' "$1.wire" || true; }

if [ "$mode" = timeout ]; then
    # 1000 body bytes, then silence: the read fails 60 s after the last byte.
    start_server stall --stall-after 1000
    started=$(date +%s%N)
    get "http://127.0.0.1:$port" /installer/blob 300000
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    case "$first" in
        "error The download broke off: "*) pass ;;
        *) fail "a stalled body: '$first'" ;;
    esac
    if [ "$elapsed_ms" -ge 59500 ] && [ "$elapsed_ms" -lt 63000 ]; then pass; else fail "timed out after $elapsed_ms ms"; fi
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
fi

# ---- The request on the wire ----
start_server plain
get "http://127.0.0.1:$port" /installer/latest 100
[ "$first" = "body 9" ] && pass || fail "plain get: $first"
# Exactly the request line, Host and User-Agent.
printf 'GET /installer/latest HTTP/1.1\nHost: 127.0.0.1:%s\nUser-Agent: Orvelo Installer/1.0\n\n' "$port" >expected.wire
cmp -s expected.wire plain.wire && pass || fail "the request on the wire: $(cat -A plain.wire)"

# Dot segments and doubled slashes go out as written.
: >plain.wire
get "http://127.0.0.1:$port" /installer/./latest 100
[ "$first" = "body 9" ] && pass || fail "a dot segment: $first"
get "http://127.0.0.1:$port" /installer/../installer//latest 100
head -1 plain.wire | grep -qx 'GET /installer/./latest HTTP/1.1' &&
    grep -qx 'GET /installer/../installer//latest HTTP/1.1' plain.wire && pass ||
    fail "dot segments were changed: $(grep '^GET' plain.wire)"

# Host forms that are no host: user information, a fragment or a query before the port. None
# may reach the server; each is a host that can't be reached.
: >plain.wire
for server in "http://user:pw@127.0.0.1:$port" "http://127.0.0.1:$port#:1" "http://127.0.0.1:$port?:1"; do
    get "$server" /installer/latest 100
    host=${server#http://}
    host=${host%:*}
    case "$first" in
        "error Can't reach $host: "*) pass ;;
        *) fail "$server: '$first'" ;;
    esac
done
[ "$(requests plain)" = 0 ] && pass || fail "a host form reached the server: $(cat plain.wire)"

# ---- Redirects ----
# A chain of 2: three requests, and only the last answer's body counts, for the limit too.
start_server two --redirect 2
get "http://127.0.0.1:$port" /installer/blob 300000
[ "$first" = "body 300000" ] && [ "${progress##*,}" = 300000 ] && pass ||
    fail "a chain of 2: $first (${progress:0:80})"
[ "$(grep '^GET' two.wire | tr -d '\r')" = "$(printf 'GET /installer/blob HTTP/1.1\nGET /hop/1/installer/blob HTTP/1.1\nGET /hop/0/installer/blob HTTP/1.1')" ] &&
    pass || fail "the chain's requests: $(grep '^GET' two.wire)"
# Each redirect status that is followed; 300 (a choice) is an answer of its own.
for status in 301 302 303 307 308; do
    start_server "status$status" --redirect 1 --redirect-status "$status"
    get "http://127.0.0.1:$port" /installer/latest 100
    [ "$first" = "body 9" ] && pass || fail "redirect $status: $first"
done
start_server status300 --redirect 1 --redirect-status 300
get "http://127.0.0.1:$port" /installer/latest 100
[ "$first" = "error The server answered 300 for /installer/latest." ] && pass || fail "300: $first"
[ "$(requests status300)" = 1 ] && pass || fail "300 was followed"
# 10 are followed, 11 are too many.
start_server ten --redirect 10
get "http://127.0.0.1:$port" /installer/latest 100
[ "$first" = "body 9" ] && pass || fail "a chain of 10: $first"
start_server eleven --redirect 11
get "http://127.0.0.1:$port" /installer/latest 100
case "$first" in
    "error Can't reach 127.0.0.1 — check the internet connection: "*) pass ;;
    *) fail "a chain of 11: '$first'" ;;
esac
[ "$(requests eleven)" = 11 ] && pass || fail "a chain of 11 made $(requests eleven) requests"

# https to http is never followed: a trusted certificate for localhost redirecting to a plain
# server.
if [ "$(id -u)" = 0 ] && command -v update-ca-certificates >/dev/null; then
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "/CN=Orvelo request test authority" -keyout ca.key -out ca.crt 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
        -keyout server.key -out server.csr 2>/dev/null
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >ext.cnf
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -extfile ext.cnf -out server.crt 2>/dev/null
    cp ca.crt "$anchor"
    update-ca-certificates >/dev/null 2>&1
    start_server target
    plain_port=$port
    start_server secure_same --tls server.crt server.key --redirect 2
    get "https://localhost:$port" /installer/latest 100
    [ "$first" = "body 9" ] && pass || fail "https to https: $first"
    start_server downgrade --tls server.crt server.key --redirect 1 --redirect-to "http://127.0.0.1:$plain_port"
    get "https://localhost:$port" /installer/latest 100
    case "$first" in
        "error Can't reach localhost — check the internet connection: "*) pass ;;
        *) fail "https to http: '$first'" ;;
    esac
    [ "$(requests target)" = 0 ] && pass || fail "the plain server was asked: $(cat target.wire)"
else
    echo "not root: the https cases are left out"
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
