// SPDX-License-Identifier: GPL-3.0-or-later
// Attachment parts of a multipart message: reading files, base64, part headers.
#include "merge/Mime.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

#include "merge/Encoding.h"
#include "merge/Fallback.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two base64 characters for every 12-bit value: a group of three bytes is two
// lookups, with no branch per character.
constexpr std::array<char, 8192> MakePairTable() {
    std::array<char, 8192> t{};
    for (int v = 0; v < 4096; ++v) {
        t[2 * v] = kAlphabet[v >> 6];
        t[2 * v + 1] = kAlphabet[v & 63];
    }
    return t;
}
constexpr std::array<char, 8192> kPairs = MakePairTable();

std::uint16_t PairAt(unsigned v) {
    std::uint16_t pair;
    std::memcpy(&pair, &kPairs[2 * v], 2);
    return pair;
}

// Encodes whole groups of three bytes. Two groups at a time: one 8-byte load (only
// while at least 9 bytes remain, so it never reads past the input) and one 8-byte
// store of four character pairs.
inline void EncodeGroups(const unsigned char* in, std::size_t groups, char* out) {
    for (; groups >= 3; groups -= 2, in += 6, out += 8) {
        std::uint64_t x;
        std::memcpy(&x, in, 8);
        if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
        const unsigned a = static_cast<unsigned>(x >> 40);
        const unsigned b = static_cast<unsigned>(x >> 16) & 0xFFFFFF;
        std::uint16_t pairs[4] = {PairAt(a >> 12), PairAt(a & 0xFFF), PairAt(b >> 12),
                                  PairAt(b & 0xFFF)};
        std::memcpy(out, pairs, 8);
    }
    for (; groups > 0; --groups, in += 3, out += 4) {
        const unsigned v = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
        std::memcpy(out, &kPairs[2 * (v >> 12)], 2);
        std::memcpy(out + 2, &kPairs[2 * (v & 0xFFF)], 2);
    }
}

constexpr std::string_view kMultipartLine = "Content-Type: multipart/mixed; boundary=partbound";
constexpr std::string_view kTextPlainLine = "Content-type: text/plain";

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// What tells one state of a file from another without reading it: a file renamed over
// it is another inode, writing moves its modification time, and setting that time back
// moves its status-change time. A file read again later must still match what was
// counted then, even at the same size.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp StampOf(const struct stat& sb) {
    return {static_cast<std::uint64_t>(sb.st_dev),
            static_cast<std::uint64_t>(sb.st_ino),
            static_cast<std::uint64_t>(sb.st_size),
            sb.st_mtim.tv_sec,
            sb.st_mtim.tv_nsec,
            sb.st_ctim.tv_sec,
            sb.st_ctim.tv_nsec};
}

