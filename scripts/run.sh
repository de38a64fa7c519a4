#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Tandrel and starts it.
#
# On the first run (no build/Tandrel.ini yet) it also sets up a demo that can send for
# real: a settings file pointing at a local test mail server on 127.0.0.1, and a demo
# field list, database and mail in build/demo/, where the program's file dialogs open. Whenever the settings point at a
# server on this machine that is not running, the test server is started for the
# length of the session; delivered mails are kept under build/mailbox/.
# An existing Tandrel.ini is never changed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build
INI=$BUILD/Tandrel.ini
MAILBOX=$BUILD/mailbox
SERVER_LOG=$BUILD/mailserver.log
# Debian's interpreter: it is the one that has python3-aiosmtpd.
PY=/usr/bin/python3
DEMO_PORT=2525

scripts/deps.sh

# A session started outside a desktop (a root shell, ssh) has no runtime folder; Qt would
# warn at every start and fall back to a shared one. Give it a private one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=/tmp/runtime-$(id -u)
    mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tandrel

listening() { # host port
    (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

free_port() {
    "$PY" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# ini_value SECTION KEY: the value as the program reads it (names without regard to case).
ini_value() {
    awk -v sec="$1" -v key="$2" '
        { sub(/\r$/, "") }
        /^[ \t]*\[/ { s = $0; gsub(/^[ \t]*\[|\][ \t]*$/, "", s); insec = (tolower(s) == tolower(sec)); next }
        insec {
            i = index($0, "="); if (i == 0) next
            k = substr($0, 1, i - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
            if (tolower(k) == tolower(key)) { v = substr($0, i + 1); gsub(/^[ \t]+|[ \t]+$/, "", v); print v; exit }
        }' "$INI"
}

write_demo() {
    local port=$DEMO_PORT
    if listening 127.0.0.1 "$port"; then port=$(free_port); fi
    scripts/demo/setup.sh "$BUILD" "$port"
    echo "First start: wrote $INI for a local test mail server on 127.0.0.1:$port,"
    echo "and a demo field list, database and mail in $BUILD/demo/."
}

[ -e "$INI" ] || write_demo

SERVER_PID=""
stop_server() {
    if [ -n "$SERVER_PID" ]; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
}
trap stop_server EXIT

host=$(ini_value Network smtp || true)
port=$(ini_value Network port || true)
case "$host" in
127.0.0.1 | localhost)
    if [[ "$port" =~ ^[0-9]+$ ]] && ! listening 127.0.0.1 "$port"; then
        mkdir -p "$MAILBOX/new" "$MAILBOX/cur" "$MAILBOX/tmp" # a maildir
        "$PY" -u -m aiosmtpd -n -d -l "127.0.0.1:$port" -c aiosmtpd.handlers.Mailbox "$MAILBOX" \
            >"$SERVER_LOG" 2>&1 &
        SERVER_PID=$!
        for _ in $(seq 50); do
            listening 127.0.0.1 "$port" && break
            kill -0 "$SERVER_PID" 2>/dev/null || break
            sleep 0.2
        done
        if listening 127.0.0.1 "$port"; then
            echo "Test mail server listening on 127.0.0.1:$port."
            echo "Delivered mails are stored one file per message in $MAILBOX/new/"
        else
            echo "The test mail server did not start; see $SERVER_LOG" >&2
            SERVER_PID=""
        fi
    elif [[ "$port" =~ ^[0-9]+$ ]]; then
        echo "A mail server already listens on 127.0.0.1:$port; Tandrel sends to it."
        [ -d "$MAILBOX" ] && echo "If it is the test server, delivered mails are in $MAILBOX/new/"
    fi
    ;;
esac

status=0
build/tandrel "$@" || status=$?
exit "$status"
