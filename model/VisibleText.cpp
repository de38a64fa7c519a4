// SPDX-License-Identifier: GPL-3.0-or-later
// Control characters written out (see VisibleText.h).
#include "model/VisibleText.h"

#include <cstdio>

namespace tandrel {

namespace {

void AppendEscaped(std::string& out, unsigned char c) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
    out.append(escaped, 4);
}

// Escapes C0 controls but tab, DEL, and the C1 controls in their UTF-8 form (U+0080 to
// U+009F, which some terminals obey as ESC sequences); keeps line ends when asked to.
std::string Escaped(std::string_view text, bool keepLines, LineEnds ends) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
            AppendEscaped(out, c);
            AppendEscaped(out, next);
            ++i;
        } else if (keepLines && c == '\r' && next == '\n') {
            if (ends == LineEnds::AsGiven) out += '\r';
        } else if ((c >= 0x20 && c != 0x7f) || c == '\t' || (keepLines && c == '\n')) {
            out += static_cast<char>(c);
        } else {
            AppendEscaped(out, c);
        }
    }
    return out;
}

} // namespace

std::string VisibleText(std::string_view text) {
    return Escaped(text, false, LineEnds::AsGiven);
}

std::string VisibleLines(std::string_view text, LineEnds ends) {
    return Escaped(text, true, ends);
}

} // namespace tandrel