// A file opened for reading raw bytes; only regular files count as readable (a
// device or pipe could block or never end). Opening does not wait for a pipe's writer.
// Its stamp is that of the file opened, not of whatever the path names by then.
class InFile {
public:
    explicit InFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) return;
        struct stat sb {};
        if (::fstat(fd_, &sb) != 0 || !S_ISREG(sb.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        stamp_ = StampOf(sb);
    }
    ~InFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    std::uint64_t size() const { return stamp_.size; }
    const FileStamp& stamp() const { return stamp_; }
    bool failed() const { return failed_; }
    // Whether the open file is as it was when opened (not written meanwhile).
    bool unchangedSinceOpened() const {
        struct stat sb {};
        return ::fstat(fd_, &sb) == 0 && StampOf(sb) == stamp_;
    }

    // Fills up to `cap` bytes; fewer only at the end of the file or on a read error.
    std::size_t fill(unsigned char* buf, std::size_t cap) {
        std::size_t got = 0;
        while (got < cap) {
            const ssize_t n = ::read(fd_, buf + got, cap - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                failed_ = true;
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

private:
    int fd_ = -1;
    FileStamp stamp_;
    bool failed_ = false;
};

// The lines of one part live in one block, whose text has a 32-bit length.
constexpr std::uint64_t kMaxPartBytes = UINT32_MAX;

[[noreturn]] void ThrowTooLarge(const std::string& path) {
    throw ComposeError("The attachment file " + OneLine(path) + " is too large to be sent");
}

std::string ChangedText(const std::string& path) {
    return "The attachment file " + OneLine(path) + " changed since the mails were prepared";
}

[[noreturn]] void ThrowUnreadable(const std::string& path) {
    const std::string problem = AttachmentProblem(path);
    throw ComposeError("The attachment file " + OneLine(path) + " " +
                       (problem.empty() ? "cannot be read" : problem));
}

struct Base64Body {
    bool header = false;
    std::uint64_t fileSize = 0;
    std::uint64_t dataLines = 0;
};

Base64Body AppendBase64File(LineBlock& block, const std::string& path, PrepGauge* gauge) {
    Base64Body body;
    InFile in(path);
    if (!in.ok()) ThrowUnreadable(path);
    body.header = true;
    block.append("Content-Transfer-Encoding: base64");
    block.append("");
    body.fileSize = in.size();
    const std::uint64_t expected = Base64LineCount(body.fileSize);
    if (expected > (kMaxPartBytes - block.textBytes()) / kBase64LineLength) ThrowTooLarge(path);
    if (gauge) gauge->beginBase64(body.fileSize);

    if (expected < (std::uint64_t{1} << 26))
        block.reserve(block.textBytes() + expected * kBase64LineLength, block.size() + expected);

    constexpr std::size_t kChunkLines = 16384;
    const std::size_t chunkLines =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(expected + 1, 64, kChunkLines));
    std::vector<unsigned char> buf(chunkLines * kBase64LineBytes);
    for (;;) {
        const std::size_t got = in.fill(buf.data(), buf.size());
        // Half a file must not go out as if it were the whole of it.
        if (in.failed()) throw ComposeError("Cannot read the attachment file " + OneLine(path));
        AppendBase64Lines(block, buf.data(), got);
        body.dataLines += Base64LineCount(got);
        if (gauge) gauge->base64LinesDone(body.dataLines);
        if (got < buf.size()) break;
    }
    return body;
}

// Reads a text attachment whole; throws ComposeError naming the file. With `expected`,
// the file must be the one stamped so before, and not change while it is read; `seen`
// gets the stamp of the file read.
std::string ReadTextAttachment(const std::string& path, const FileStamp* expected = nullptr,
                               FileStamp* seen = nullptr) {
    InFile in(path);
    if (!in.ok()) ThrowUnreadable(path);
    if (expected && in.stamp() != *expected) throw ComposeError(ChangedText(path));
    if (seen) *seen = in.stamp();
    if (in.size() > kMaxPartBytes) ThrowTooLarge(path);
    std::string data;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        const std::size_t got = in.fill(buf.data(), buf.size());
        if (in.failed()) throw ComposeError("Cannot read the attachment file " + OneLine(path));
        data.append(reinterpret_cast<const char*>(buf.data()), got);
        if (got < buf.size()) break;
    }
    if (expected && !in.unchangedSinceOpened()) throw ComposeError(ChangedText(path));
    return data;
}

// Lines end at CR LF or LF. Sent as lines only when that gives the recipient the same
// text back and cannot break the message: ASCII only (8-bit text needs an extension the
// relay was never asked for), no NUL, no bare CR, no line over 998 octets, no line
// that reads as a boundary of this message.
bool SendableAsLines(std::string_view text) {
    if (text.find('\0') != std::string_view::npos || !IsAscii(text)) return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) lf = text.size();
        std::string_view line = text.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r' && lf < text.size()) line.remove_suffix(1);
        if (line.size() > 998 || line.find('\r') != std::string_view::npos ||
            line.substr(0, kBoundary.size() + 2) == "--partbound")
            return false;
        start = lf + 1;
    }
    return true;
}

void AppendTextLines(LineBlock& block, std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t i = text.find_first_of("\r\n", start);
        if (i == std::string_view::npos) i = text.size();
        block.append(text.substr(start, i - start));
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
}

bool IsBase64Type(std::string_view type) {
    const auto slash = type.rfind('/');
    const std::string_view major = slash == std::string_view::npos ? type : type.substr(0, slash);
    return major == "application" || major == "image";
}

