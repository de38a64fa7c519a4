// SPDX-License-Identifier: GPL-3.0-or-later
// Taking SMTP replies apart (see SmtpReply.h).
#include "smtp/SmtpReply.h"

#include "smtp/DeliveryEvents.h"

namespace tandrel {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithCode(std::string_view line) {
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

} // namespace

std::size_t CompleteReplyLength(std::string_view rx) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = rx.find('\n', pos);
        if (eol == std::string_view::npos) return 0;
        const std::string_view line = rx.substr(pos, eol - pos);
        const bool continues = line.size() >= 4 && StartsWithCode(line) && line[3] == '-';
        pos = eol + 1;
        if (!continues) return pos;
    }
}

int ReplyCode(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.remove_suffix(1);
    const std::size_t nl = reply.rfind('\n');
    const std::string_view last = nl == std::string_view::npos ? reply : reply.substr(nl + 1);
    if (!StartsWithCode(last)) return 0;
    if (last.size() > 3 && last[3] != ' ' && last[3] != '\r') return 0;
    const int code = (last[0] - '0') * 100 + (last[1] - '0') * 10 + (last[2] - '0');
    return code >= 100 && code < 600 ? code : 0;
}

namespace {

// "class.subject.detail": a class of 2, 4 or 5, then one to three digits twice.
std::size_t EnhancedStatusLength(std::string_view s) {
    if (s.size() < 5 || (s[0] != '2' && s[0] != '4' && s[0] != '5') || s[1] != '.') return 0;
    std::size_t pos = 2;
    for (int part = 0; part < 2; ++part) {
        const std::size_t start = pos;
        while (pos < s.size() && pos - start < 4 && IsDigit(s[pos]))
            ++pos;
        if (pos == start || pos - start > 3) return 0;
        if (part == 0) {
            if (pos >= s.size() || s[pos] != '.') return 0;
            ++pos;
        }
    }
    if (pos < s.size() && s[pos] != ' ' && s[pos] != '\r' && s[pos] != '\n') return 0;
    return pos;
}

} // namespace

ServerReply ParseServerReply(std::string_view reply) {
    ServerReply r;
    r.text = UpToNul(reply);
    r.code = ReplyCode(r.text);
    if (r.code == 0) return r;
    std::string_view last = r.text;
    while (!last.empty() && (last.back() == '\n' || last.back() == '\r'))
        last.remove_suffix(1);
    const std::size_t nl = last.rfind('\n');
    if (nl != std::string_view::npos) last.remove_prefix(nl + 1);
    if (last.size() > 4) {
        const std::string_view rest = last.substr(4);
        r.enhancedStatus = std::string(rest.substr(0, EnhancedStatusLength(rest)));
    }
    return r;
}

std::string UpToNul(std::string_view s) {
    return std::string(s.substr(0, s.find('\0')));
}

std::string Shortened(std::string_view s, std::size_t limit) {
    if (s.size() <= limit) return std::string(s);
    return std::string(s.substr(0, limit)) + "... (" + std::to_string(s.size() - limit) +
           " more bytes)";
}

} // namespace tandrel
