#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on a virtual display with the desktop accessibility bus running and Qt's
# bridge to it switched on, as on a desktop where a screen reader may listen:
#
#   dbus-run-session -- benchmarks/with_atspi.sh COMMAND [ARG...]
#
# Needs Xvfb and at-spi2-core (at-spi-bus-launcher). Exits with 77 when either cannot
# start, otherwise with the command's status.
set -uo pipefail

LAUNCHER=/usr/libexec/at-spi-bus-launcher
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "with_atspi.sh: no D-Bus session bus (run it under dbus-run-session)" >&2
    exit 77
fi
if ! command -v Xvfb >/dev/null || [ ! -x "$LAUNCHER" ]; then
    echo "with_atspi.sh: Xvfb or $LAUNCHER is missing" >&2
    exit 77
fi

fifo=$(mktemp -u /tmp/with_atspi.XXXXXX)
mkfifo "$fifo"
exec 3<>"$fifo"
rm -f "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
display=""
read -r -t 20 display <&3 || true
exec 3<&-
"$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
cleanup() {
    kill "$BUS_PID" "$XVFB_PID" 2>/dev/null
    wait "$BUS_PID" "$XVFB_PID" 2>/dev/null
}
trap cleanup EXIT
if [ -z "$display" ]; then
    echo "with_atspi.sh: Xvfb did not start" >&2
    exit 77
fi
# The accessibility bus announces itself on the session bus; wait until it answers.
for _ in $(seq 50); do
    if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress >/dev/null 2>&1; then break; fi
    sleep 0.1
done

DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 \
    "$@"