void AppendTextBody(LineBlock& block, const std::string& text) {
    if (SendableAsLines(text)) {
        block.append("");
        AppendTextLines(block, text);
    } else {
        block.append("Content-Transfer-Encoding: base64");
        block.append("");
        AppendBase64Lines(block, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
}

Base64Body AppendBody(LineBlock& block, const std::string& path, const std::string& type,
                      PrepGauge* gauge) {
    if (IsBase64Type(type)) return AppendBase64File(block, path, gauge);
    AppendTextBody(block, ReadTextAttachment(path));
    return {};
}

std::string PartTypeOf(const std::string& path) {
    return ContentTypeOf(OneLine(FileNameOfPath(path)));
}

// The boundary, Content-type and Content-Disposition lines of a part; a text part with
// 8-bit bytes names its charset, so a reader shows the characters the file holds.
void AppendPartHeader(LineBlock& block, const std::string& path, const std::string& type,
                      std::string_view charset = {}) {
    const std::string name = FileNameOfPath(path);
    block.append("--partbound");
    block.append("Content-type: " + type + (charset.empty() ? "" : "; charset=") +
                 std::string(charset) + "; " + FileNameParameter("name", name));
    block.append("Content-Disposition: attachment; " + FileNameParameter("filename", name));
}

// UTF-8 when the text is valid UTF-8, else for plain text the Windows code page the
// editors also assume; none for ASCII, for text with NUL bytes (no 8-bit text at all),
// or for other text types, such as HTML, which may name their charset themselves.
std::string_view TextCharset(std::string_view text, std::string_view type) {
    if (IsAscii(text) || text.find('\0') != std::string_view::npos) return {};
    if (IsValidUtf8(text)) return "utf-8";
    return type == "text/plain" ? "windows-1252" : "";
}

// A text part from one reading of the file: its charset decides the header.
void AppendTextPart(LineBlock& block, const std::string& path, const std::string& type,
                    const FileStamp* expected = nullptr, FileStamp* seen = nullptr) {
    try {
        const std::string text = ReadTextAttachment(path, expected, seen);
        AppendPartHeader(block, path, type, TextCharset(text, type));
        AppendTextBody(block, text);
    } catch (const std::length_error&) {
        // A file that grew past the limit while it was read.
        ThrowTooLarge(path);
    }
}

Base64Body AppendPart(LineBlock& block, const std::string& path, PrepGauge* gauge) {
    const std::string type = PartTypeOf(path);
    if (!IsBase64Type(type)) {
        AppendTextPart(block, path, type);
        return {};
    }
    AppendPartHeader(block, path, type);
    try {
        return AppendBase64File(block, path, gauge);
    } catch (const std::length_error&) {
        ThrowTooLarge(path);
    }
}

// Bytes of the base64 lines of a file of `bytes` bytes.
constexpr std::uint64_t Base64TextBytes(std::uint64_t bytes) {
    return bytes / kBase64LineBytes * kBase64LineLength + (bytes % kBase64LineBytes + 2) / 3 * 4;
}

// One person's attachment part, read and encoded only while its message is sent. The
// file must still be the readable regular file it was when counted: same device, inode,
// size and times. The check before the message looks at the path; the reader compares
// the file it opened, so a swap between the two is caught as well.
class DeferredPart : public DeferredLines {
public:
    DeferredPart(std::string path, const FileStamp& stamp, std::size_t lines, std::uint64_t bytes)
        : DeferredLines(lines, bytes), path_(std::move(path)), stamp_(stamp) {}

    std::optional<std::string> problem() const override {
        const std::string why = AttachmentProblem(path_);
        if (!why.empty()) return "The attachment file " + OneLine(path_) + " " + why;
        struct stat sb {};
        if (::stat(path_.c_str(), &sb) != 0 || StampOf(sb) != stamp_) return ChangedText(path_);
        return std::nullopt;
    }

protected:
    std::string path_;
    FileStamp stamp_;
};

// A base64 part: its header lines, then the file in blocks of a few hundred kilobytes,
// read as they are needed.
class DeferredBase64Part final : public DeferredPart {
public:
    using DeferredPart::DeferredPart;

    std::unique_ptr<Reader> open() const override {
        return std::make_unique<PartReader>(path_, stamp_);
    }

private:
    class PartReader final : public Reader {
    public:
        PartReader(const std::string& path, const FileStamp& stamp)
            : path_(path), left_(stamp.size), in_(path) {
            if (!in_.ok()) ThrowUnreadable(path_);
            if (in_.stamp() != stamp) throw ComposeError(ChangedText(path_));
        }
        SharedBlock next() override {
            auto block = std::make_shared<LineBlock>();
            if (!headerDone_) {
                headerDone_ = true;
                AppendPartHeader(*block, path_, PartTypeOf(path_));
                block->append("Content-Transfer-Encoding: base64");
                block->append("");
                return block;
            }
            if (left_ == 0) return nullptr;
            constexpr std::size_t kChunkLines = 4096;
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(left_, kChunkLines * kBase64LineBytes));
            buf_.resize(want);
            const std::size_t got = in_.fill(buf_.data(), want);
            if (in_.failed())
                throw ComposeError("Cannot read the attachment file " + OneLine(path_));
            left_ -= got;
            // Shorter or longer than counted, or written while it was read: the message
            // would not be what was checked.
            unsigned char probe;
            if (got < want ||
                (left_ == 0 && (in_.fill(&probe, 1) != 0 || !in_.unchangedSinceOpened())))
                throw ComposeError(ChangedText(path_));
            block->reserve(Base64TextBytes(got), Base64LineCount(got));
            AppendBase64Lines(*block, buf_.data(), got);
            return block;
        }

    private:
        std::string path_;
        std::uint64_t left_;
        InFile in_;
        std::vector<unsigned char> buf_;
        bool headerDone_ = false;
    };
};

// A text part (lines or base64, decided by the file's content): built whole when it
// is needed, as it was when counted.
class DeferredTextPart final : public DeferredPart {
public:
    using DeferredPart::DeferredPart;

    std::unique_ptr<Reader> open() const override {
        auto block = std::make_shared<LineBlock>();
        AppendTextPart(*block, path_, PartTypeOf(path_), &stamp_);
        return std::make_unique<OneBlock>(std::move(block));
    }

private:
    class OneBlock final : public Reader {
    public:
        explicit OneBlock(SharedBlock block) : block_(std::move(block)) {}
        SharedBlock next() override { return std::exchange(block_, nullptr); }

    private:
        SharedBlock block_;
    };
};

// Counts one person's part without keeping it: a base64 part from the file's size, a
// text part by building it once. Moves the gauge as encoding it would.
std::pair<DeferredPtr, Base64Body> CountPart(const std::string& path, PrepGauge* gauge) {
    LineBlock block;
    const std::string type = PartTypeOf(path);
    if (!IsBase64Type(type)) {
        FileStamp stamp;
        AppendTextPart(block, path, type, nullptr, &stamp);
        return {std::make_shared<DeferredTextPart>(path, stamp, block.size(), block.textBytes()),
                Base64Body{}};
    }
    InFile in(path);
    if (!in.ok()) ThrowUnreadable(path);
    AppendPartHeader(block, path, type);
    block.append("Content-Transfer-Encoding: base64");
    block.append("");
    Base64Body body{true, in.size(), Base64LineCount(in.size())};
    if (body.dataLines > (kMaxPartBytes - block.textBytes()) / kBase64LineLength)
        ThrowTooLarge(path);
    if (gauge) {
        gauge->beginBase64(body.fileSize);
        gauge->base64LinesDone(body.dataLines);
    }
    auto part = std::make_shared<DeferredBase64Part>(
        path, in.stamp(), block.size() + static_cast<std::size_t>(body.dataLines),
        block.textBytes() + Base64TextBytes(body.fileSize));
    return {std::move(part), body};
}

// A value that may not go into a path with a fixed folder: it would name another
// folder, or climb out of this one.
bool LeavesFolder(std::string_view value) {
    return value.find_first_of("/\\") != std::string_view::npos || value == "." || value == "..";
}

// The first value reaching `pattern` that would lead it out of the folder written
// before its first placeholder; "" when there is none or the pattern names no folder
// there. A value holding a bracket may bring any other placeholder in with it, as may
// brackets nested in the pattern ("[[name]x]" holds no "[x]" until [name] is merged),
// and then every value counts.
std::string ValueLeavingFolder(const std::string& pattern, const FieldIndex& index,
                               const Person& entry) {
    const std::string_view fixed = std::string_view(pattern).substr(0, pattern.find('['));
    if (fixed.find_first_of("/\\") == std::string_view::npos) return {};
    const std::size_t slots = 2 + PairedFields(index.fields().size(), entry);
    const auto value = [&](std::size_t s) -> const std::string& {
        return s == 0 ? entry.name() : s == 1 ? entry.email() : ValueOf(entry, s - 2);
    };
    std::vector<std::size_t> used;
    bool everyValue = false;
    for (std::size_t open = pattern.find('['); open != std::string::npos && !everyValue;) {
        const std::size_t close = pattern.find_first_of("[]", open + 1);
        if (close == std::string::npos) break;
        if (pattern[close] == '[') {
            everyValue = true;
            break;
        }
        // "[field|text]" reaches the path through its field too.
        const std::string_view name = std::string_view(pattern).substr(open + 1, close - open - 1);
        if (const auto* steps = index.stepsOf(name.substr(0, name.find('|'))))
            for (const std::size_t s : *steps)
                if (s < slots) used.push_back(s);
        open = pattern.find('[', close);
    }
    for (const std::size_t s : used) {
        if (LeavesFolder(value(s))) return value(s);
        everyValue = everyValue || value(s).find_first_of("[]") != std::string::npos;
    }
    if (!everyValue) return {};
    // Values a short row leaves out are empty and lead nowhere.
    const std::size_t stored = std::min(slots, 2 + entry.values.size());
    for (std::size_t s = 0; s < stored; ++s)
        if (LeavesFolder(value(s))) return value(s);
    return {};
}

void CopyLines(const LineBlock& block, std::vector<std::string>& lines) {
    lines.reserve(lines.size() + block.size());
    for (std::size_t i = 0; i < block.size(); ++i)
        lines.emplace_back(block.line(i));
}

} // namespace

