// SPDX-License-Identifier: GPL-3.0-or-later
// A prepared message as the bytes that go on the wire before dot-stuffing: every line
// followed by CR LF.
#pragma once

#include <string>
#include <string_view>

#include "model/MessageLines.h"

namespace tandrel::test {

inline std::string WireText(const MessageLines& m) {
    std::string out;
    m.forEach([&](std::string_view line) {
        out += line;
        out += "\r\n";
    });
    return out;
}

// The message without the two header lines that differ each time it is composed.
inline std::string WithoutDateAndId(std::string_view message) {
    std::string out;
    while (!message.empty()) {
        const std::size_t end = message.find('\n');
        const std::string_view line =
            message.substr(0, end == message.npos ? message.size() : end + 1);
        if (!line.starts_with("Date: ") && !line.starts_with("Message-ID: ")) out += line;
        message.remove_prefix(line.size());
    }
    return out;
}

} // namespace tandrel::test
