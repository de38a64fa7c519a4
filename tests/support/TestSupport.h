// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the tests.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tandrel::test {

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Writes the bytes over the file's own (same inode) and returns once the change shows in
// its status-change time: file times move in clock ticks, so a change within the tick of
// the file's last change would look like none.
void RewriteInPlace(const std::string& path, const std::string& bytes);

// The text of the exception of type E that f throws ("" when it throws none).
template <class E> std::string ErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// Switches the effective user for the lifetime of the object, when the process may
// (tests run as root see every file as readable and writable; "nobody" does not).
class EffectiveUser {
public:
    explicit EffectiveUser(uid_t uid);
    ~EffectiveUser();
    EffectiveUser(const EffectiveUser&) = delete;
    EffectiveUser& operator=(const EffectiveUser&) = delete;
    bool ok() const { return ok_; }

private:
    uid_t old_;
    bool ok_ = false;
};

inline constexpr uid_t kNobodyUid = 65534;

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

} // namespace tandrel::test
