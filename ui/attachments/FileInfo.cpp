// SPDX-License-Identifier: GPL-3.0-or-later
// Examining attachment files: readable or not, size and content type, the file test lines.
#include "ui/attachments/FileInfo.h"

#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "merge/Merge.h"
#include "merge/Mime.h"

namespace tandrel {

namespace {

// A path with a NUL byte cannot name a file; passing it to the system would silently
// test a shorter path instead.
bool UsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// A directory is no file: the file test reports it as missing, as sending does.
bool FileExistsAt(const std::string& path) {
    struct stat info {};
    return UsablePath(path) && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int DecimalDigits(std::int64_t n) {
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

std::int64_t PowerOfTen(int exponent) {
    std::int64_t p = 1;
    for (int i = 0; i < exponent; ++i)
        p *= 10;
    return p;
}

// n / unit as text with two decimals, rounded once at whichever comes first: the fourth
// significant digit or the second decimal. Integer arithmetic keeps the result exact and
// independent of the C library's locale.
std::string ScaledText(std::int64_t n, std::int64_t unit, const char* suffix,
                       const std::string& separator) {
    const int intDigits = DecimalDigits(n / unit);
    const int decimals = std::min(4 - intDigits, 2); // kept decimals, negative: tens etc.
    std::int64_t hundredths = 0;                     // the rounded value times 100
    if (decimals >= 0) {
        const std::int64_t scale = PowerOfTen(decimals);
        const std::int64_t rounded = (n * scale + unit / 2) / unit;
        hundredths = rounded * PowerOfTen(2 - decimals);
    } else {
        const std::int64_t step = unit * PowerOfTen(-decimals);
        const std::int64_t rounded = (n + step / 2) / step;
        hundredths = rounded * PowerOfTen(-decimals) * 100;
    }
    const std::int64_t whole = hundredths / 100;
    const std::int64_t frac = hundredths % 100;
    std::string text = std::to_string(whole);
    text += separator;
    if (frac < 10) text += '0';
    text += std::to_string(frac);
    text += suffix;
    return text;
}

} // namespace

std::string SizeToText(std::int64_t bytes, const std::string& decimalSeparator) {
    constexpr std::int64_t kKilo = std::int64_t{1} << 10;
    constexpr std::int64_t kMega = std::int64_t{1} << 20;
    constexpr std::int64_t kGiga = std::int64_t{1} << 30;
    if (bytes < 1) return "0";
    if (bytes < kKilo) return std::to_string(bytes);
    if (bytes < kMega) return ScaledText(bytes, kKilo, "Kb", decimalSeparator);
    if (bytes < kGiga) return ScaledText(bytes, kMega, "Mb", decimalSeparator);
    return ScaledText(bytes, kGiga, "Gb", decimalSeparator);
}

ExaminedFile ExamineFile(const std::string& path, const std::string& decimalSeparator) {
    ExaminedFile info;
    if (!UsablePath(path)) return info;
    // Non-blocking so that opening a FIFO cannot hang the window; only regular files
    // can be sent as attachments.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return info;
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool closed = ::close(fd) == 0;
    if (!sized || !closed) return info;
    info.size = static_cast<std::int64_t>(st.st_size);
    info.sizeText = SizeToText(info.size, decimalSeparator);
    info.typeText = ContentTypeOf(FileNameOfPath(path));
    return info;
}

namespace {

FileTestRow TestFile(const std::string& path, const std::string& decimalSeparator) {
    FileTestRow row;
    if (!FileExistsAt(path)) {
        row.line = path + " does not exist";
        return row;
    }
    const ExaminedFile info = ExamineFile(path, decimalSeparator);
    if (info.size < 0) {
        row.line = path + " found - could not access file";
        return row;
    }
    row.line = path + " found - size: " + info.sizeText + " - type: " + info.typeText;
    row.usable = true;
    return row;
}

} // namespace

std::string TestFileLine(const std::string& path, const std::string& decimalSeparator) {
    return TestFile(path, decimalSeparator).line;
}

bool PathHasPlaceholders(const std::string& path) {
    return path.find('[') != std::string::npos && path.find(']') != std::string::npos;
}

std::vector<FileTestRow> FileTestRows(const std::vector<Attachment>& attachments,
                                      const Database* db, const std::string& decimalSeparator) {
    std::vector<FileTestRow> rows;
    const bool haveEntries = db && !db->entries.empty();
    for (const Attachment& a : attachments) {
        if (!haveEntries || !PathHasPlaceholders(a.path)) {
            rows.push_back(TestFile(a.path, decimalSeparator));
            continue;
        }
        const FieldIndex index(db->fields);
        for (const EntryPtr& entry : db->entries) {
            FileTestRow row;
            try {
                const PersonalPath merged = AttachmentPathOf(a.path, index, *entry);
                if (merged.problem.empty())
                    row = TestFile(merged.path, decimalSeparator);
                else
                    row.line = merged.problem;
            } catch (const ComposeError& e) {
                row.line = e.what(); // values that grow without end
            }
            row.person = entry->name().empty() ? entry->email() : entry->name();
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

std::vector<std::string> FileTestLines(const std::vector<Attachment>& attachments,
                                       const Database* db,
                                       const std::string& decimalSeparator) {
    std::vector<std::string> lines;
    for (FileTestRow& row : FileTestRows(attachments, db, decimalSeparator))
        lines.push_back(std::move(row.line));
    return lines;
}

} // namespace tandrel
