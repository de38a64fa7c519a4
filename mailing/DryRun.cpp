// SPDX-License-Identifier: GPL-3.0-or-later
// The dry run's files.
#include "mailing/DryRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "model/TextFile.h"

namespace tandrel {

namespace {

// Letters, digits and the harmless punctuation of addresses; the rest becomes '_'.
std::string FileNameSafe(const std::string& address) {
    std::string out;
    for (const char c : address.substr(0, 100)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '@' || c == '.' || c == '-' || c == '_' ||
                          c == '+';
        out.push_back(keep ? c : '_');
    }
    return out.empty() ? "no-address" : out;
}

// The number is padded to the width of the count (five digits at least), so that the
// files sort in the order of the people.
std::string MessageFileName(std::size_t index, std::size_t total, const std::string& address) {
    std::string number = std::to_string(index + 1);
    const std::size_t width = std::max<std::size_t>(5, std::to_string(total).size());
    number.insert(0, width - std::min(width, number.size()), '0');
    return number + "-" + FileNameSafe(address) + ".eml";
}

// The list of the files a dry run wrote, kept in its folder: only those are ever removed.
constexpr const char* kDryRunList = ".tandrel-dry-run";

// A name as MessageFileName makes them: five digits or more, a dash, ".eml"; no folder.
bool IsMessageFileName(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash < 5 || dash == std::string::npos || name.find('/') != std::string::npos) return false;
    if (!std::all_of(name.begin(), name.begin() + static_cast<long>(dash),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return name.size() >= dash + 1 + 4 && name.ends_with(".eml");
}

// An earlier run into the same folder would leave its people mixed with these. Only the
// files its list names are removed, so a user's own files there stay, whatever their
// names. Returns how many were removed.
std::size_t RemoveEarlierDryRun(const std::string& dir) {
    namespace fs = std::filesystem;
    const std::string list = dir + "/" + kDryRunList;
    if (!FileExists(list)) return 0;
    std::size_t removed = 0;
    for (const std::string& name : SplitAtLineEnds(ReadUserTextFile(list))) {
        if (!IsMessageFileName(name)) continue;
        std::error_code ec;
        const fs::path path = fs::path(dir) / name;
        if (!fs::is_regular_file(fs::symlink_status(path, ec))) continue;
        if (!fs::remove(path, ec) && ec)
            throw std::runtime_error("Cannot remove " + path.string() + ": " + ec.message());
        ++removed;
    }
    return removed;
}

std::runtime_error CannotWrite(const std::string& path, int err) {
    return std::runtime_error("Cannot write " + path + ": " + std::strerror(err));
}

// Writes dir/name through a new file renamed over the name: a symbolic link planted
// under that name is replaced, never followed, so its target stays untouched; a folder,
// pipe or device there stops the run, naming it.
void WriteOwnFile(const std::string& dir, const std::string& name, const std::string& data) {
    const std::string path = dir + "/" + name;
    struct stat there {};
    if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode))
        throw std::runtime_error("Cannot write " + path + ": it is not a regular file");
    // A new file only (O_EXCL), with the mode the umask gives an ordinary new file.
    std::string temp;
    int fd = -1;
    std::random_device random;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = dir + "/.tandrel-writing-" + std::to_string(random());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) throw CannotWrite(path, errno);
    }
    if (fd < 0) throw CannotWrite(path, EEXIST);
    int err = 0;
    for (std::size_t done = 0; done < data.size() && err == 0;) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno != EINTR) err = errno;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        throw CannotWrite(path, err);
    }
}

// The message as it would go to the relay. One that cannot be made as it was prepared
// (a person's file gone or changed since) stops the dry run rather than leaving a file
// that differs from what a delivery would send.
std::string MessageText(const OutgoingMessage& message) {
    std::optional<std::string> problem;
    if (!message.unfit.empty()) problem = message.unfit;
    if (!problem) problem = message.lines.checkDeferred();
    std::vector<std::string> lines;
    if (!problem) {
        lines.reserve(message.lines.size());
        problem =
            message.lines.forEach([&lines](std::string_view line) { lines.emplace_back(line); });
    }
    if (problem)
        throw std::runtime_error("Mail to \"" + message.address + "\" not written: " + *problem);
    return JoinCrLf(lines);
}

} // namespace

DryRunResult WriteDryRun(MessageSource& messages, const std::string& dir,
                         const std::function<void(int)>& progress) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("Cannot create folder " + dir + ": " + ec.message());
    DryRunResult result;
    result.removed = RemoveEarlierDryRun(dir);
    const std::size_t total = messages.count();
    std::vector<std::string> names;
    names.reserve(total);
    for (std::size_t i = 0; i < total; ++i)
        names.push_back(MessageFileName(i, total, messages.address(i)));
    // Listed before they are written, so that an interrupted run is cleared up as well.
    WriteOwnFile(dir, kDryRunList, JoinCrLf(names));
    for (std::size_t i = 0; i < total; ++i) {
        const OutgoingMessage& message = messages.message(i);
        WriteOwnFile(dir, names[i], MessageText(message));
        messages.release(i);
        if (progress) progress(static_cast<int>((i + 1) * 100 / total));
    }
    result.written = total;
    return result;
}

} // namespace tandrel
