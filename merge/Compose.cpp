#include "Compose.h"

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

std::vector<std::string> ComposeMessageFromText(const std::vector<VarIdent>& fields,
                                                std::string_view joined, const ReceipData& entry) {
    std::string text(joined);
    MergeEntry(fields, entry, text);
    std::vector<std::string> lines = SplitLines(text);
    WrapLongLines(lines);
    return lines;
}

std::vector<std::string> ComposeMessage(const std::vector<VarIdent>& fields, const MailText& mail,
                                        const ReceipData& entry) {
    return ComposeMessageFromText(fields, JoinLines(mail.lines), entry);
}

std::vector<std::string> MergeLines(const std::vector<VarIdent>& fields,
                                    const std::vector<std::string>& lines,
                                    const ReceipData& entry) {
    std::string text = JoinLines(lines);
    MergeEntry(fields, entry, text);
    return SplitLines(text);
}

} // namespace tandrel
