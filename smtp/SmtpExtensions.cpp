// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a reply to EHLO and encoding login data.
#include "smtp/SmtpExtensions.h"

#include <cctype>
#include <charconv>

namespace tandrel {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool HasControlByte(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// A name inside the GS2 header: ',' ends the field and '=' starts an escape.
std::string GS2Name(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}

} // namespace

EhloOffer ParseEhloOffer(std::string_view reply) {
    EhloOffer offer;
    bool first = true;
    while (!reply.empty()) {
        std::size_t eol = reply.find('\n');
        std::string_view line = reply.substr(0, eol);
        reply = eol == std::string_view::npos ? std::string_view() : reply.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // The first line greets; the keywords follow the code and its separator.
        if (first || line.size() < 4) {
            first = false;
            continue;
        }
        const std::string words = Upper(line.substr(4));
        const auto has = [&](std::string_view w) {
            return words == w || words.rfind(std::string(w) + " ", 0) == 0;
        };
        if (has("STARTTLS")) offer.startTls = true;
        if (has("PIPELINING")) offer.pipelining = true;
        if (has("SIZE")) {
            std::uint64_t n = 0;
            const char* p = words.data() + 4;
            while (*p == ' ')
                ++p;
            if (std::from_chars(p, words.data() + words.size(), n).ec == std::errc())
                offer.maxSize = n;
        }
        if (has("AUTH") || words.rfind("AUTH=", 0) == 0) {
            const std::string list = " " + (words.size() > 5 ? words.substr(5) : "") + " ";
            if (list.find(" PLAIN ") != std::string::npos) offer.authPlain = true;
            if (list.find(" LOGIN ") != std::string::npos) offer.authLogin = true;
            if (list.find(" XOAUTH2 ") != std::string::npos) offer.authXOAuth2 = true;
            if (list.find(" OAUTHBEARER ") != std::string::npos) offer.authOAuthBearer = true;
        }
    }
    return offer;
}

std::string Base64Encode(std::string_view bytes) {
    static const char* const alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6)
            out += alphabet[(v >> s) & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += left == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string PlainLoginToken(const std::string& user, const std::string& password) {
    std::string raw;
    raw += '\0';
    raw += user;
    raw += '\0';
    raw += password;
    return Base64Encode(raw);
}

std::string XOAuth2InitialResponse(const std::string& user, const std::string& accessToken) {
    if (HasControlByte(user) || HasControlByte(accessToken)) return "";
    const char sep = '\x01';
    return Base64Encode("user=" + user + sep + "auth=Bearer " + accessToken + sep + sep);
}

std::string OAuthBearerInitialResponse(const std::string& user, const std::string& host, int port,
                                       const std::string& accessToken) {
    if (HasControlByte(user) || HasControlByte(host) || HasControlByte(accessToken)) return "";
    const char sep = '\x01';
    return Base64Encode("n,a=" + GS2Name(user) + "," + sep + "host=" + host + sep + "port=" +
                        std::to_string(port) + sep + "auth=Bearer " + accessToken + sep + sep);
}

BearerLogin ChooseBearerLogin(const EhloOffer& offer, const std::string& user,
                              const std::string& host, int port, const std::string& accessToken) {
    BearerLogin login;
    if (offer.authXOAuth2) {
        login = {"XOAUTH2", XOAuth2InitialResponse(user, accessToken), ""};
    } else if (offer.authOAuthBearer) {
        login = {"OAUTHBEARER", OAuthBearerInitialResponse(user, host, port, accessToken),
                 Base64Encode("\x01")};
    }
    if (login.initialResponse.empty()) login.mechanism.clear();
    return login;
}

} // namespace tandrel
