// Reading and writing the plain text files: lines split at every line end, CR LF written.
#include "TextFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Errors.h"
#include "SafeFile.h"

namespace tandrel {

std::vector<std::string> SplitAtLineEnds(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    while (start < n) {
        // A plain scan: looking for either byte with a search per position costs far more.
        std::size_t i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n')
            ++i;
        lines.emplace_back(text.substr(start, i - start));
        if (i < n && text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return lines;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    const auto nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return SplitAtLineEnds(text);
}

FileReadResult ReadRegularFile(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileReadResult::Missing
                                                     : FileReadResult::Failed;
    struct stat sb {};
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        ::close(fd);
        return FileReadResult::Failed;
    }
    if (sb.st_size > 0) out.reserve(static_cast<std::size_t>(sb.st_size));
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
    if (data.starts_with("\xFF\xFE") || data.starts_with("\xFE\xFF"))
        throw FileError(path + " is a UTF-16 text file: save it as UTF-8");
    if (data.find('\0') != std::string::npos)
        throw FileError(path + " is not a text file: it contains NUL bytes");
    return data;
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
