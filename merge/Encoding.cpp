// SPDX-License-Identifier: GPL-3.0-or-later
// Charset choice, quoted-printable, RFC 2047 header words, RFC 2231 file-name
// parameters and Message-IDs for composed messages.
#include "merge/Encoding.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <netdb.h>
#include <random>
#include <unistd.h>

#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// "=XX" for quoted-printable and encoded-words, "%XX" with `mark` '%'.
void AppendHexByte(std::string& out, unsigned char b, char mark = '=') {
    out += mark;
    out += kHex[b >> 4];
    out += kHex[b & 15];
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool IsHostName(std::string_view s) {
    if (s.empty() || s.front() == '.' || s.back() == '.') return false;
    for (char c : s)
        if (!IsHostChar(c)) return false;
    return true;
}

// Bytes that begin one character: a UTF-8 sequence stays whole inside one encoded-word.
std::size_t CharLength(std::string_view text, std::size_t i, bool utf8) {
    if (!utf8) return 1;
    std::size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

// RFC 2047 "Q" text safe in every header position, phrases included.
void AppendQ(std::string& out, std::string_view bytes) {
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == ' ')
            out += '_';
        else if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                 b == '!' || b == '*' || b == '+' || b == '-' || b == '/')
            out += ch;
        else
            AppendHexByte(out, b);
    }
}

std::size_t QLength(std::string_view bytes) {
    std::string s;
    AppendQ(s, bytes);
    return s.size();
}

// Encoded-words of at most 75 characters for `text`, separated by blanks.
std::string EncodedWords(std::string_view text, std::string_view charset) {
    const bool utf8 = charset == "utf-8";
    const std::string open = "=?" + std::string(charset) + "?Q?";
    const std::size_t room = 75 - open.size() - 2;
    std::string out;
    std::string word;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = CharLength(text, i, utf8);
        const std::string_view ch = text.substr(i, n);
        if (!word.empty() && word.size() + QLength(ch) > room) {
            out += open + word + "?= ";
            word.clear();
        }
        AppendQ(word, ch);
        i += n;
    }
    out += open + word + "?=";
    return out;
}

std::string Unquote(std::string_view quoted) {
    std::string s;
    for (std::size_t i = 1; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size())
            s += quoted[++i];
        else if (quoted[i] != '"' || i + 1 != quoted.size())
            s += quoted[i];
    }
    return s;
}

struct Token {
    enum Kind { Blank, Word, Quoted, Angle, Special } kind;
    std::string_view text;
};

// What a header value is made of: text, addresses (display names, quoted strings,
// addresses in angle brackets, commas), or angle-bracketed items such as the URLs of
// the List- lines and Message-IDs.
enum class HeaderSyntax { Text, Addresses, AngleItems };

HeaderSyntax SyntaxOf(std::string_view line) {
    for (std::string_view name : {"from", "to", "cc", "reply-to"})
        if (HeaderNameIs(line, name)) return HeaderSyntax::Addresses;
    for (std::string_view name : {"message-id", "in-reply-to", "references"})
        if (HeaderNameIs(line, name)) return HeaderSyntax::AngleItems;
    return IsListHeader(line) ? HeaderSyntax::AngleItems : HeaderSyntax::Text;
}

// Every "<...>" of a List- line in `charset` with the bytes a URL cannot hold %-escaped.
std::string EscapeListUrls(std::string_view line, std::string_view charset) {
    std::string out;
    std::size_t done = 0;
    for (std::size_t open = line.find('<', line.find(':')); open != std::string_view::npos;
         open = line.find('<', done)) {
        const std::size_t close = line.find('>', open);
        if (close == std::string_view::npos) break;
        out += line.substr(done, open + 1 - done);
        const std::string_view url = line.substr(open + 1, close - open - 1);
        std::string escaped =
            PercentEncodeUrl(charset == "utf-8" ? std::string(url) : Windows1252ToUtf8(url));
        // In the query a "?" may as well be escaped, and "=?" there would read as the
        // start of an encoded-word to a reader that decodes them anywhere.
        for (std::size_t q = escaped.find('?'), at;
             q != std::string::npos && (at = escaped.find("=?", q + 1)) != std::string::npos;
             q = at + 2)
            escaped.replace(at + 1, 1, "%3F");
        out += escaped;
        done = close;
    }
    out += line.substr(done);
    return out;
}

