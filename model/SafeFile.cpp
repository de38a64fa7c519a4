// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file replacement through a renamed temporary file, and appends that roll back.
#include "model/SafeFile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {

namespace {

// Keeps errno of the first failure for the caller, whatever the clean-up does later.
struct Failure {
    int err = 0;
    bool set(int e) {
        if (err == 0) err = e != 0 ? e : EIO;
        return false;
    }
    bool ok() const { return err == 0; }
};

bool WriteAll(FileCalls& calls, int fd, std::string_view data, Failure& f) {
    while (!data.empty()) {
        const ssize_t n = calls.write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return f.set(errno);
        }
        if (n == 0) return f.set(EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string ResolvedTarget(const std::string& path) {
    struct stat lsb {};
    std::array<char, PATH_MAX> resolved{};
    if (::lstat(path.c_str(), &lsb) == 0 && S_ISLNK(lsb.st_mode) &&
        ::realpath(path.c_str(), resolved.data()))
        return resolved.data(); // keep the link, replace what it points at
    return path;
}

// A hidden name beside the target, short enough for any file name the target may have.
std::string TempNameFor(const std::string& target, std::mt19937_64& rng) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const auto slash = target.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::string name = target.substr(0, base) + "." + target.substr(base, 200) + ".tmp-";
    for (int i = 0; i < 10; ++i)
        name += kDigits[rng() % (sizeof kDigits - 1)];
    return name;
}

bool ReadWhole(int fd, std::string& out, Failure& f) {
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            return f.set(errno);
        }
        if (got == 0) return true;
        out.append(buf, static_cast<std::size_t>(got));
    }
}

// Rewrites the file in place. The old bytes are read first; when writing the new ones
// fails they are put back, which needs no more room than the file already had.
int RewriteInPlace(FileCalls& calls, const std::string& target, std::string_view data) {
    Failure f;
    const int fd = calls.open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) return errno;
    struct stat sb {};
    std::string old;
    if (::fstat(fd, &sb) != 0) {
        f.set(errno);
    } else if (!S_ISREG(sb.st_mode)) {
        f.set(EINVAL);
    } else if (ReadWhole(fd, old, f)) {
        const bool written = ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(calls, fd, data, f) &&
                             ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 &&
                             calls.fsync(fd) == 0;
        if (!written) {
            f.set(errno);
            Failure ignored;
            if (::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(calls, fd, old, ignored))
                (void)::ftruncate(fd, static_cast<off_t>(old.size()));
            (void)calls.fsync(fd);
        }
    }
    if (calls.close(fd) != 0) f.set(errno);
    return f.err;
}

// After a rename the new name lives in the folder; flushing the folder keeps the rename
// through a power cut. A folder that cannot be flushed changes nothing for the caller.
void FlushFolderOf(FileCalls& calls, const std::string& target) {
    const auto slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int fd = calls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return;
    (void)calls.fsync(fd);
    (void)calls.close(fd);
}

} // namespace

int FileCalls::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
ssize_t FileCalls::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}
int FileCalls::fsync(int fd) {
    return ::fsync(fd);
}
int FileCalls::close(int fd) {
    return ::close(fd);
}
int FileCalls::rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int FileCalls::unlink(const char* path) {
    return ::unlink(path);
}

int ReplaceFileContent(const std::string& path, std::string_view data) {
    FileCalls system;
    return ReplaceFileContent(path, data, system);
}

int ReplaceFileContent(const std::string& path, std::string_view data, FileCalls& calls) {
    if (path.empty()) return ENOENT;
    const std::string target = ResolvedTarget(path);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return EISDIR;
    if (exists && !S_ISREG(old.st_mode)) return EINVAL; // a pipe or device is never replaced
    // Renaming ignores the file's own permissions; a read-only file stays read-only.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;

    std::mt19937_64 rng(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tmp = TempNameFor(target, rng);
        const int fd = calls.open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            const int err = errno;
            if (exists && (err == EACCES || err == EPERM))
                return RewriteInPlace(calls, target, data);
            return err;
        }
        Failure f;
        if (WriteAll(calls, fd, data, f) && exists) {
            if (::fchmod(fd, old.st_mode & 07777) != 0) f.set(errno);
            // Only root may give the file back to its owner; for anyone else it is theirs.
            if (f.ok() && ::geteuid() == 0) (void)::fchown(fd, old.st_uid, old.st_gid);
        }
        if (f.ok() && calls.fsync(fd) != 0) f.set(errno);
        if (calls.close(fd) != 0) f.set(errno);
        if (f.ok() && calls.rename(tmp.c_str(), target.c_str()) != 0) f.set(errno);
        if (!f.ok()) {
            calls.unlink(tmp.c_str());
            return f.err;
        }
        FlushFolderOf(calls, target);
        return 0;
    }
    return EEXIST;
}

int WriteFileOverName(const std::string& path, std::string_view data) {
    if (path.empty()) return ENOENT;
    struct stat there {};
    if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode))
        return S_ISDIR(there.st_mode) ? EISDIR : EINVAL;
    FileCalls calls;
    std::mt19937_64 rng(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tmp = TempNameFor(path, rng);
        const int fd =
            calls.open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        Failure f;
        WriteAll(calls, fd, data, f);
        if (calls.close(fd) != 0) f.set(errno);
        if (f.ok() && calls.rename(tmp.c_str(), path.c_str()) != 0) f.set(errno);
        if (!f.ok()) calls.unlink(tmp.c_str());
        return f.err;
    }
    return EEXIST;
}

int AppendFileContent(const std::string& path, std::string_view data) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return errno;
    Failure f;
    struct stat sb {};
    if (::fstat(fd, &sb) != 0) {
        f.set(errno);
    } else if (!S_ISREG(sb.st_mode)) {
        f.set(S_ISDIR(sb.st_mode) ? EISDIR : EINVAL);
    } else if (FileCalls system; !WriteAll(system, fd, data, f) || ::fsync(fd) != 0) {
        f.set(errno);
        (void)::ftruncate(fd, sb.st_size);
        (void)::fsync(fd);
    }
    if (::close(fd) != 0) f.set(errno);
    return f.err;
}

std::string SystemReason(int err) {
    std::array<char, 256> buf{};
    // The GNU strerror_r returns the text, which need not be in the buffer.
    return ::strerror_r(err, buf.data(), buf.size());
}

} // namespace tandrel
