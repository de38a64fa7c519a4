#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the readers and parsers (fuzz/) with libFuzzer: builds build/fuzz with clang,
# then runs each target for SECONDS (default 600) on a copy of its seed corpus, one after
# another, at the lowest priority. Not part of CI.
#
#   scripts/fuzz.sh                    every target, 10 minutes each
#   scripts/fuzz.sh 60 csv mail        one minute each for two of them
#   scripts/fuzz.sh 0                  only the seed corpora, once (a quick check)
#
# A crash, leak, failed property or hang (an input that takes longer than TIMEOUT
# seconds, default 10) stops that target and leaves the input in
# build/fuzz/findings/<target>/; the summary at the end lists them and the script exits
# with 1. Keep such an input in fuzz/corpus/<target>/ and as a row of the test table
# that covers the code once it is fixed.
set -eu

cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
timeout=${TIMEOUT:-10}
targets=${*:-$(ls fuzz/corpus)}

build=build/fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DTANDREL_FUZZ=ON -DTANDREL_TESTS=OFF \
        -DTANDREL_BENCHMARKS=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi
for t in $targets; do
    if ! nice -n 19 cmake --build "$build" -j2 --target "fuzz_$t" >"$build/build.log" 2>&1; then
        tail -30 "$build/build.log"
        exit 2
    fi
done

failed=""
for t in $targets; do
    corpus="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
    if [ "$seconds" = 0 ]; then
        corpus=fuzz/corpus/$t
        limit=-runs=0
        echo "== $t: its seed corpus"
    else
        limit=-max_total_time=$seconds
        echo "== $t: $seconds s"
    fi
    # On a busy machine the lowest priority gets little of the processor: the processor
    # time says how much fuzzing was done.
    cpu=
    if [ -x /usr/bin/time ]; then
        cpu="/usr/bin/time -f cpu_seconds:%U+%S -o $build/findings/$t.cpu"
    fi
    if ! nice -n 19 $cpu "$build/fuzz/fuzz_$t" "$limit" -timeout="$timeout" \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" >"$build/findings/$t.log" 2>&1; then
        failed="$failed $t"
    fi
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec)|^==[0-9]+==ERROR|^SUMMARY|property failed|ALARM' \
        "$build/findings/$t.log" || true
    if [ -n "$cpu" ]; then tail -n 1 "$build/findings/$t.cpu"; fi
done

if [ -n "$failed" ]; then
    echo "Findings in:$failed (inputs in $build/findings/, logs beside them)"
    exit 1
fi
echo "No findings."