std::vector<Token> Tokenize(std::string_view v, HeaderSyntax syntax) {
    const bool addressHeader = syntax == HeaderSyntax::Addresses;
    const bool angles = syntax != HeaderSyntax::Text;
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < v.size()) {
        const std::size_t start = i;
        const char c = v[i];
        Token::Kind kind = Token::Word;
        if (c == ' ' || c == '\t') {
            kind = Token::Blank;
            while (i < v.size() && (v[i] == ' ' || v[i] == '\t'))
                ++i;
        } else if (addressHeader && c == '"') {
            kind = Token::Quoted;
            for (++i; i < v.size() && v[i] != '"'; ++i)
                if (v[i] == '\\') ++i;
            i = std::min(i + 1, v.size());
        } else if (angles && c == '<') {
            kind = Token::Angle;
            const std::size_t close = v.find('>', i);
            i = close == std::string_view::npos ? v.size() : close + 1;
        } else if (addressHeader && c == ',') {
            kind = Token::Special;
            ++i;
        } else {
            while (i < v.size() && v[i] != ' ' && v[i] != '\t' &&
                   !(addressHeader && (v[i] == '"' || v[i] == ',')) && !(angles && v[i] == '<'))
                ++i;
        }
        out.push_back(Token{kind, v.substr(start, i - start)});
    }
    return out;
}

// Folds at blanks so that lines stay near 76 characters; in an address header never
// inside a quoted string (elsewhere a quote mark is just a character). Not before
// `valueStart`: a break after the colon would give the value a leading blank.
std::vector<std::string> Fold(const std::string& line, bool address, std::size_t valueStart) {
    constexpr std::size_t kWidth = 76;
    std::vector<std::string> out;
    std::size_t start = 0;
    std::size_t lastBreak = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '\\') {
            ++i; // the escaped character neither ends the string nor breaks the line
            continue;
        }
        if (address && c == '"') quoted = !quoted;
        if (c == ' ' && !quoted && i > start && i >= valueStart) lastBreak = i;
        if (i - start >= kWidth && lastBreak != std::string::npos && lastBreak > start) {
            out.push_back(line.substr(start, lastBreak - start));
            start = lastBreak;
            lastBreak = std::string::npos;
        }
    }
    out.push_back(line.substr(start));
    return out;
}

// Text a reader would not show as it stands: a control character (a tab aside), or the
// opening of what a reader takes for an encoded-word and decodes.
bool NotShownAsTyped(std::string_view text) {
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return text.find("=?") != std::string_view::npos;
}

// Longer words could not be folded onto a line the wire takes, with a header name before
// them; they are sent as encoded-words, which may be folded anywhere.
constexpr std::size_t kLongestWord = 900;

} // namespace

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> QuotedPrintableLines(const std::vector<std::string>& lines) {
    constexpr std::size_t kWidth = 76;
    std::vector<std::string> out;
    out.reserve(lines.size());
    std::string token;
    for (const std::string& line : lines) {
        std::string cur;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto b = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            token.clear();
            const bool blank = b == ' ' || b == '\t';
            if ((b >= 33 && b <= 126 && b != '=') || (blank && !last))
                token += static_cast<char>(b);
            else
                AppendHexByte(token, b);
            // A soft break needs one column for its "=", except before the line's end.
            const std::size_t limit = last ? kWidth : kWidth - 1;
            if (cur.size() + token.size() > limit) {
                out.push_back(cur + "=");
                cur.clear();
            }
            // Nothing at a line start may look like a boundary or the end of data.
            if (cur.empty() && (token == "-" || token == ".")) {
                token.clear();
                AppendHexByte(token, b);
            }
            cur += token;
        }
        out.push_back(std::move(cur));
    }
    return out;
}

