// Taking SMTP replies apart (see SmtpReply.h).
#include "SmtpReply.h"

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

std::string UpToNul(std::string_view s) {
    return std::string(s.substr(0, s.find('\0')));
}

std::string Shortened(std::string_view s, std::size_t limit) {
    if (s.size() <= limit) return std::string(s);
    return std::string(s.substr(0, limit)) + "... (" + std::to_string(s.size() - limit) +
           " more bytes)";
}

} // namespace tandrel
