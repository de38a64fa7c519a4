// SPDX-License-Identifier: GPL-3.0-or-later
// Building, loading and saving the mail text and its header block.
#include "model/MailFile.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool StartsWithLower(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The value after the colon that ends at `count`, without the one blank that usually
// follows it; a hand-written "to:bob" keeps all of "bob".
std::string ValueAfter(const std::string& line, std::size_t count) {
    if (count < line.size() && line[count] == ' ') ++count;
    return line.size() > count ? line.substr(count) : std::string();
}

// An editor's text on its header line: a line break (CR LF, CR or LF) would end the line
// in the file, and what follows would be lost or read as a header of its own on the next
// load; it becomes one blank, as in a composed message.
std::string OnOneLine(const std::string& text) {
    if (text.find_first_of("\r\n") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lineEnd = text[i] == '\r' || text[i] == '\n';
        if (lineEnd && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += lineEnd ? ' ' : text[i];
    }
    return out;
}

} // namespace

std::string Rfc822Date(std::time_t when) {
    std::tm tm{};
    if (!::localtime_r(&when, &tm)) return std::string();
    const long offsetMinutes = tm.tm_gmtoff / 60;
    const long absMinutes = std::labs(offsetMinutes);
    const int wday = (tm.tm_wday >= 0 && tm.tm_wday < 7) ? tm.tm_wday : 0;
    const int mon = (tm.tm_mon >= 0 && tm.tm_mon < 12) ? tm.tm_mon : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDayNames[wday],
                  tm.tm_mday, kMonthNames[mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return buf;
}

std::string Rfc822Date() {
    return Rfc822Date(std::time(nullptr));
}

bool IsHeaderName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c <= ' ' || c >= 127 || c == ':') return false;
    return true;
}

bool IsOwnHeaderName(std::string_view name) {
    for (std::string_view own : {"date", "from", "to", "subject", "mime-version", "content-type",
                                 "content-transfer-encoding", "x-mailer", "message-id"})
        if (name.size() == own.size() && StartsWithLower(name, own)) return true;
    return false;
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::string lower(b);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return StartsWithLower(a, lower);
}

bool IsMarkdownType(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
        ++i;
    return StartsWithLower(value.substr(i), "text/markdown");
}

} // namespace

const std::string* FindHeaderValue(const MailEditors& eds, std::string_view name) {
    for (const HeaderLine& h : eds.headerLines)
        if (SameName(h.name, name)) return &h.value;
    return nullptr;
}

void SetHeaderValue(MailEditors& eds, std::string_view name, std::string value) {
    for (HeaderLine& h : eds.headerLines)
        if (SameName(h.name, name)) {
            h.value = std::move(value);
            return;
        }
    eds.headerLines.push_back(HeaderLine{std::string(name), std::move(value)});
}

void RemoveHeaderLines(MailEditors& eds, std::string_view name) {
    std::erase_if(eds.headerLines, [&](const HeaderLine& h) { return SameName(h.name, name); });
}

MailFormat FormatOfMail(const MailText& mail) {
    if (!mail.hasHeader) return MailFormat::Plain;
    for (const std::string& line : mail.lines) {
        if (line.empty()) break;
        if (StartsWithLower(line, "content-type:") &&
            IsMarkdownType(std::string_view(line).substr(13)))
            return MailFormat::Markdown;
    }
    return MailFormat::Plain;
}

void AddHeader(MailText& mail, const MailEditors& eds, const std::string& date) {
    auto& l = mail.lines;
    l.push_back("Date: " + date);
    l.push_back("From: " + OnOneLine(eds.from));
    l.push_back("To: " + OnOneLine(eds.to));
    l.push_back("Subject: " + OnOneLine(eds.subject));
    for (const HeaderLine& h : eds.headerLines)
        if (IsHeaderName(h.name) && !IsOwnHeaderName(h.name))
            l.push_back(h.name + ": " + OnOneLine(h.value));
    l.push_back("MIME-Version: 1.0");
    l.push_back(eds.format == MailFormat::Markdown ? "Content-type: text/markdown"
                                                   : "Content-type: text/plain");
    l.push_back(std::string("X-Mailer: ") + kMailer);
    l.emplace_back();
}