std::string AttachmentProblem(const std::string& path) {
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0)
        return errno == ENOENT || errno == ENOTDIR
                   ? "does not exist"
                   : std::string("cannot be read: ") + std::strerror(errno);
    if (S_ISDIR(sb.st_mode)) return "is a folder, not a file";
    if (!S_ISREG(sb.st_mode)) return "is not a regular file";
    InFile in(path);
    if (!in.ok()) return std::string("cannot be read: ") + std::strerror(errno);
    unsigned char probe;
    in.fill(&probe, 1);
    if (in.failed()) return "cannot be read";
    return {};
}

std::string ContentTypeOf(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    std::string ext(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (ext == "txt") return "text/plain";
    if (ext == "eml") return "text/rfc822";
    if (ext == "htm" || ext == "html" || ext == "dhtml" || ext == "shtml") return "text/html";
    if (ext == "gif") return "image/gif";
    if (ext == "bmp") return "image/bmp";
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    return "application/octet-stream";
}

std::size_t EncodeBase64(const unsigned char* bytes, std::size_t count, char* out) {
    const std::size_t groups = count / 3;
    EncodeGroups(bytes, groups, out);
    char* o = out + 4 * groups;
    const unsigned char* in = bytes + 3 * groups;
    switch (count % 3) {
    case 1:
        *o++ = kAlphabet[in[0] >> 2];
        *o++ = kAlphabet[(in[0] & 3) << 4];
        *o++ = '=';
        *o++ = '=';
        break;
    case 2:
        *o++ = kAlphabet[in[0] >> 2];
        *o++ = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
        *o++ = kAlphabet[(in[1] & 15) << 2];
        *o++ = '=';
        break;
    default:
        break;
    }
    return static_cast<std::size_t>(o - out);
}

std::string EncodeBase64Chunk(const unsigned char* bytes, std::size_t count) {
    std::string out((count + 2) / 3 * 4, '\0');
    out.resize(EncodeBase64(bytes, count, out.data()));
    return out;
}

void AppendBase64Lines(LineBlock& block, const unsigned char* bytes, std::size_t count) {
    char line[kBase64LineLength];
    while (count >= kBase64LineBytes) {
        EncodeGroups(bytes, kBase64LineBytes / 3, line);
        block.appendWithoutBreaks(std::string_view(line, kBase64LineLength));
        bytes += kBase64LineBytes;
        count -= kBase64LineBytes;
    }
    if (count > 0)
        block.appendWithoutBreaks(std::string_view(line, EncodeBase64(bytes, count, line)));
}

// The type line a formatted (Markdown) mail's body part starts with.
constexpr std::string_view kFormattedTypeLine = "Content-Type: multipart/alternative; boundary=";

void MakeMultipart(std::vector<std::string>& lines) {
    const auto end =
        std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.empty(); });
    // The text/plain line, bare or with the charset a non-ASCII mail carries, or the
    // type line of formatted mail.
    const auto ct = std::find_if(lines.begin(), end, [](const std::string& l) {
        return EqualsIgnoreCase(l, kTextPlainLine) || l.starts_with(kFormattedTypeLine) ||
               (l.size() > kTextPlainLine.size() &&
                EqualsIgnoreCase(std::string_view(l).substr(0, kTextPlainLine.size() + 1),
                                 std::string(kTextPlainLine) + ";"));
    });
    if (ct == end || end == lines.end())
        throw ComposeError("The mail has no header block, so it cannot carry attachments");
    std::vector<std::string> partHeader = {
        EqualsIgnoreCase(*ct, kTextPlainLine) ? std::string(kTextPlainLine) : *ct};
    *ct = kMultipartLine;
    auto stop = end;
    const auto cte = ct + 1;
    if (cte != end && cte->rfind("Content-Transfer-Encoding:", 0) == 0) {
        // The encoding belongs to the text part; a multipart is never encoded itself.
        partHeader.push_back(*cte);
        lines.erase(cte);
        stop = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.empty(); });
    }
    std::vector<std::string> preamble = {"This is a multi-part message in MIME format", "",
                                         "--partbound"};
    preamble.insert(preamble.end(), partHeader.begin(), partHeader.end());
    preamble.emplace_back();
    lines.insert(stop + 1, preamble.begin(), preamble.end());
}

