#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# CUPS's ipptool conformance files (ipp-1.1, ipp-2.0, ipp-everywhere) against
# the printer application as a user runs it: the simulated printer on the
# network, the server on a free loopback port with its web interface, the
# printer added with the `add` sub-command, the web interface's pages (the
# system, the printer, its printing defaults with darkness and scale), then
# ipptool-conformance.sh. Run as root, the server and
# its sub-commands run as nobody (PAPPL's control socket of a root server is
# one fixed path; a user's is in its TMPDIR, here the test's own directory).
#
# Usage: ipptool-against-app.sh BIN_DIR [KEEP_DIR]
#   BIN_DIR   where rvt4410lw-printer-app and rvt4410lw-sim are
#   KEEP_DIR  keep the reports there (default: a temporary directory, removed)
set -euo pipefail

bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/rvt-ipptool.XXXXXX")
chmod 0777 "$work"
keep=${2:-}

as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
app() { "${as_user[@]}" env TMPDIR="$work" HOME="$work" "$bin/rvt4410lw-printer-app" "$@"; }

sim_pid=""
server_pid=""
cleanup() {
    # SIGTERM: the server ends its jobs and stops at once (the shutdown
    # sub-command would wait for the server's next wake-up).
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$server_pid" 2>/dev/null || true
    fi
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -n "$keep" ]; then
        mkdir -p "$keep" && cp -r "$work/reports" "$work/app.log" "$keep/" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# The printer.
"$bin/rvt4410lw-sim" --listen 127.0.0.1:0 --out "$work/printer" --no-preview >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    sim_port=$(sed -n 's/^rvt4410lw-sim: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.log" 2>/dev/null || true)
    [ -z "$sim_port" ] || break
    sleep 0.1
done
[ -n "$sim_port" ] || { echo "the simulated printer did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

# The application, its printer, and a second for the printer's up-time,
# which one test wants above 0.
port=$(free_port)
# Started directly (not through app()), so that $! is the server itself.
"${as_user[@]}" env TMPDIR="$work" HOME="$work" "$bin/rvt4410lw-printer-app" \
    server -o listen-hostname=127.0.0.1 -o server-port="$port" -o server-options=no-tls \
    -o spool-directory="$work/spool" -o state-file="$work/app.state" \
    -o log-file="$work/app.log" -o log-level=info >"$work/server.out" 2>&1 &
server_pid=$!
# The sub-commands reach the server through its control socket, made a
# moment after the IPP port: one run before it is there would start a server
# of its own (PAPPL's auto-start) and talk to that.
uid=$(id -u)
[ "$uid" -ne 0 ] || uid=$(id -u nobody)
for _ in $(seq 100); do
    [ -S "$work/rvt4410lw-printer-app$uid.sock" ] &&
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.out" >&2; exit 1; }
    sleep 0.1
done
app add -d rvt -v "socket://127.0.0.1:$sim_port" -m rvt4410lw
sleep 2

# get PATH: the page's status line and body in $work/page.
get() {
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
    cat <&3 >"$work/page"
    exec 3<&-
}
for page in / /rvt /rvt/printing /rvt/media; do
    get "$page"
    head -n 1 "$work/page" | grep -q ' 200 ' ||
        { echo "web interface: $page: $(head -n 1 "$work/page")" >&2; exit 1; }
done
get /rvt/printing
for option in print-darkness rvt-scale; do
    grep -q "name=\"$option\"" "$work/page" ||
        { echo "web interface: the printing defaults have no $option" >&2; exit 1; }
done
kill -0 "$server_pid" 2>/dev/null || { echo "web interface: the server ended" >&2; exit 1; }
echo "web interface: /, /rvt, /rvt/printing (darkness, scale), /rvt/media: served"

"$here/make-ipptool-samples.sh" "$work/samples" >/dev/null
"$here/ipptool-conformance.sh" "ipp://127.0.0.1:$port/ipp/print/rvt" "$work/reports" \
    --samples "$work/samples"
