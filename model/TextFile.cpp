// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the plain text files: lines split at every line end, CR LF written.
#include "model/TextFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Errors.h"
#include "model/SafeFile.h"

namespace tandrel {

namespace {

// Opens a regular file for reading; -1 for anything else (see ReadRegularFile).
int OpenRegularFile(const std::string& path, FileReadResult& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = (errno == ENOENT || errno == ENOTDIR) ? FileReadResult::Missing
                                                    : FileReadResult::Failed;
        return -1;
    }
    struct stat sb {};
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        ::close(fd);
        why = FileReadResult::Failed;
        return -1;
    }
    why = FileReadResult::Ok;
    return fd;
}

bool StartsAsUtf16(std::string_view head) {
    return head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF");
}

// Splits pieces of a text into lines as SplitAtLineEnds splits the whole text, keeping
// an unfinished line and a CR at a piece's end for the next piece.
class LineSplitter {
public:
    explicit LineSplitter(const std::function<void(std::string_view)>& line) : line_(line) {}

    void add(std::string_view piece) {
        std::size_t pos = 0;
        if (crPending_ && !piece.empty() && piece[0] == '\n') pos = 1;
        crPending_ = false;
        const std::size_t n = piece.size();
        while (pos < n) {
            // A plain scan: looking for either byte with a search per position costs more.
            std::size_t i = pos;
            while (i < n && piece[i] != '\r' && piece[i] != '\n')
                ++i;
            if (i == n) {
                partial_.append(piece.substr(pos));
                return;
            }
            if (partial_.empty()) {
                line_(piece.substr(pos, i - pos));
            } else {
                partial_.append(piece.substr(pos, i - pos));
                line_(partial_);
                partial_.clear();
            }
            if (piece[i] == '\r') {
                if (i + 1 == n)
                    crPending_ = true;
                else if (piece[i + 1] == '\n')
                    ++i;
            }
            pos = i + 1;
        }
    }
    void finish() {
        if (!partial_.empty()) line_(partial_);
        partial_.clear();
    }

private:
    const std::function<void(std::string_view)>& line_;
    std::string partial_;
    bool crPending_ = false;
};

} // namespace

std::vector<std::string> SplitAtLineEnds(std::string_view text) {
    std::vector<std::string> lines;
    const std::function<void(std::string_view)> keep = [&lines](std::string_view line) {
        lines.emplace_back(line);
    };
    LineSplitter splitter(keep);
    splitter.add(text);
    splitter.finish();
    return lines;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    const auto nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return SplitAtLineEnds(text);
}

FileReadResult ReadRegularFile(const std::string& path, std::string& out) {
    out.clear();
    FileReadResult why;
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) return why;
    struct stat sb {};
    if (::fstat(fd, &sb) == 0 && sb.st_size > 0) out.reserve(static_cast<std::size_t>(sb.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return FileReadResult::Failed;
        }
        if (got == 0) break;
        out.append(buf, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return FileReadResult::Ok;
}

std::vector<std::string> ReadTextFile(const std::string& path) {
    std::string data;
    if (ReadRegularFile(path, data) != FileReadResult::Ok)
        throw FileError(FormatPathMessage("Cannot open file %s", path));
    return SplitTextLines(data);
}

std::string ReadUserTextFile(const std::string& path) {
    std::string data;
    if (ReadRegularFile(path, data) != FileReadResult::Ok)
        throw FileError(FormatPathMessage("Cannot open file %s", path));
    // A text saved as UTF-16 has a NUL beside every ASCII letter; its byte order mark
    // says what it is, so the user learns what to do about it.
    if (StartsAsUtf16(data)) throw FileError(path + " is a UTF-16 text file: save it as UTF-8");
    if (data.find('\0') != std::string::npos)
        throw FileError(path + " is not a text file: it contains NUL bytes");
    return data;
}

void ReadUserTextLines(const std::string& path, const std::function<void(std::string_view)>& line) {
    FileReadResult why;
    const int fd = OpenRegularFile(path, why);
    if (fd < 0) throw FileError(FormatPathMessage("Cannot open file %s", path));
    std::string head; // the first two bytes, for the byte order mark
    LineSplitter splitter(line);
    std::vector<char> buf(1 << 16);
    try {
        for (;;) {
            const ssize_t got = ::read(fd, buf.data(), buf.size());
            if (got < 0) {
                if (errno == EINTR) continue;
                throw FileError(FormatPathMessage("Cannot open file %s", path));
            }
            if (got == 0) break;
            const std::string_view piece(buf.data(), static_cast<std::size_t>(got));
            if (head.size() < 2) {
                head.append(piece.substr(0, 2 - head.size()));
                if (StartsAsUtf16(head))
                    throw FileError(path + " is a UTF-16 text file: save it as UTF-8");
            }
            if (piece.find('\0') != std::string_view::npos)
                throw FileError(path + " is not a text file: it contains NUL bytes");
            splitter.add(piece);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    splitter.finish();
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& l : lines)
        size += l.size() + 2;
    std::string out;
    out.reserve(size);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::string CannotCreateMessage(const std::string& path, int err) {
    return FormatPathMessage("Cannot create file %s", path) + ": " + SystemReason(err);
}

void WriteTextFile(const std::string& path, const std::vector<std::string>& lines) {
    if (const int err = ReplaceFileContent(path, JoinCrLf(lines)))
        throw FileError(CannotCreateMessage(path, err));
}

void AppendTextFile(const std::string& path, const std::vector<std::string>& lines) {
    if (const int err = AppendFileContent(path, JoinCrLf(lines)))
        throw FileError(CannotCreateMessage(path, err));
}

bool FileExists(const std::string& path) {
    struct stat sb {};
    return !path.empty() && ::stat(path.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode);
}

} // namespace tandrel