namespace {

bool HoldsPlaceholder(std::string_view path) {
    return path.find('[') != std::string_view::npos && path.find(']') != std::string_view::npos;
}

// The first folder or file name of `merged` that begins with "." (other than "." and
// "..") and is not one of the names `pattern` itself writes; "" when there is none.
std::string HiddenPartOf(std::string_view merged, std::string_view pattern) {
    const auto parts = [](std::string_view path) {
        std::vector<std::string_view> out;
        for (std::size_t start = 0; start <= path.size();) {
            const std::size_t slash = std::min(path.find('/', start), path.size());
            out.push_back(path.substr(start, slash - start));
            start = slash + 1;
        }
        return out;
    };
    const std::vector<std::string_view> written = parts(pattern);
    for (const std::string_view part : parts(merged))
        if (part.starts_with('.') && part != "." && part != ".." &&
            std::find(written.begin(), written.end(), part) == written.end())
            return std::string(part);
    return {};
}

} // namespace

bool ValuesChooseWholePath(std::string_view path) {
    return HoldsPlaceholder(path) &&
           path.substr(0, path.find('[')).find_first_of("/\\") == std::string_view::npos;
}

PersonalPath AttachmentPathOf(const std::string& path, const FieldIndex& fields,
                              const Person& entry) {
    PersonalPath out{path, {}};
    if (!HoldsPlaceholder(path)) return out;
    MergePlaceholders(fields, entry, out.path);
    if (ValuesChooseWholePath(path)) {
        if (const std::string hidden = HiddenPartOf(out.path, path); !hidden.empty()) {
            out.problem = "the attachment path " + OneLine(path) + " becomes " + OneLine(out.path) +
                          ", which names the hidden file or folder " + OneLine(hidden);
            out.path.clear();
            out.hiddenPart = true;
        }
        return out;
    }
    if (const std::string value = ValueLeavingFolder(path, fields, entry); !value.empty()) {
        out.problem = "the value \"" + OneLine(value) + "\" would lead the attachment path " +
                      OneLine(path) + " out of its folder";
        out.path.clear();
    }
    return out;
}

