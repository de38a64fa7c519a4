// SPDX-License-Identifier: GPL-3.0-or-later
// Base64 speed on 100 MB: from memory into compact message lines, and from a file the
// way an attachment is encoded; memcpy of the same data as the memory-speed yardstick.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "benchmarks/BenchUtil.h"
#include "merge/Mime.h"

using namespace tandrel;
using namespace tandrel::bench;

int main() {
    constexpr std::size_t kBytes = 100u * 1000 * 1000;
    std::vector<unsigned char> data(kBytes);
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i + 8 <= kBytes; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&data[i], &v, 8);
    }
    const double mb = static_cast<double>(kBytes) / 1e6;

    std::vector<unsigned char> copy(kBytes);
    const double tCopy = BestSeconds(5, [&] { std::memcpy(copy.data(), data.data(), kBytes); });
    std::printf("memcpy      : %zu MB in %7.1f ms, %7.1f MB/s (yardstick: copy into memory in "
                "use)\n",
                kBytes / 1000000, tCopy * 1e3, mb / tCopy);
    // Encoded lines always go into new memory, whose first touch costs page faults:
    // writing the 4/3 larger output into a fresh buffer is the fair yardstick for that.
    const std::size_t outBytes = Base64LineCount(kBytes) * kBase64LineLength;
    const double tFresh = BestSeconds(5, [&] {
        std::unique_ptr<char[]> fresh(new char[outBytes]);
        for (std::size_t off = 0; off < outBytes; off += kBytes)
            std::memcpy(fresh.get() + off, data.data(), std::min(kBytes, outBytes - off));
    });
    std::printf("memcpy new  : %zu MB in %7.1f ms, %7.1f MB/s of input (yardstick: write the "
                "output size into new memory)\n",
                kBytes / 1000000, tFresh * 1e3, mb / tFresh);

    std::vector<char> out((kBytes + 2) / 3 * 4);
    const double tRaw = BestSeconds(5, [&] { EncodeBase64(data.data(), kBytes, out.data()); });
    std::printf("base64 raw  : %zu MB in %7.1f ms, %7.1f MB/s of input\n", kBytes / 1000000,
                tRaw * 1e3, mb / tRaw);

    std::size_t lines = 0;
    const double tLines = BestSeconds(5, [&] {
        LineBlock block;
        block.reserve(Base64LineCount(kBytes) * kBase64LineLength, Base64LineCount(kBytes));
        AppendBase64Lines(block, data.data(), kBytes);
        lines = block.size();
    });
    std::printf("base64 lines: %zu MB in %7.1f ms, %7.1f MB/s of input (%zu lines of 76)\n",
                kBytes / 1000000, tLines * 1e3, mb / tLines, lines);

    char path[] = "/tmp/tandrel-bench-base64-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0 || ::write(fd, data.data(), kBytes) != static_cast<ssize_t>(kBytes)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    ::close(fd);
    const double tFile = BestSeconds(5, [&] {
        LineBlock block;
        AddBase64Body(block, path);
        lines = block.size();
    });
    ::unlink(path);
    std::printf("base64 file : %zu MB in %7.1f ms, %7.1f MB/s of input (read + encode into "
                "lines)\n",
                kBytes / 1000000, tFile * 1e3, mb / tFile);
    return 0;
}
