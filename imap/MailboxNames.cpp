// SPDX-License-Identifier: GPL-3.0-or-later
#include "imap/MailboxNames.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <algorithm>

namespace tandrel::imap {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool Printable(char16_t c) {
    return c >= 0x20 && c <= 0x7e;
}

// UTF-16 units in modified base64: "&" ... "-".
void AppendShifted(std::string& out, const std::u16string& units) {
    QByteArray bytes;
    for (char16_t u : units) {
        bytes.append(static_cast<char>(u >> 8));
        bytes.append(static_cast<char>(u & 0xff));
    }
    QByteArray b64 = bytes.toBase64(QByteArray::OmitTrailingEquals);
    b64.replace('/', ',');
    out += '&';
    out.append(b64.constData(), static_cast<std::size_t>(b64.size()));
    out += '-';
}

// The UTF-16 text of one shifted run, or nothing when it is not well-formed.
std::optional<std::u16string> UnshiftedRun(std::string_view b64) {
    QByteArray in(b64.data(), static_cast<qsizetype>(b64.size()));
    in.replace(',', '/');
    const auto decoded =
        QByteArray::fromBase64Encoding(in, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() % 2 != 0 || decoded.decoded.isEmpty()) return {};
    std::u16string units;
    for (qsizetype i = 0; i < decoded.decoded.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(decoded.decoded[i]);
        const auto lo = static_cast<unsigned char>(decoded.decoded[i + 1]);
        units.push_back(static_cast<char16_t>((hi << 8) | lo));
    }
    return units;
}

// A quoted string at `pos` (at its opening quote); `pos` ends after the closing quote.
std::optional<std::string> Quoted(std::string_view line, std::size_t& pos) {
    if (pos >= line.size() || line[pos] != '"') return {};
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos >= line.size()) return {};
        }
        out += line[pos];
    }
    return {};
}

std::optional<Folder> ListLine(std::string_view line) {
    constexpr std::string_view kPrefix = "* LIST ";
    if (line.size() < kPrefix.size() || !SameText(line.substr(0, kPrefix.size()), kPrefix))
        return {};
    std::size_t pos = kPrefix.size();
    if (pos >= line.size() || line[pos] != '(') return {};
    const std::size_t close = line.find(')', pos);
    if (close == std::string_view::npos) return {};
    Folder folder;
    std::string_view attrs = line.substr(pos + 1, close - pos - 1);
    while (!attrs.empty()) {
        const std::size_t space = attrs.find(' ');
        const std::string_view one = attrs.substr(0, space);
        if (!one.empty()) folder.attributes.emplace_back(one);
        if (space == std::string_view::npos) break;
        attrs.remove_prefix(space + 1);
    }
    pos = close + 1;
    if (pos >= line.size() || line[pos] != ' ') return {};
    ++pos;
    // The hierarchy delimiter: NIL or a quoted character.
    if (line.substr(pos, 3) == "NIL" || line.substr(pos, 3) == "nil") {
        pos += 3;
    } else if (!Quoted(line, pos)) {
        return {};
    }
    if (pos >= line.size() || line[pos] != ' ') return {};
    ++pos;
    if (pos >= line.size() || line[pos] == '{') return {}; // a literal: not a folder of ours
    if (line[pos] == '"') {
        auto name = Quoted(line, pos);
        if (!name) return {};
        folder.wireName = std::move(*name);
    } else {
        folder.wireName = std::string(line.substr(pos));
    }
    if (folder.wireName.empty()) return {};
    folder.name = DecodeFolderName(folder.wireName);
    return folder;
}

} // namespace

bool Folder::hasAttribute(std::string_view attribute) const {
    return std::any_of(attributes.begin(), attributes.end(),
                       [&](const std::string& a) { return SameText(a, attribute); });
}

bool Folder::selectable() const {
    return !hasAttribute("\\Noselect") && !hasAttribute("\\NonExistent");
}

bool FitsOnOneLine(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::optional<std::string> EncodeFolderName(std::string_view utf8) {
    if (utf8.empty() || !FitsOnOneLine(utf8)) return {};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
    if (decoder.hasError()) return {};
    std::string out;
    std::u16string run;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (Printable(u)) {
            if (!run.empty()) {
                AppendShifted(out, run);
                run.clear();
            }
            if (u == '&')
                out += "&-";
            else
                out += static_cast<char>(u);
        } else {
            run.push_back(u);
        }
    }
    if (!run.empty()) AppendShifted(out, run);
    return out;
}

std::string DecodeFolderName(std::string_view wire) {
    std::u16string units;
    for (std::size_t pos = 0; pos < wire.size();) {
        const char c = wire[pos];
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return std::string(wire);
        if (c != '&') {
            units.push_back(static_cast<char16_t>(c));
            ++pos;
            continue;
        }
        const std::size_t end = wire.find('-', pos + 1);
        if (end == std::string_view::npos) return std::string(wire);
        if (end == pos + 1) {
            units.push_back(u'&');
        } else {
            const auto run = UnshiftedRun(wire.substr(pos + 1, end - pos - 1));
            if (!run) return std::string(wire);
            units += *run;
        }
        pos = end + 1;
    }
    const std::string utf8 =
        QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toStdString();
    // Only a name that is spelt the one way the encoding allows is taken as decoded
    // (no broken surrogates, no needless shifts).
    const auto again = EncodeFolderName(utf8);
    if (!again || *again != wire) return std::string(wire);
    return utf8;
}

std::vector<Folder> ParseFolderList(std::string_view answer) {
    std::vector<Folder> folders;
    while (!answer.empty()) {
        std::size_t eol = answer.find('\n');
        std::string_view line = answer.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (auto folder = ListLine(line)) folders.push_back(std::move(*folder));
        if (eol == std::string_view::npos) break;
        answer.remove_prefix(eol + 1);
    }
    return folders;
}

SentFolderChoice FindSentFolder(const std::vector<Folder>& folders) {
    for (const Folder& f : folders)
        if (f.selectable() && f.hasAttribute("\\Sent")) return {f, {}};
    for (const Folder& f : folders)
        if (f.selectable() && SameText(f.name, "Sent")) return {f, {}};
    for (const Folder& f : folders)
        if (f.selectable() && f.name.size() == 10 && SameText(f.name.substr(0, 5), "INBOX") &&
            SameText(f.name.substr(6), "Sent"))
            return {f, {}};
    std::string names;
    for (const Folder& f : folders)
        names += (names.empty() ? "" : ", ") + f.name;
    if (names.empty()) names = "(none)";
    return {std::nullopt, "No folder is marked as the Sent folder and none is named \"Sent\"; "
                          "the folders are: " +
                              names};
}

} // namespace tandrel::imap
