// SPDX-License-Identifier: GPL-3.0-or-later
// The two encodings a text file may be in, and lossless conversion between them and
// UTF-8, so that editing a file never changes a byte the user did not touch.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tandrel {

enum class TextEncoding { Utf8, Windows1252 };

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// Valid UTF-8 is UTF-8; anything else is taken for Windows-1252.
TextEncoding DetectTextEncoding(std::string_view bytes);

// Every byte maps to one character; the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same number,
// so that Utf8ToWindows1252 gives every byte back.
std::string Windows1252ToUtf8(std::string_view bytes);

// The inverse; nullopt when the text is not valid UTF-8 or holds a character
// Windows-1252 cannot store.
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8);

// Bytes in `enc` to UTF-8 for showing (UTF-8 passes unchanged), and back.
std::string DecodeText(std::string_view bytes, TextEncoding enc);
std::optional<std::string> EncodeText(std::string_view utf8, TextEncoding enc);

} // namespace tandrel
