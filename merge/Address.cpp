// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a text is an address a relay takes as a recipient.
#include "merge/Address.h"

#include <algorithm>
#include <string_view>

namespace tandrel {

namespace {

bool IsAtext(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

bool IsDotAtom(std::string_view s) {
    if (s.empty() || s.front() == '.' || s.back() == '.' || s.find("..") != std::string_view::npos)
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return c == '.' || IsAtext(static_cast<unsigned char>(c)); });
}

// Printable ASCII and the blank: all a quoted local part may hold, escaped or not. A
// relay without the extension for international addresses refuses any other byte.
bool IsQuotable(unsigned char c) {
    return c >= 32 && c <= 126;
}

bool IsQuotedLocal(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            if (++i + 1 >= s.size() || !IsQuotable(static_cast<unsigned char>(s[i]))) return false;
            continue;
        }
        if (!IsQuotable(c) || c == '"') return false;
    }
    return true;
}

bool IsDomain(std::string_view d) {
    if (d.size() >= 2 && d.front() == '[' && d.back() == ']') {
        const std::string_view ip = d.substr(1, d.size() - 2);
        int dots = 0;
        std::size_t digits = 0;
        for (char c : ip) {
            if (c == '.') {
                if (digits == 0) return false;
                ++dots;
                digits = 0;
            } else if (c >= '0' && c <= '9' && ++digits <= 3) {
                continue;
            } else {
                return false;
            }
        }
        return dots == 3 && digits > 0;
    }
    if (d.empty() || d.size() > 255) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = std::min(d.find('.', start), d.size());
        const std::string_view label = d.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-'))
                return false;
        if (dot == d.size()) return true;
        start = dot + 1;
    }
}

} // namespace

bool IsValidAddress(const std::string& address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string::npos || at == 0 || at > 64) return false;
    const std::string_view local = std::string_view(address).substr(0, at);
    return (IsDotAtom(local) || IsQuotedLocal(local)) && IsDomain(address.substr(at + 1));
}

} // namespace tandrel
