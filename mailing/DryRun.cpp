// SPDX-License-Identifier: GPL-3.0-or-later
// The dry run's files.
#include "mailing/DryRun.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "model/SafeFile.h"
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

// Writes dir/name as a new file renamed over the name: a symbolic link planted under that
// name is replaced, never followed, so its target stays untouched; a folder, pipe or
// device there stops the run, naming it.
void WriteOwnFile(const std::string& dir, const std::string& name, const std::string& data) {
    const std::string path = dir + "/" + name;
    const int err = WriteFileOverName(path, data);
    if (err == EISDIR || err == EINVAL)
        throw std::runtime_error("Cannot write " + path + ": it is not a regular file");
    if (err != 0) throw std::runtime_error("Cannot write " + path + ": " + SystemReason(err));
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
