#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures Tandrel's mailing run against two peers on this machine and prints a table of
# medians and ratios (Markdown, ready for docs/performance.md). The headline comes first:
#   - bench_send_ui: a real Send through the preparation and delivery windows (offscreen)
#     beside the same run without windows, UI_MESSAGES messages (default 5000), best of
#     UI_RUNS (default 3); the ratio windows / headless is what users feel. Alternating
#     with it, the same on a virtual X display (Xvfb) with the desktop accessibility bus
#     running and Qt's bridge to it on (benchmarks/with_atspi.sh), when Xvfb, dbus and
#     at-spi2-core are installed; medians of ROUNDS
# then the comparisons with the peers:
#   - tandrel-bench: the program's own loading, preparation and SMTP dialogue, no windows
#   - smtp-source:   Postfix's load generator, same message count and size, one connection
#   - the Python mail merge in benchmarks/peers/mailmerge.py, one connection
# All of them deliver to one smtp-sink on a free loopback port. The runs of one scenario
# alternate between the three, ROUNDS times (default 3).
#
# Scenarios: 1000 people with a 100 KB attachment; 10 000 people without, with HELO and
# with EHLO and PIPELINING; 5000 people each with a 100 KB file of their own, delivered
# (peak memory); 200 000 people with one shared 1 MB attachment (preparation, then
# S3_DELIVER_S seconds of delivery, default 60: peak memory); 1 000 000 people with the
# same attachment (preparation: peak memory); loading and preparing
# 10 000 against 100 000 people, and delivering to 100 000 against the 10 000 run
# (growth). The machine's load average is printed at the start and the end.
#
# A relay far away: RELAY_MESSAGES small messages (default 300) through
# benchmarks/peers/delay_proxy.py, which delays each direction by RELAY_DELAY_MS (default
# 10, so 20 ms per round trip), with the default dialogue, with ehlo=yes on one
# connection and on four, beside smtp-source -d -s 1 and -s 4. RELAY_ONLY=1 runs only
# these (a few minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

ROUNDS=${ROUNDS:-3}
PY=/usr/bin/python3
SINK=/usr/sbin/smtp-sink
SOURCE=/usr/sbin/smtp-source
SENDER=you@provider.example
BUILD=$ROOT/build/rel
BENCH=$BUILD/tandrel-bench
UI_MESSAGES=${UI_MESSAGES:-5000}
UI_RUNS=${UI_RUNS:-3}
S3_DELIVER_S=${S3_DELIVER_S:-60}
EXTRA="" # further options of tandrel-bench for one scenario (EXTRA=--ehlo scenario ...)
RELAY_MESSAGES=${RELAY_MESSAGES:-300}
RELAY_DELAY_MS=${RELAY_DELAY_MS:-10}
RELAY_ONLY=${RELAY_ONLY:-0}
TARGET_PORT="" # where the clients connect when not to the sink itself (the delay proxy)
SESSIONS=1     # smtp-source's parallel sessions

scripts/deps.sh

echo "== building (Release, $BUILD)" >&2
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTANDREL_BENCHMARKS=ON -DTANDREL_TESTS=OFF \
    "${launcher[@]}" >/dev/null
targets=(tandrel-bench)
if [ "$RELAY_ONLY" != 1 ]; then targets+=(bench_send_ui bench_merge bench_base64 bench_prepare bench_ui); fi
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target "${targets[@]}" >/dev/null
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