std::string AttachmentPathFor(const std::string& path, const FieldIndex& fields,
                              const Person& entry) {
    PersonalPath p = AttachmentPathOf(path, fields, entry);
    if (!p.problem.empty())
        throw ComposeError(OneLine(entry.name().empty() ? entry.email() : entry.name()) + ": " +
                           p.problem);
    return std::move(p.path);
}

void AddAttachmentBody(LineBlock& block, const std::string& path, const std::string& type,
                       PrepGauge* gauge) {
    AppendBody(block, path, type, gauge);
}

void AddAttachmentBody(std::vector<std::string>& lines, const std::string& path,
                       const std::string& type) {
    LineBlock block;
    AppendBody(block, path, type, nullptr);
    CopyLines(block, lines);
}

void AddBase64Body(LineBlock& block, const std::string& path, PrepGauge* gauge) {
    AppendBase64File(block, path, gauge);
}

void AddBase64Body(std::vector<std::string>& lines, const std::string& path) {
    LineBlock block;
    AppendBase64File(block, path, nullptr);
    CopyLines(block, lines);
}

void AddAttachmentPart(LineBlock& block, const std::string& path, PrepGauge* gauge) {
    AppendPart(block, path, gauge);
}

void AddAttachmentParts(const std::vector<Field>& fields, const Person& entry,
                        const std::vector<Attachment>& attachments, std::vector<std::string>& lines,
                        PrepGauge* gauge) {
    // Built aside, so a failing attachment leaves the message as it was.
    std::vector<std::string> out = lines;
    MakeMultipart(out);
    if (gauge) gauge->beginAttachments();
    const FieldIndex index(fields);
    for (std::size_t k = 0; k < attachments.size(); ++k) {
        LineBlock block;
        AppendPart(block, AttachmentPathFor(attachments[k].path, index, entry), gauge);
        CopyLines(block, out);
        if (gauge) gauge->attachmentDone(k + 1);
    }
    out.emplace_back("--partbound--");
    lines.swap(out);
}

