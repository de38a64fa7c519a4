#include "TextFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Errors.h"

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

void WriteTextFile(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw FileError(FormatPathMessage("Cannot create file %s", path));
    bool ok = true;
    for (const auto& l : lines) {
        if (!l.empty() && std::fwrite(l.data(), 1, l.size(), f) != l.size()) ok = false;
        if (std::fwrite("\r\n", 1, 2, f) != 2) ok = false;
        if (!ok) break;
    }
    if (std::fclose(f) != 0) ok = false;
    if (!ok) throw FileError(FormatPathMessage("Cannot create file %s", path));
}

bool FileExists(const std::string& path) {
    struct stat sb {};
    return !path.empty() && ::stat(path.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode);
}

} // namespace tandrel
