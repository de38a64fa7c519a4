// SPDX-License-Identifier: GPL-3.0-or-later
// Encodings that keep a message valid on any server and readable in any reader:
// charset choice, quoted-printable, header encoded-words, file-name parameters, Message-ID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/TextEncoding.h" // IsValidUtf8

namespace tandrel {

// The longest line a message holds (the wire allows 998 octets before CR LF).
inline constexpr std::size_t MaxLineLength = 995;

bool IsAscii(std::string_view text);

// Every CR, LF or CR LF becomes one blank, so a merged value cannot start a new line.
std::string OneLine(std::string_view text);

// The body lines as quoted-printable lines of at most 76 characters, each input line
// ending in a hard line break. A line that would start with "--" or "." is protected.
std::vector<std::string> QuotedPrintableLines(const std::vector<std::string>& lines);

// `text` is `lower` with any of its ASCII letters in either case.
bool EqualsNoCase(std::string_view text, std::string_view lower);

// True when the header line's name, before its colon, is `lowerName` in any case.
bool HeaderNameIs(std::string_view line, std::string_view lowerName);

// `text` with a backslash before every `"` and `\`: the inside of a quoted string.
std::string EscapeQuoted(std::string_view text);

// True for the List- lines (List-Unsubscribe, List-Help, ...), whose angle brackets
// hold URLs.
bool IsListHeader(std::string_view line);

// `text` with the bytes a URL cannot hold as %-escapes of their UTF-8 (text that is not
// UTF-8 is Windows-1252): non-ASCII, control characters, blanks and " < > \ ^ ` { | }.
// Every other character, "%" included, stays.
std::string PercentEncodeUrl(std::string_view text);

// A header line ("Name: value") with its non-ASCII words as RFC 2047 encoded-words in
// `charset`, folded onto continuation lines. Only phrases and text become encoded-words:
// quoted display names as a whole; what stands in angle brackets (addresses, the URLs
// of List- lines, Message-IDs) keeps its brackets and is never encoded so, a URL of a
// List- line having its bytes a URL cannot hold %-escaped (PercentEncodeUrl). A word
// too long for any line, or one a reader would not show as typed (a control character,
// or "=?" that reads as an encoded-word), becomes encoded-words too, except in
// addresses. Any other ASCII line of at most MaxLineLength characters is returned
// alone; a longer one is folded.
std::vector<std::string> EncodeHeaderLine(std::string_view line, std::string_view charset);

// `; name="..."` style parameter text for a file name: control characters removed,
// `"` and `\` escaped; a non-ASCII name, or one holding "=?", gets an ASCII fallback
// plus an RFC 2231 `name*=charset''...` form. Returns the parameter(s) without the leading "; ".
std::string FileNameParameter(std::string_view param, std::string_view fileName);

// Message-IDs for one run: unique per message and per run, without global state.
class MessageIdMaker {
public:
    MessageIdMaker();
    std::string next(std::string_view host); // "<...@host>"

private:
    std::string runPart_;
    std::uint64_t counter_ = 0;
};

// The domain of the first address in an address header value ("Ann <a@b.example>";
// a "<" inside a quoted display name does not count),
// or "" when it has none that could serve as a Message-ID host.
std::string DomainOfAddress(std::string_view value);

// The machine's fully qualified name, or `fallback` when it cannot be found.
std::string FullyQualifiedHostName(const std::string& fallback);

// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Lines end at CR LF, a lone CR or a lone LF; a break at the very end adds no empty
// line. Every other byte is kept.
std::vector<std::string> SplitLines(std::string_view text);

} // namespace tandrel
