// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a text is an address a relay takes as a recipient; composing and the check
// before sending share it.
#pragma once

#include <string>

namespace tandrel {

// An address the relay can take as a recipient: local@domain in plain ASCII, a
// dot-atom or quoted local part, a domain name or an address literal in brackets.
bool IsValidAddress(const std::string& address);

} // namespace tandrel
