#!/usr/bin/env bash
# Measures Tandrel's mailing run against two peers on this machine and prints a table of
# medians and ratios (Markdown, ready for docs/performance.md):
#   - tandrel-bench: the program's own loading, preparation and SMTP dialogue, no windows
#   - smtp-source:   Postfix's load generator, same message count and size, one connection
#   - the Python mail merge in benchmarks/peers/mailmerge.py, one connection
# All of them deliver to one smtp-sink on a free loopback port. The runs of one scenario
# alternate between the three, ROUNDS times (default 3).
#
# Scenarios: 1000 people with a 100 KB attachment; 10 000 people without; 100 000
# people with one shared 1 MB attachment (preparation only: peak memory); 100 000
# people without attachment (growth against the 10 000 run).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

ROUNDS=${ROUNDS:-3}
PY=/usr/bin/python3
SINK=/usr/sbin/smtp-sink
SOURCE=/usr/sbin/smtp-source
SENDER=you@provider.example
BENCH=$ROOT/build/tandrel-bench

scripts/deps.sh

echo "== building (Release, build/)" >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(tandrel-bench)
for t in bench_merge bench_base64 bench_prepare; do
    if cmake --build build --target help | grep -qw "$t"; then targets+=("$t"); fi
done
cmake --build build -j"$(nproc)" --target "${targets[@]}" >/dev/null