void BuildMailText(AppState& st, const MailEditors& eds) {
    MailText& mail = st.mailText;
    mail.lines.clear();
    if (mail.hasHeader || !eds.from.empty() || !eds.to.empty() || !eds.subject.empty() ||
        !eds.headerLines.empty() || eds.format != MailFormat::Plain) {
        mail.hasHeader = true;
        mail.lines.reserve(8 + eds.headerLines.size() + eds.body.size());
        AddHeader(mail, eds, Rfc822Date());
    } else {
        mail.lines.reserve(eds.body.size());
    }
    mail.lines.insert(mail.lines.end(), eds.body.begin(), eds.body.end());
}

void ParseMailHeader(std::vector<std::string>& lines, MailEditors& eds, bool& mailHasHeader) {
    std::size_t n = 0;
    while (n < lines.size() && !lines[n].empty())
        ++n;
    // No empty line, or one at the very start: there is no header block.
    const bool hasBlock = n < lines.size() && n >= 1;

    bool from = false, to = false, subject = false;
    std::vector<HeaderLine> others;
    MailFormat format = MailFormat::Plain;
    // The other header line that a line starting with a blank goes on (From, To and
    // Subject take their first line only, as they always have).
    std::string* continued = nullptr;
    if (hasBlock) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& line = lines[i];
            if (line[0] == ' ' || line[0] == '\t') {
                // Unfolding takes away the line break only.
                if (continued && line.find_first_not_of(" \t") != std::string::npos)
                    *continued += line;
                continue;
            }
            continued = nullptr;
            if (StartsWithLower(line, "from:")) {
                eds.from = ValueAfter(line, 5);
                from = mailHasHeader = true;
            } else if (StartsWithLower(line, "to:")) {
                eds.to = ValueAfter(line, 3);
                to = mailHasHeader = true;
            } else if (StartsWithLower(line, "subject:")) {
                eds.subject = ValueAfter(line, 8);
                subject = mailHasHeader = true;
            } else if (StartsWithLower(line, "content-type:")) {
                format = IsMarkdownType(std::string_view(line).substr(13)) ? MailFormat::Markdown
                                                                           : MailFormat::Plain;
            } else if (const std::size_t colon = line.find(':');
                       colon != std::string::npos &&
                       IsHeaderName(std::string_view(line).substr(0, colon)) &&
                       !IsOwnHeaderName(std::string_view(line).substr(0, colon))) {
                others.push_back(HeaderLine{line.substr(0, colon), ValueAfter(line, colon + 1)});
                continued = &others.back().value;
            }
        }
    }
    const bool removed = mailHasHeader && hasBlock;
    eds.headerLines = removed ? std::move(others) : std::vector<HeaderLine>();
    eds.format = removed ? format : MailFormat::Plain;
    // A leading empty line is body text even when the mail had a header before.
    if (removed) lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(n + 1));

    if (!from) eds.from.clear();
    if (!to) eds.to.clear();
    if (!subject) eds.subject.clear();
}

std::string DefaultFrom(const Preferences& prefs) {
    return "\"" + prefs.name + "\" <" + prefs.fromAddress + ">";
}

void NewMail(AppState& st, MailEditors& eds) {
    eds.body.clear();
    eds.headerLines.clear();
    eds.format = MailFormat::Plain;
    if (!st.prefs.name.empty() && !st.prefs.fromAddress.empty()) eds.from = DefaultFrom(st.prefs);
    eds.to = kDefaultTo;
    eds.subject.clear();
    st.mailText.encoding = TextEncoding::Utf8;
    BuildMailText(st, eds);
}

bool LoadMail(AppState& st, const std::string& path, MailEditors& eds) {
    if (!FileExists(path)) return false;
    st.mailText.hasHeader = false;
    const std::string bytes = ReadUserTextFile(path);
    std::vector<std::string> lines = SplitAtLineEnds(bytes);
    st.mailText.lines = lines;
    st.mailText.encoding = DetectTextEncoding(bytes);
    st.user.lastMail = path;

    ParseMailHeader(lines, eds, st.mailText.hasHeader);
    if (eds.from.empty()) eds.from = DefaultFrom(st.prefs);
    if (eds.to.empty()) eds.to = kDefaultTo;
    eds.body = std::move(lines);
    BuildMailText(st, eds);
    return true;
}

void SaveMail(AppState& st, const std::string& path, const MailEditors& eds, bool previewShown) {
    if (!previewShown) BuildMailText(st, eds);
    WriteTextFile(path, st.mailText.lines);
    st.user.lastMail = path;
}

} // namespace tandrel
