// SPDX-License-Identifier: GPL-3.0-or-later
// Resolution of the host and port texts a ClientSocket is given.
#include "smtp/AddressLookup.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>

namespace tandrel::detail {

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

namespace {

bool StartsWithDigit(const std::string& s) {
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s[0]));
}

// The run of digits after any leading blanks, in decimal; -1 when it does not fit.
long LeadingNumber(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 65535) return -1;
    }
    return v;
}

std::string Replace(std::string pattern, const std::string& value) {
    const auto pos = pattern.find("%s");
    if (pos != std::string::npos) pattern.replace(pos, 2, value);
    return pattern;
}

} // namespace

std::uint16_t ResolvePort(const std::string& port) {
    if (port.empty() || port.size() >= 32) throw ResolveError("WSocketResolvePort: Invalid Port.");
    if (StartsWithDigit(port)) {
        const long v = LeadingNumber(port);
        if (v < 0) throw ResolveError("WSocketResolvePort: Invalid Port.");
        return static_cast<std::uint16_t>(v);
    }
    const std::string name = Trim(port);
    servent se{}, *res = nullptr;
    char buf[1024];
    if (::getservbyname_r(name.c_str(), "tcp", &se, buf, sizeof buf, &res) != 0 || !res)
        throw ResolveError(Replace("WSocketResolvePort: Cannot convert port '%s'", name));
    return ntohs(static_cast<std::uint16_t>(res->s_port));
}

std::uint32_t ResolveHost(const std::string& addr) {
    if (addr.empty() || addr.size() > 256)
        throw ResolveError("WSocketResolveHost: '" + addr + "' Invalid Hostname.");
    const std::string text = Trim(addr);
    if (StartsWithDigit(text)) {
        in_addr a{};
        if (::inet_aton(text.c_str(), &a) == 0 && text != "255.255.255.255")
            throw ResolveError("WSocketResolveHost: '" + addr + "' Invalid IP address.");
        return text == "255.255.255.255" ? INADDR_NONE : a.s_addr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (res) ::freeaddrinfo(res);
        throw ResolveError(Replace("WSocketResolveHost: Cannot convert host address '%s'", text));
    }
    const std::uint32_t a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return a;
}

bool IsConnectOutcome(int err) {
    return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH ||
           err == ECONNRESET;
}

} // namespace tandrel::detail