AttachmentSet::AttachmentSet(const std::vector<Field>& fields,
                             const std::vector<Attachment>& attachments)
    : fields_(fields), attachments_(attachments) {
    auto closing = std::make_shared<LineBlock>();
    closing->append("--partbound--");
    closing_ = std::move(closing);
}

AttachmentSet::Part AttachmentSet::prepare(const std::string& path, bool own, PrepGauge* gauge) {
    Part part;
    Base64Body body;
    // A file that reports no size (those under /proc) can only be known by reading it to
    // its end, as a shared file is; it is encoded now.
    struct stat sb {};
    if (own && ::stat(path.c_str(), &sb) == 0 && sb.st_size > 0) {
        std::tie(part.deferred, body) = CountPart(path, gauge);
    } else {
        auto block = std::make_shared<LineBlock>();
        body = AppendPart(*block, path, gauge);
        part.block = std::move(block);
    }
    part.base64 = body.header;
    part.fileSize = body.fileSize;
    part.dataLines = body.dataLines;
    return part;
}

MessageLines AttachmentSet::compose(std::vector<std::string> composed, const Person& entry,
                                    PrepGauge* gauge) {
    if (attachments_.empty()) return MessageLines(composed);
    MakeMultipart(composed);
    MessageLines msg(composed);
    if (gauge) gauge->beginAttachments();
    for (std::size_t k = 0; k < attachments_.size(); ++k) {
        const std::string& pattern = attachments_[k].path;
        std::string path = AttachmentPathFor(pattern, fields_, entry);
        auto it = cache_.find(path);
        if (it == cache_.end()) {
            // One person's own file would be held for the whole run if encoded now.
            const bool own =
                pattern.find('[') != std::string::npos && pattern.find(']') != std::string::npos;
            Part part = prepare(path, own, gauge);
            it = cache_.emplace(std::move(path), std::move(part)).first;
        } else if (gauge && it->second.base64) {
            // The same steps as encoding the file again would take.
            gauge->beginBase64(it->second.fileSize);
            gauge->base64LinesDone(it->second.dataLines);
        }
        if (it->second.deferred)
            msg.appendDeferred(it->second.deferred);
        else
            msg.appendShared(it->second.block);
        if (gauge) gauge->attachmentDone(k + 1);
    }
    msg.appendShared(closing_);
    return msg;
}

} // namespace tandrel