bool EqualsNoCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != lower[i]) return false;
    }
    return true;
}

bool HeaderNameIs(std::string_view line, std::string_view lowerName) {
    return line.size() > lowerName.size() && line[lowerName.size()] == ':' &&
           EqualsNoCase(line.substr(0, lowerName.size()), lowerName);
}

std::string EscapeQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool IsListHeader(std::string_view line) {
    const std::size_t colon = line.find(':');
    return colon != std::string_view::npos && colon > 5 && EqualsNoCase(line.substr(0, 5), "list-");
}

std::string PercentEncodeUrl(std::string_view text) {
    const std::string utf8 = IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F ||
            std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) {
            AppendHexByte(out, b, '%');
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

// A list of addresses with no blank in it can only be folded after its commas; a blank
// there changes nothing for a reader. Not inside quotes, angle brackets or comments.
std::string BlankAfterCommas(std::string_view value) {
    std::string out;
    out.reserve(value.size() + value.size() / 16);
    bool quoted = false;
    int angle = 0, comment = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        out += c;
        if (quoted && c == '\\' && i + 1 < value.size()) {
            out += value[++i];
            continue;
        }
        if (c == '"' && comment == 0) quoted = !quoted;
        if (quoted) continue;
        if (c == '<') ++angle;
        if (c == '>' && angle > 0) --angle;
        if (c == '(') ++comment;
        if (c == ')' && comment > 0) --comment;
        if (c == ',' && angle == 0 && comment == 0 && i + 1 < value.size() && value[i + 1] != ' ')
            out += ' ';
    }
    return out;
}

// The last guard of the header: a piece folding could not shorten (one word longer than
// a line) is cut, and every cut-off part starts with a blank, so it continues the field
// instead of starting a new one.
std::vector<std::string> CutOverlongPieces(std::vector<std::string> pieces) {
    std::vector<std::string> out;
    out.reserve(pieces.size());
    for (std::string& piece : pieces) {
        if (piece.size() <= MaxLineLength) {
            out.push_back(std::move(piece));
            continue;
        }
        std::string_view rest = piece;
        out.emplace_back(rest.substr(0, MaxLineLength));
        rest.remove_prefix(MaxLineLength);
        while (!rest.empty()) {
            const std::size_t take = std::min(rest.size(), MaxLineLength - 1);
            out.push_back(" " + std::string(rest.substr(0, take)));
            rest.remove_prefix(take);
        }
    }
    return out;
}

} // namespace

