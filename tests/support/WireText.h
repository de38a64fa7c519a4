// A prepared message as the bytes that go on the wire before dot-stuffing: every line
// followed by CR LF.
#pragma once

#include <string>
#include <string_view>

#include "MessageLines.h"

namespace tandrel::test {

inline std::string WireText(const MessageLines& m) {
    std::string out;
    m.forEach([&](std::string_view line) {
        out += line;
        out += "\r\n";
    });
    return out;
}

} // namespace tandrel::test
