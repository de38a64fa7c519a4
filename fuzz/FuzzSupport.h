// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: a failed property aborts with its text, so libFuzzer
// keeps the input; file readers get the input as a file in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace tandrel::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// One file in memory for the whole run, rewritten for every input: the readers open it
// by its path as they would open a file on disk, and nothing touches the disk.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("tandrel-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const std::string& holding(std::string_view bytes) {
        if (::ftruncate(fd_, 0) != 0 ||
            ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            std::abort();
        return path_;
    }

private:
    int fd_;
    std::string path_;
};

// A file that the program's writers replace through a temporary file beside it, which a
// file in memory cannot have: it lives in a folder of its own in /dev/shm, removed at
// the end of the run.
class WrittenFile {
public:
    explicit WrittenFile(const std::string& name) {
        char folder[] = "/dev/shm/tandrel-fuzz-XXXXXX";
        if (!::mkdtemp(folder)) std::abort();
        folder_ = folder;
        path = folder_ + "/" + name;
    }
    ~WrittenFile() {
        ::unlink(path.c_str());
        ::rmdir(folder_.c_str());
    }
    WrittenFile(const WrittenFile&) = delete;
    WrittenFile& operator=(const WrittenFile&) = delete;
    std::string path;

private:
    std::string folder_;
};

} // namespace tandrel::fuzz
