// Merging the mail for one person: header lines, body, line wrapping, encodings.
#include "Compose.h"

#include <algorithm>

#include "Merge.h"
#include "TextFile.h"

namespace tandrel {

namespace {

// Appends the pieces of one line, each at most MaxLineLength long.
void AppendWrapped(std::vector<std::string>& out, std::string_view line) {
    constexpr std::size_t W = MaxLineLength;
    while (line.size() > W) {
        const std::size_t blank = line.rfind(' ', W - 1);
        std::size_t keep;
        if (blank == std::string_view::npos)
            keep = W - 1; // no blank: cut after W - 1 characters
        else if (blank == 0)
            keep = W; // only the leading blank: cutting there would make no progress
        else
            keep = blank; // the blank begins the continuation line
        out.emplace_back(line.substr(0, keep));
        line.remove_prefix(keep);
    }
    out.emplace_back(line);
}

} // namespace

void WrapLongLines(std::vector<std::string>& lines) {
    // Splitting one line never depends on another, so the repeated passes come down
    // to splitting each line on its own until every piece fits. Building a new list
    // keeps that linear where inserting into the old one would not be.
    std::size_t first = 0;
    while (first < lines.size() && lines[first].size() <= MaxLineLength)
        ++first;
    if (first == lines.size()) return;

    std::vector<std::string> out;
    out.reserve(lines.size() + 16);
    for (std::size_t i = 0; i < first; ++i)
        out.push_back(std::move(lines[i]));
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (lines[i].size() <= MaxLineLength)
            out.push_back(std::move(lines[i]));
        else
            AppendWrapped(out, lines[i]);
    }
    lines.swap(out);
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 2;
    std::string text;
    text.reserve(bytes);
    for (const auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text) {
    return SplitAtLineEnds(text);
}

std::vector<std::string> ComposeMessage(const std::vector<VarIdent>& fields, const MailText& mail,
                                        const ReceipData& entry) {
    return MessageComposer(fields, mail, std::string()).plain(entry);
}

MessageComposer::MessageComposer(const std::vector<VarIdent>& fields, const MailText& mail,
                                 std::string fallbackHost)
    : fields_(fields), hasHeader_(mail.MailHasHeader), fallbackHost_(std::move(fallbackHost)) {
    const auto& lines = mail.lines;
    auto bodyStart = lines.begin();
    if (hasHeader_) {
        const auto end = std::find(lines.begin(), lines.end(), std::string());
        if (end == lines.end()) {
            hasHeader_ = false; // no empty line: nothing can be told apart as header
        } else {
            headerTemplate_.assign(lines.begin(), end);
            bodyStart = end + 1;
        }
    }
    joinedBody_ = JoinLines(std::vector<std::string>(bodyStart, lines.end()));
}

void MessageComposer::merge(const ReceipData& entry, std::vector<std::string>& header,
                            std::vector<std::string>& body) const {
    header.clear();
    for (const std::string& t : headerTemplate_) {
        std::string line = t;
        MergeEntry(fields_, entry, line);
        header.push_back(OneLine(line));
    }
    std::string text = joinedBody_;
    MergeEntry(fields_, entry, text);
    body = SplitLines(text);
}

std::vector<std::string> MessageComposer::plain(const ReceipData& entry) const {
    std::vector<std::string> lines, body;
    merge(entry, lines, body);
    if (hasHeader_) lines.emplace_back();
    lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                 std::make_move_iterator(body.end()));
    WrapLongLines(lines);
    return lines;
}

namespace {

bool IsPlainTextTypeLine(std::string_view line) {
    constexpr std::string_view kLine = "content-type: text/plain";
    if (line.size() != kLine.size()) return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != kLine[i]) return false;
    }
    return true;
}

bool StartsWithBoundary(const std::string& line) {
    return line.rfind("--partbound", 0) == 0;
}

} // namespace

std::vector<std::string> MessageComposer::compose(const ReceipData& entry, bool multipart) {
    if (!hasHeader_) return plain(entry);
    std::vector<std::string> header, body;
    merge(entry, header, body);

    std::string all;
    bool ascii = true;
    for (const auto* part : {&header, &body})
        for (const std::string& l : *part) {
            ascii = ascii && IsAscii(l);
            all += l;
        }
    const bool encode =
        !ascii || (multipart && std::any_of(body.begin(), body.end(), StartsWithBoundary));

    std::string host;
    for (const std::string& l : header)
        if (l.size() >= 5 && (l[0] == 'F' || l[0] == 'f') && l.compare(1, 4, "rom:") == 0 &&
            host.empty())
            host = DomainOfAddress(std::string_view(l).substr(5));
    if (host.empty()) {
        if (fallbackHost_.empty()) fallbackHost_ = FullyQualifiedHostName("localhost");
        host = fallbackHost_;
    }
    const std::string messageId = "Message-ID: " + ids_.next(host);

    std::vector<std::string> lines;
    if (!encode) {
        lines = std::move(header);
        lines.push_back(messageId);
        lines.emplace_back();
        lines.insert(lines.end(), std::make_move_iterator(body.begin()),
                     std::make_move_iterator(body.end()));
        WrapLongLines(lines);
        return lines;
    }
    const std::string charset = IsValidUtf8(all) ? "utf-8" : "windows-1252";
    for (const std::string& l : header) {
        if (IsPlainTextTypeLine(l)) {
            lines.push_back("Content-type: text/plain; charset=" + charset);
            lines.emplace_back("Content-Transfer-Encoding: quoted-printable");
            continue;
        }
        for (std::string& piece : EncodeHeaderLine(l, charset))
            lines.push_back(std::move(piece));
    }
    lines.push_back(messageId);
    lines.emplace_back();
    for (std::string& l : QuotedPrintableLines(body))
        lines.push_back(std::move(l));
    return lines;
}

std::vector<std::string> MergeLines(const std::vector<VarIdent>& fields,
                                    const std::vector<std::string>& lines,
                                    const ReceipData& entry) {
    std::string text = JoinLines(lines);
    MergeEntry(fields, entry, text);
    return SplitLines(text);
}

} // namespace tandrel
