// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tandrel::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tandrel-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void RewriteInPlace(const std::string& path, const std::string& bytes) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) throw std::runtime_error("cannot stat " + path);
    for (;;) {
        WriteFileBytes(path, bytes);
        struct stat after {};
        if (::stat(path.c_str(), &after) != 0) throw std::runtime_error("cannot stat " + path);
        if (after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
            after.st_ctim.tv_nsec != before.st_ctim.tv_nsec)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

EffectiveUser::EffectiveUser(uid_t uid) : old_(::geteuid()) {
    ok_ = ::seteuid(uid) == 0;
}

EffectiveUser::~EffectiveUser() {
    if (ok_ && ::seteuid(old_) != 0) std::abort();
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

} // namespace tandrel::test
