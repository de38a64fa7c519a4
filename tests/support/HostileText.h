// SPDX-License-Identifier: GPL-3.0-or-later
// Generated values that hold the syntax of the formats they are written in: separators,
// quotes, '%', tabs, line ends, blanks at the ends and every byte from 0x01 to 0xFF, as
// UTF-8 text or as Windows-1252 bytes. Seeded, so a failing value can be made again.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <string_view>

namespace tandrel::test {

enum class HostileCharset { Utf8, Windows1252 };

// The seed of this run: TANDREL_TEST_SEED when set, otherwise a fresh one. Tests print
// it, so a failure can be run again with the same values.
inline std::uint64_t TestSeed() {
    if (const char* env = std::getenv("TANDREL_TEST_SEED"); env && *env)
        return std::strtoull(env, nullptr, 10);
    return std::random_device{}();
}

// The seed of a test with generated values, shown with every failure inside its scope.
struct SeededRun {
    std::uint64_t seed = TestSeed();
    ::testing::ScopedTrace trace{__FILE__, __LINE__, "TANDREL_TEST_SEED=" + std::to_string(seed)};
};

class HostileText {
public:
    explicit HostileText(std::uint64_t seed) : rng_(seed) {}

    // A value of up to maxLength characters, blanks often at its ends.
    std::string value(HostileCharset cs, std::size_t maxLength = 24) {
        std::string out;
        const std::size_t n = pick(maxLength + 1);
        if (n > 0 && pick(4) == 0) out += pick(2) ? " " : "\t";
        for (std::size_t i = 0; i < n; ++i)
            out += character(cs);
        if (n > 0 && pick(4) == 0) out += pick(2) ? "  " : " ";
        return out;
    }

    // One character: mostly the syntax of some format or what reads as an escape in one
    // (%41, =3D, =?, \", ""), else any byte or code point.
    std::string character(HostileCharset cs) {
        static constexpr std::string_view kSyntax = ",;:.\t \"'%=[]<>\\\r\n-_?@#*|";
        static constexpr std::string_view kEscapes[] = {"%41", "%25", "%0A", "=3D", "=?",
                                                        "?=",  "\\\"", "\"\"", "\r\n", "--"};
        switch (pick(5)) {
        case 0:
            return std::string(1, kSyntax[pick(kSyntax.size())]);
        case 1:
            return std::string(1, static_cast<char>('a' + pick(26)));
        case 2:
            return std::string(kEscapes[pick(std::size(kEscapes))]);
        default:
            break;
        }
        if (cs == HostileCharset::Windows1252) return std::string(1, static_cast<char>(1 + pick(255)));
        return Utf8Of(codePoint());
    }

    // Every byte from 0x01 to 0xFF once (Windows-1252), or every code point from U+0001
    // to U+00FF once (UTF-8): no value escapes a byte the other values missed.
    static std::string AllBytes(HostileCharset cs) {
        std::string out;
        for (char32_t c = 1; c <= 0xFF; ++c)
            out += cs == HostileCharset::Windows1252 ? std::string(1, static_cast<char>(c))
                                                     : Utf8Of(c);
        return out;
    }

    static std::string Utf8Of(char32_t c) {
        std::string s;
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
        return s;
    }

    std::size_t pick(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }

private:
    // Latin-1, the rest of the first plane (no surrogates) and beyond it.
    char32_t codePoint() {
        switch (pick(3)) {
        case 0:
            return static_cast<char32_t>(1 + pick(0xFF));
        case 1: {
            const auto c = static_cast<char32_t>(0x100 + pick(0xFFFE - 0x100));
            return c >= 0xD800 && c <= 0xDFFF ? U'\u20AC' : c;
        }
        default:
            return static_cast<char32_t>(0x10000 + pick(0x10FFFF - 0x10000));
        }
    }

    std::mt19937_64 rng_;
};

} // namespace tandrel::test