std::vector<std::string> EncodeHeaderLine(std::string_view typed, std::string_view charset) {
    const HeaderSyntax syntax = SyntaxOf(typed);
    // A URL stays one URL, in its brackets, that any reader can follow.
    const std::string escaped =
        IsListHeader(typed) ? EscapeListUrls(typed, charset) : std::string();
    const std::string_view line = IsListHeader(typed) ? std::string_view(escaped) : typed;
    if (line.size() <= MaxLineLength && IsAscii(line) && !NotShownAsTyped(line))
        return {std::string(line)};
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return CutOverlongPieces({std::string(line)});
    std::size_t valueStart = colon + 1;
    if (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
    const bool address = syntax == HeaderSyntax::Addresses;
    const std::vector<Token> tokens = Tokenize(line.substr(valueStart), syntax);

    std::string result(line.substr(0, valueStart));
    // Adjacent words to encode, with the blanks between them, become one run: blanks
    // between two encoded-words would vanish on decoding.
    std::string run;
    std::string pendingBlank;
    auto flush = [&] {
        if (run.empty()) return;
        result += EncodedWords(run, charset);
        run.clear();
    };
    for (const Token& t : tokens) {
        // A word in an address header may be the address itself, which must stay.
        const bool mayBeAddress =
            t.kind == Token::Word && address && t.text.find('@') != std::string_view::npos;
        const bool encode =
            (t.kind == Token::Word || t.kind == Token::Quoted) &&
            (!IsAscii(t.text) ||
             (!mayBeAddress && (t.text.size() > kLongestWord || NotShownAsTyped(t.text))));
        if (t.kind == Token::Blank) {
            pendingBlank += t.text;
            continue;
        }
        if (encode) {
            if (!run.empty())
                run += pendingBlank;
            else
                result += pendingBlank;
            run += t.kind == Token::Quoted ? Unquote(t.text) : std::string(t.text);
        } else {
            flush();
            result += pendingBlank;
            result += t.text;
        }
        pendingBlank.clear();
    }
    flush();
    result += pendingBlank;
    if (address && result.size() > MaxLineLength)
        result = result.substr(0, valueStart) + BlankAfterCommas(result.substr(valueStart));
    return CutOverlongPieces(Fold(result, address, valueStart));
}

std::string FileNameParameter(std::string_view param, std::string_view fileName) {
    std::string clean;
    for (char c : fileName) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) clean += c;
    }
    auto quoted = [](std::string_view s) { return "\"" + EscapeQuoted(s) + "\""; };
    const std::string p(param);
    // A name that reads as an encoded-word is sent in the encoded form too, which
    // readers take as it stands.
    const bool lookalike = clean.find("=?") != std::string::npos;
    if (IsAscii(clean) && !lookalike) return p + "=" + quoted(clean);

    const bool utf8 = IsValidUtf8(clean);
    std::string fallback;
    for (std::size_t i = 0; i < clean.size();) {
        const std::size_t n =
            static_cast<unsigned char>(clean[i]) < 0x80 ? 1 : CharLength(clean, i, utf8);
        const bool keep = n == 1 && static_cast<unsigned char>(clean[i]) < 0x80 &&
                          !(lookalike && clean[i] == '?');
        fallback += keep ? clean[i] : '_';
        i += n;
    }
    std::string ext = p + "*=" + (utf8 ? "utf-8" : "windows-1252") + "''";
    for (char c : clean) {
        const auto b = static_cast<unsigned char>(c);
        const bool attrChar = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                              (b >= '0' && b <= '9') ||
                              std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
        if (attrChar)
            ext += c;
        else
            AppendHexByte(ext, b, '%');
    }
    // The encoded form first: readers that know it take the first match of the name.
    return ext + "; " + p + "=" + quoted(fallback);
}

MessageIdMaker::MessageIdMaker() {
    std::random_device rd;
    const std::uint64_t random = (std::uint64_t{rd()} << 32) ^ rd();
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%llx.%016llx", static_cast<unsigned long long>(now),
                  static_cast<unsigned long long>(random));
    runPart_ = buf;
}

std::string MessageIdMaker::next(std::string_view host) {
    return "<" + runPart_ + "." + std::to_string(++counter_) + "@" + std::string(host) + ">";
}

std::string DomainOfAddress(std::string_view value) {
    std::size_t open = std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size() && open == std::string_view::npos; ++i) {
        if (quoted && value[i] == '\\')
            ++i;
        else if (value[i] == '"')
            quoted = !quoted;
        else if (!quoted && value[i] == '<')
            open = i;
    }
    if (open != std::string_view::npos) {
        const std::size_t close = value.find('>', open);
        value = value.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
    }
    const std::size_t at = value.rfind('@');
    if (at == std::string_view::npos) return {};
    std::string_view domain = value.substr(at + 1);
    const std::size_t end = domain.find_first_of(" \t,>\"");
    if (end != std::string_view::npos) domain = domain.substr(0, end);
    return IsHostName(domain) ? std::string(domain) : std::string();
}

std::string FullyQualifiedHostName(const std::string& fallback) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return fallback;
    std::string host = name;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* info = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &info) == 0 && info) {
        if (info->ai_canonname && IsHostName(info->ai_canonname) &&
            std::string_view(info->ai_canonname).find('.') != std::string_view::npos)
            host = info->ai_canonname;
        ::freeaddrinfo(info);
    }
    return IsHostName(host) ? host : fallback;
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

} // namespace tandrel
