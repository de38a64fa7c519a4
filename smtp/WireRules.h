// SPDX-License-Identifier: GPL-3.0-or-later
// What may go on the wire: the checks that keep bytes taken from data out of the
// protocol, and the name HELO announces.
#pragma once

#include <string>
#include <string_view>

#include "model/Model.h"

namespace tandrel {

bool HasLineBreak(std::string_view s);

// The configured name when it is a domain name with a dot, otherwise an address literal
// of the connection's local end ("[192.0.2.1]"), read from the socket handle `fd`.
std::string HeloArgument(const std::string& localName, int fd);

// Why the message cannot be sent from `from` as it is, as the report to show; empty when
// it can. An address with a line break or with bytes beyond ASCII, or a line of the
// message holding CR or LF, would put data where commands go.
std::string MessageProblem(const std::string& from, const OutgoingMessage& message);

} // namespace tandrel