WORK=$(mktemp -d /tmp/tandrel-bench.XXXXXX)
SINK_PID=""
cleanup() {
    if [ -n "$SINK_PID" ]; then
        kill "$SINK_PID" 2>/dev/null || true
        wait "$SINK_PID" 2>/dev/null || true
    fi
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
$PY benchmarks/data/generate.py "$WORK/d1k" --people 1000 --attachment-size 102400
$PY benchmarks/data/generate.py "$WORK/d10k" --people 10000
$PY benchmarks/data/generate.py "$WORK/d100k" --people 100000 --attachment-size 1048576

RESULTS=$WORK/results.txt
: >"$RESULTS"

now() { date +%s.%N; }
elapsed() { $PY -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$1" "$2"; }
# key=value pairs of every line of a program's output, one line
pairs() { tr ' ' '\n' | grep '=' | tr '\n' ' '; }

# run_tandrel SCENARIO DATADIR [--prepare-only] [ATTACHMENT...]
run_tandrel() {
    local scen=$1 dir=$2 out t0 t1
    shift 2
    local mode=()
    if [ "${1:-}" = "--prepare-only" ]; then mode=(--prepare-only); shift; fi
    t0=$(now)
    out=$("$BENCH" "${mode[@]}" "$dir/fields.txt" "$dir/db.txt" "$dir/mail.txt" \
        127.0.0.1 "$PORT" "$@")
    t1=$(now)
    echo "$out" | sed 's/^/    /' >&2
    echo "$scen tandrel wall_s=$(elapsed "$t0" "$t1") $(echo "$out" | pairs)" >>"$RESULTS"
    LAST_SIZE=$(echo "$out" | sed -n 's/.*message_bytes_avg=\([0-9]*\).*/\1/p')
}

# run_source SCENARIO COUNT SIZE
run_source() {
    local t0 t1
    t0=$(now)
    "$SOURCE" -s 1 -d -m "$2" -l "$3" -f "$SENDER" -t "person@bench.example" "127.0.0.1:$PORT"
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

scenario() { # NAME DATADIR COUNT [ATTACHMENT]
    local name=$1 dir=$2 count=$3
    shift 3
    for r in $(seq "$ROUNDS"); do
        echo "== $name, round $r/$ROUNDS" >&2
        run_tandrel "$name" "$dir" "$@"
        run_source "$name" "$count" "$LAST_SIZE"
        run_python "$name" "$dir" "$@"
    done
}

scenario s1 "$WORK/d1k" 1000 "$WORK/d1k/attach.bin"
scenario s2 "$WORK/d10k" 10000

echo "== 100 000 people, shared 1 MB attachment, preparation only" >&2
run_tandrel s3 "$WORK/d100k" --prepare-only "$WORK/d100k/attach.bin"

echo "== 100 000 people, no attachment" >&2
run_tandrel s4 "$WORK/d100k"

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo) memory; $ROUNDS rounds."
echo
$PY - "$RESULTS" <<'EOF'
import statistics
import sys

runs = {}
for line in open(sys.argv[1]):
    scen, tool, *kv = line.split()
    rec = dict(p.split("=", 1) for p in kv)
    runs.setdefault((scen, tool), []).append({k: float(v) for k, v in rec.items()})

def med(scen, tool, f):
    rs = runs.get((scen, tool), [])
    return statistics.median(f(r) for r in rs) if rs else float("nan")

work = lambda r: r["prepare_s"] + r["deliver_s"]
wall = lambda r: r["wall_s"]

def check(ok):
    return "yes" if ok else "**no**"

print("| Scenario | Tandrel prepare + deliver | smtp-source | Python peer "
      "| Tandrel / smtp-source (≤ 1.5) | Python / Tandrel (≥ 5) |")
print("|---|---|---|---|---|---|")
for scen, title in (("s1", "1000 people, 2 KB body, 100 KB attachment"),
                    ("s2", "10 000 people, 2 KB body, no attachment")):
    t = med(scen, "tandrel", work)
    s = med(scen, "source", wall)
    p = med(scen, "python", work)
    print(f"| {title} | {t:.2f} s | {s:.2f} s | {p:.2f} s "
          f"| {t / s:.2f} ({check(t / s <= 1.5)}) | {p / t:.1f} ({check(p / t >= 5)}) |")

print()
print("Tandrel's stages (medians): "
      + "; ".join(f"{scen}: load {med(scen, 'tandrel', lambda r: r['load_s']):.3f} s, "
                  f"prepare {med(scen, 'tandrel', lambda r: r['prepare_s']):.3f} s, "
                  f"deliver {med(scen, 'tandrel', lambda r: r['deliver_s']):.3f} s, "
                  f"peak {med(scen, 'tandrel', lambda r: r['peak_rss_kb']) / 1024:.0f} MB"
                  for scen in ("s1", "s2")))
print()

s3 = runs[("s3", "tandrel")][0]
print("| Memory: 100 000 people, one shared 1 MB attachment, preparation only | |")
print("|---|---|")
print(f"| prepare | {s3['prepare_s']:.2f} s |")
print(f"| messages | {s3['messages']:.0f} ({s3['wire_bytes'] / 2**30:.1f} GB on the wire) |")
print(f"| text held (shared blocks counted once) | {s3['held_text_bytes'] / 2**20:.0f} MB |")
print(f"| peak RSS (< 1 GB) | {s3['peak_rss_kb'] / 1024:.0f} MB "
      f"({check(s3['peak_rss_kb'] < 1024 * 1024)}) |")
print()

s4 = runs[("s4", "tandrel")][0]
print("| Growth, no attachment | 10 000 people (median) | 100 000 people | ratio (≤ 12) |")
print("|---|---|---|---|")
for key, title in (("load_s", "load fields, database, mail"), ("prepare_s", "prepare"),
                   ("deliver_s", "deliver")):
    small = med("s2", "tandrel", lambda r: r[key])
    big = s4[key]
    ratio = big / small if small > 0 else float("nan")
    print(f"| {title} | {small:.3f} s | {big:.3f} s | {ratio:.1f} ({check(ratio <= 12)}) |")
print(f"| peak RSS | {med('s2', 'tandrel', lambda r: r['peak_rss_kb']) / 1024:.0f} MB "
      f"| {s4['peak_rss_kb'] / 1024:.0f} MB | |")

bad = [(k, r) for k, rs in runs.items() for r in rs
       if "accepted" in r and "messages" in r and r["accepted"] != r["messages"]
       and not (k[0] == "s3")]
for (scen, tool), r in bad:
    print(f"\nWARNING: {scen} {tool}: {r['accepted']:.0f} of {r['messages']:.0f} accepted")
EOF

for t in bench_merge bench_base64 bench_prepare; do
    if [ -x "build/$t" ]; then
        echo
        echo "$t:"
        "build/$t" | sed 's/^/    /'
    fi
done
