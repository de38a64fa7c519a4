// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 validation and the Windows-1252 <-> UTF-8 conversions.
#include "model/TextEncoding.h"

#include <array>
#include <cstdint>

namespace tandrel {

namespace {

// Characters of the bytes 0x80..0x9F; the undefined ones keep their own number.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one well-formed character at `i` and moves past it; false when the bytes
// there are not one.
bool NextChar(std::string_view s, std::size_t& i, char32_t& c) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t lead = b(i);
    std::size_t len = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        len = 2, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4, c = lead & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (s.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return false;
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += len;
    return true;
}

// The Windows-1252 byte of a character, or -1.
int ByteOf(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (std::size_t k = 0; k < kHighControls.size(); ++k)
        if (kHighControls[k] == c) return static_cast<int>(0x80 + k);
    return -1;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    char32_t c = 0;
    while (i < bytes.size())
        if (!NextChar(bytes, i, c)) return false;
    return true;
}

TextEncoding DetectTextEncoding(std::string_view bytes) {
    return IsValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        AppendUtf8(out, (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : char32_t{b});
    }
    return out;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    char32_t c = 0;
    while (i < utf8.size()) {
        if (!NextChar(utf8, i, c)) return std::nullopt;
        const int b = ByteOf(c);
        if (b < 0) return std::nullopt;
        out += static_cast<char>(b);
    }
    return out;
}

std::string DecodeText(std::string_view bytes, TextEncoding enc) {
    return enc == TextEncoding::Utf8 ? std::string(bytes) : Windows1252ToUtf8(bytes);
}

std::optional<std::string> EncodeText(std::string_view utf8, TextEncoding enc) {
    if (enc == TextEncoding::Windows1252) return Utf8ToWindows1252(utf8);
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return std::string(utf8);
}

} // namespace tandrel
