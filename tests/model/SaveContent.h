// SPDX-License-Identifier: GPL-3.0-or-later
// The contents the crash tests save: every one different at every offset, so that any
// mix of two of them, or a cut one, is told apart from both.
#pragma once

#include <cstddef>
#include <string>

namespace tandrel::test {

inline std::string SaveContent(char kind, std::size_t size) {
    std::string out;
    out.reserve(size + 16);
    for (std::size_t i = 0; out.size() < size; ++i)
        out += kind + std::to_string(i) + "\r\n";
    out.resize(size);
    return out;
}

} // namespace tandrel::test