WORK=$(mktemp -d /tmp/tandrel-bench.XXXXXX)
SINK_PID=""
PROXY_PID=""
cleanup() {
    for pid in $PROXY_PID $SINK_PID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

PORT=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sink_args=()
if [ "$(id -u)" -eq 0 ]; then sink_args+=(-u nobody); fi
"$SINK" "${sink_args[@]}" "127.0.0.1:$PORT" 1000 &
SINK_PID=$!
for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then break; fi
    sleep 0.1
done
echo "== smtp-sink on 127.0.0.1:$PORT (pid $SINK_PID)" >&2

echo "== generating data in $WORK" >&2
$PY benchmarks/data/generate.py "$WORK/dr" --people "$RELAY_MESSAGES"
if [ "$RELAY_ONLY" != 1 ]; then
$PY benchmarks/data/generate.py "$WORK/d1k" --people 1000 --attachment-size 102400
$PY benchmarks/data/generate.py "$WORK/d10k" --people 10000
$PY benchmarks/data/generate.py "$WORK/d100k" --people 100000 --attachment-size 1048576
$PY benchmarks/data/generate.py "$WORK/d200k" --people 200000 --attachment-size 1048576
$PY benchmarks/data/generate.py "$WORK/d1m" --people 1000000 --attachment-size 1048576
$PY benchmarks/data/generate.py "$WORK/d5k" --people 5000
# Each person's own 100 KB file, named by the person's customer number (the sixth field).
$PY -c '
import os, random, sys
out = os.path.join(sys.argv[1], "own")
os.makedirs(out)
rng = random.Random(5000)
for i in range(1, 5001):  # generate.py numbers people from 1
    with open(os.path.join(out, f"C{100000 + i}.bin"), "wb") as f:
        f.write(rng.randbytes(102400))
' "$WORK/d5k"
fi

RESULTS=$WORK/results.txt
: >"$RESULTS"

now() { date +%s.%N; }
elapsed() { $PY -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$1" "$2"; }
# key=value pairs of every line of a program's output, one line
pairs() { tr ' ' '\n' | grep '=' | tr '\n' ' '; }

# run_tandrel SCENARIO DATADIR TIMEOUT [--prepare-only | --load-only] [ATTACHMENT...]
# Sets TANDREL_OK to 0 when the delivery did not finish in time.
run_tandrel() {
    local scen=$1 dir=$2 timeout=$3 out t0 t1 status=0
    shift 3
    local mode=()
    case "${1:-}" in --prepare-only | --load-only) mode=("$1"); shift ;; esac
    t0=$(now)
    out=$("$BENCH" --timeout "$timeout" "${mode[@]}" ${EXTRA:-} "$dir/fields.txt" "$dir/db.txt" \
        "$dir/mail.txt" 127.0.0.1 "${TARGET_PORT:-$PORT}" "$@") || status=$?
    t1=$(now)
    echo "$out" | sed 's/^/    /' >&2
    if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
        echo "tandrel-bench failed with status $status" >&2
        exit 1
    fi
    echo "$scen tandrel wall_s=$(elapsed "$t0" "$t1") status=$status timeout_s=$timeout" \
        "$(echo "$out" | pairs)" >>"$RESULTS"
    LAST_SIZE=$(echo "$out" | sed -n 's/.*message_bytes_avg=\([0-9]*\).*/\1/p')
    TANDREL_OK=$([ "$status" -eq 0 ] && echo 1 || echo 0)
}

# run_source SCENARIO COUNT SIZE
run_source() {
    local t0 t1
    t0=$(now)
    "$SOURCE" -s "$SESSIONS" -d -m "$2" -l "$3" -f "$SENDER" -t "person@bench.example" \
        "127.0.0.1:${TARGET_PORT:-$PORT}"
    t1=$(now)
    echo "    smtp-source: $(elapsed "$t0" "$t1") s" >&2
    echo "$1 source wall_s=$(elapsed "$t0" "$t1")" >>"$RESULTS"
}

# run_python SCENARIO DATADIR [ATTACHMENT...]
run_python() {
    local scen=$1 dir=$2 out t0 t1
    shift 2
    t0=$(now)
    out=$($PY benchmarks/peers/mailmerge.py "$dir/fields.txt" "$dir/db.txt" "$dir/mail.txt" \
        127.0.0.1 "$PORT" "$@")
    t1=$(now)
    echo "$out" | sed 's/^/    /' >&2
    echo "$scen python wall_s=$(elapsed "$t0" "$t1") $(echo "$out" | pairs)" >>"$RESULTS"
}

# scenario NAME DATADIR COUNT TIMEOUT [ATTACHMENT]
# A Tandrel run that does not finish within TIMEOUT seconds is recorded as such and
# not repeated in the later rounds (the peers still are).
scenario() {
    local name=$1 dir=$2 count=$3 timeout=$4 ok=1
    shift 4
    for r in $(seq "$ROUNDS"); do
        echo "== $name, round $r/$ROUNDS" >&2
        if [ "$ok" -eq 1 ]; then
            run_tandrel "$name" "$dir" "$timeout" "$@"
            ok=$TANDREL_OK
        fi
        run_source "$name" "$count" "$LAST_SIZE"
        run_python "$name" "$dir" "$@"
    done
    SCENARIO_OK=$ok
}

# relay_section: the runs through the delay proxy (see the head of this file).
relay_section() {
    local proxy_port
    proxy_port=$($PY -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    $PY benchmarks/peers/delay_proxy.py "$proxy_port" "$PORT" --delay-ms "$RELAY_DELAY_MS" \
        --max-seconds 1800 >"$WORK/proxy.out" &
    PROXY_PID=$!
    for _ in $(seq 100); do
        if grep -q ready "$WORK/proxy.out" 2>/dev/null; then break; fi
        sleep 0.1
    done
    echo "relay meta rtt_s=$($PY -c "print(2 * $RELAY_DELAY_MS / 1000)") messages=$RELAY_MESSAGES" \
        >>"$RESULTS"
    for r in $(seq "$ROUNDS"); do
        echo "== relay ${RELAY_DELAY_MS} ms each way, $RELAY_MESSAGES messages, round $r/$ROUNDS" >&2
        TARGET_PORT=$proxy_port run_tandrel rh "$WORK/dr" 600
        TARGET_PORT=$proxy_port EXTRA="--ehlo --connections 1" run_tandrel r1 "$WORK/dr" 600
        TARGET_PORT=$proxy_port EXTRA="--ehlo --connections 4" run_tandrel r4 "$WORK/dr" 600
        TARGET_PORT=$proxy_port SESSIONS=1 run_source r1 "$RELAY_MESSAGES" "$LAST_SIZE"
        TARGET_PORT=$proxy_port SESSIONS=4 run_source r4 "$RELAY_MESSAGES" "$LAST_SIZE"
    done
    kill "$PROXY_PID" 2>/dev/null || true
    wait "$PROXY_PID" 2>/dev/null || true
    PROXY_PID=""
}

machine_lines() {
    echo
    echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo) memory; $ROUNDS rounds."
    echo "Load average (1, 5, 15 min): $LOAD_START at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end."
    echo
}

if [ "$RELAY_ONLY" = 1 ]; then
    relay_section
    machine_lines
    $PY benchmarks/driver/bench_table.py "$RESULTS"
    exit 0
fi

# The headline first: offscreen, and on a virtual X display with the desktop accessibility
# bus and Qt's bridge to it on (as on GNOME desktops and for every screen-reader user),
# the two alternating ROUNDS times. bench_send_ui starts its own smtp-sink.
A11Y=0
if command -v dbus-run-session >/dev/null && command -v Xvfb >/dev/null &&
    [ -x /usr/libexec/at-spi-bus-launcher ]; then A11Y=1; fi
for r in $(seq "$ROUNDS"); do
    echo "== $UI_MESSAGES messages through the windows and headless, best of $UI_RUNS, round $r/$ROUNDS" >&2
    ui_out=$("$BUILD/bench_send_ui" "$UI_MESSAGES" "$UI_RUNS")
    echo "    offscreen: $ui_out" >&2
    echo "ui windows $(echo "$ui_out" | pairs)" >>"$RESULTS"
    if [ "$A11Y" = 1 ]; then
        ui_out=$(dbus-run-session -- benchmarks/with_atspi.sh "$BUILD/bench_send_ui" \
            "$UI_MESSAGES" "$UI_RUNS" 2>/dev/null | grep 'messages=') || ui_out=""
        echo "    accessibility bridge: ${ui_out:-(the bus or display did not start)}" >&2
        if [ -n "$ui_out" ]; then echo "uia11y windows $(echo "$ui_out" | pairs)" >>"$RESULTS"; fi
    fi
done

scenario s1 "$WORK/d1k" 1000 120 "$WORK/d1k/attach.bin"
scenario s2 "$WORK/d10k" 10000 60
s2_ok=$SCENARIO_OK
# The same 10 000 messages with EHLO and PIPELINING (smtp-sink offers it).
EXTRA=--ehlo scenario s2p "$WORK/d10k" 10000 60

relay_section

echo "== 5000 people, each with an own 100 KB file, delivered" >&2
run_tandrel s5 "$WORK/d5k" 300 "$WORK/d5k/own/[customer].bin"

echo "== 200 000 people, shared 1 MB attachment, preparation only" >&2
run_tandrel s3 "$WORK/d200k" 0 --prepare-only "$WORK/d200k/attach.bin"
echo "== 200 000 people, shared 1 MB attachment, preparation and ${S3_DELIVER_S} s of delivery" >&2
run_tandrel s3d "$WORK/d200k" "$S3_DELIVER_S" "$WORK/d200k/attach.bin"
echo "== 1 000 000 people, shared 1 MB attachment, preparation only" >&2
run_tandrel s3m "$WORK/d1m" 0 --prepare-only "$WORK/d1m/attach.bin"

# Loading takes tens of milliseconds, so one preemption by another process distorts it:
# the table takes the best of several runs.
echo "== growth: load 10 000 and 100 000 people, 11 times each" >&2
for r in $(seq 11); do
    run_tandrel l10k "$WORK/d10k" 0 --load-only
    run_tandrel l100k "$WORK/d100k" 0 --load-only
done

for r in $(seq "$ROUNDS"); do
    echo "== growth: prepare 10 000 and 100 000 people, round $r/$ROUNDS" >&2
    run_tandrel g10k "$WORK/d10k" 0 --prepare-only
    run_tandrel g100k "$WORK/d100k" 0 --prepare-only
done

echo "== growth: deliver to 100 000 people" >&2
if [ "$s2_ok" -eq 1 ]; then
    run_tandrel s4 "$WORK/d100k" 600
else
    echo "    (skipped: the delivery to 10 000 people did not finish)" >&2
fi

machine_lines
$PY benchmarks/driver/bench_table.py "$RESULTS"

for t in bench_merge bench_base64 bench_prepare bench_ui; do
    if [ -x "$BUILD/$t" ]; then
        echo
        echo "$t:"
        "$BUILD/$t" | sed 's/^/    /'
    fi
done
