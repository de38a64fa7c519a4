// SPDX-License-Identifier: GPL-3.0-or-later
// Text from outside the program (a server's reply, a helper command's error output, an
// identity provider's message) as it may be shown on a terminal, in a window or in the
// run log: a control character there would act instead of showing (an escape sequence
// recolours or rewrites the terminal, a lone CR overwrites the line, a bell rings), so
// each one is written out as \xHH, the hex of its bytes. Tab, printable ASCII and other
// 8-bit bytes stay as they are, so ordinary text comes back unchanged; a backslash is
// not escaped, so escaping twice changes nothing.
#pragma once

#include <string>
#include <string_view>

namespace tandrel {

// One line: every control character escaped, line breaks included.
std::string VisibleText(std::string_view text);

// Text that may hold several lines: a LF, and a CR right before one, stay as line ends
// (as they are, or each line end as a LF alone); every other control character, a CR
// inside a line among them, is escaped.
enum class LineEnds { AsGiven, Lf };
std::string VisibleLines(std::string_view text, LineEnds ends = LineEnds::AsGiven);

} // namespace tandrel
