// SPDX-License-Identifier: GPL-3.0-or-later
// Failures of the file operations, carrying the exact text shown to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace tandrel {

// "Cannot open file %s", "Cannot create file %s", "Unable to write to %s".
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline std::string FormatPathMessage(const char* pattern, const std::string& path) {
    std::string out(pattern);
    const auto pos = out.find("%s");
    if (pos != std::string::npos) out.replace(pos, 2, path);
    return out;
}

} // namespace tandrel
