// The merged, wrapped message of one recipient (before attachment parts).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace tandrel {

inline constexpr std::size_t MaxLineLength = 995;

// Splits lines longer than MaxLineLength; every line ends up at most that long.
// A line is cut at the last blank among its first MaxLineLength characters, the blank
// starting the continuation line; without such a blank it is cut after
// MaxLineLength - 1 characters, and when that blank is its very first character,
// after MaxLineLength characters.
void WrapLongLines(std::vector<std::string>& lines);

// Join MailText with CR LF, merge the entry, split into lines again, wrap.
std::vector<std::string> ComposeMessage(const std::vector<VarIdent>& fields, const MailText& mail,
                                        const ReceipData& entry);

// ComposeMessage for a template already joined by JoinLines (a run joins it once).
std::vector<std::string> ComposeMessageFromText(const std::vector<VarIdent>& fields,
                                                std::string_view joined, const ReceipData& entry);

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
