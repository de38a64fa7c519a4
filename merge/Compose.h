// The merged, wrapped message of one recipient (before attachment parts).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Encoding.h"
#include "Model.h"

namespace tandrel {

inline constexpr std::size_t MaxLineLength = 995;

// Splits lines longer than MaxLineLength; every line ends up at most that long.
// A line is cut at the last blank among its first MaxLineLength characters, the blank
// starting the continuation line; without such a blank it is cut after
// MaxLineLength - 1 characters, and when that blank is its very first character,
// after MaxLineLength characters.
void WrapLongLines(std::vector<std::string>& lines);

// Merges the entry into MailText and wraps long lines. The header lines are merged one
// by one and a line break in a merged value becomes a blank, so a value can never add
// a header line; the body is merged as one text, so a value with line breaks becomes
// several body lines.
std::vector<std::string> ComposeMessage(const std::vector<VarIdent>& fields, const MailText& mail,
                                        const ReceipData& entry);

// The messages of one run, from one MailText: merged as ComposeMessage does, then a
// Message-ID, and for a header or body with non-ASCII bytes a charset, a
// quoted-printable body and encoded-words in the header.
class MessageComposer {
public:
    // fallbackHost: the Message-ID host when the merged From line has no domain.
    MessageComposer(const std::vector<VarIdent>& fields, const MailText& mail,
                    std::string fallbackHost);

    // ComposeMessage for this entry.
    std::vector<std::string> plain(const ReceipData& entry) const;
    // The complete message before attachment parts; `multipart`: attachments follow,
    // so a body line that looks like the boundary must be encoded.
    std::vector<std::string> compose(const ReceipData& entry, bool multipart);

private:
    void merge(const ReceipData& entry, std::vector<std::string>& header,
               std::vector<std::string>& body) const;

    const std::vector<VarIdent>& fields_;
    bool hasHeader_;
    std::vector<std::string> headerTemplate_;
    std::string joinedBody_;
    std::string fallbackHost_;
    MessageIdMaker ids_;
};

// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Lines end at CR LF, a lone CR or a lone LF; a break at the very end adds no empty
// line. Every other byte is kept.
std::vector<std::string> SplitLines(std::string_view text);

// Join with CR LF, merge the entry, split again (no wrapping): the merged text of a
// list of lines, as the preview shows it.
std::vector<std::string> MergeLines(const std::vector<VarIdent>& fields,
                                    const std::vector<std::string>& lines, const ReceipData& entry);

} // namespace tandrel
