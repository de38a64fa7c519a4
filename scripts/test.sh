#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds a Debug build with AddressSanitizer and
# UndefinedBehaviorSanitizer (the benchmark programs too, so they keep building), and
# runs every test. Any compiler warning fails the build here (the CI build), while a
# developer's own configure leaves warnings as warnings.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

BUILD=build/asan
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DTANDREL_SANITIZE=ON -DTANDREL_BENCHMARKS=ON \
    -DTANDREL_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)" --timeout 300
