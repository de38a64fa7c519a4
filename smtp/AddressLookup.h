// SPDX-License-Identifier: GPL-3.0-or-later
// Resolution of the host and port texts a ClientSocket is given (internal to the
// socket's sources).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tandrel::detail {

// A resolution failure; connectToHost raises it again with "connect: " in front.
struct ResolveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Without leading and trailing blanks and control characters.
std::string Trim(const std::string& s);

// Host order; a service name is looked up for TCP.
std::uint16_t ResolvePort(const std::string& port);
// Network-order IPv4 address. The name lookup blocks the calling thread.
std::uint32_t ResolveHost(const std::string& addr);

// Connection outcomes the operating system may report at once although they belong to
// the asynchronous connection result (refused, unreachable, timed out).
bool IsConnectOutcome(int err);

} // namespace tandrel::detail
