// SPDX-License-Identifier: GPL-3.0-or-later
// What may go on the wire (see WireRules.h).
#include "smtp/WireRules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <initializer_list>
#include <netinet/in.h>
#include <sys/socket.h>

#include "model/VisibleText.h"

namespace tandrel {

namespace {

bool IsPlainAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// An address as the memo shows it: control characters would split or garble the line.
std::string Shown(const std::string& s) {
    return "\"" + VisibleText(s) + "\"";
}

// A name HELO may carry as it is: a domain with a dot, nothing else.
bool IsDomainName(std::string_view s) {
    return s.find('.') != std::string_view::npos && s.front() != '.' && s.back() != '.' &&
           std::all_of(s.begin(), s.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
           });
}

// "[a.b.c.d]", the local end of the connection, or empty when it cannot be read.
std::string LocalAddressLiteral(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
        sa.sin_family != AF_INET)
        return {};
    char buf[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf)) return {};
    return "[" + std::string(buf) + "]";
}

} // namespace

bool HasLineBreak(std::string_view s) {
    return HoldsLineBreak(s);
}

std::string HeloArgument(const std::string& localName, int fd) {
    if (IsDomainName(localName)) return localName;
    const std::string literal = LocalAddressLiteral(fd);
    return literal.empty() ? "[127.0.0.1]" : literal;
}

std::string MessageProblem(const std::string& from, const OutgoingMessage& message) {
    for (const std::string* a : {&from, &message.address}) {
        if (HasLineBreak(*a)) return "Error, address " + Shown(*a) + " holds a line break";
        if (!IsPlainAscii(*a)) return "Error, address " + Shown(*a) + " is not plain ASCII";
    }
    if (!message.unfit.empty())
        return "Error, mail to: \"" + message.address + "\" not sent: " + message.unfit;
    if (const auto gone = message.lines.checkDeferred())
        return "Error, mail to: \"" + message.address + "\" not sent: " + *gone;
    // Every block noted while its lines were stored whether one holds a line break, so
    // a block shared by the whole run is not read again for each message. Lines
    // produced at sending time are refused by the reader that produces them.
    const auto& blocks = message.lines.blocks();
    if (std::any_of(blocks.begin(), blocks.end(),
                    [](const SharedBlock& block) { return block->holdsLineBreak(); }))
        return "Error, mail to: \"" + message.address +
               "\" not sent: a line of it holds a line break";
    return {};
}

} // namespace tandrel
