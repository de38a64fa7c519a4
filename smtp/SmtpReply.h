// SPDX-License-Identifier: GPL-3.0-or-later
// Taking SMTP replies apart: where a reply ends in the received bytes, the code of its
// final line, and the shortened text that goes to the run log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tandrel {

// Length of the first complete reply in `rx` (0 when it has not fully arrived). A reply
// is a run of lines ending in LF (normally CR LF); lines "ddd-..." continue it, any other
// line ends it.
std::size_t CompleteReplyLength(std::string_view rx);

// The code of the reply's final line (100..599), or 0 when that line does not start
// with a code followed by a blank or its end.
int ReplyCode(std::string_view reply);

// The reply taken apart: its code, the enhanced status code ("5.1.1") its final line
// starts with, if any, and its text up to a NUL byte.
struct ServerReply;
ServerReply ParseServerReply(std::string_view reply);

// How much of a reply goes to the run log and the report.
inline constexpr std::size_t kLoggedReplyBytes = 4096;

// The text up to the first NUL byte: the run log is a text file and must not carry one.
std::string UpToNul(std::string_view s);

// At most `limit` bytes of the text, the rest summarised as "... (N more bytes)".
std::string Shortened(std::string_view s, std::size_t limit);

} // namespace tandrel
