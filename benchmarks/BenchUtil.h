// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace tandrel::bench {

// Best of `runs` timings of f(), in seconds: the least disturbed run on a shared machine.
template <class F> double BestSeconds(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

inline double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

// Peak resident memory of this process so far, in KiB.
inline long PeakRssKb() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Processor time of this process so far (user and system, every thread), in seconds:
// unlike the wall clock, it hardly moves when other processes take the processors.
inline double ProcessCpuSeconds() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

} // namespace tandrel::bench
