// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP reply parser: the bytes a server sends, taken apart reply by reply as the
// dialogue does. Each reply ends at a line end, its code is 0 or a real one, its
// enhanced status has the form it should, and EHLO's keywords are read from anything.
#include <cstdint>

#include "smtp/DeliveryEvents.h"
#include "fuzz/FuzzSupport.h"
#include "smtp/SmtpExtensions.h"
#include "smtp/SmtpReply.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rx = fuzz::AsText(data, size);
    while (const std::size_t n = CompleteReplyLength(rx)) {
        FUZZ_CHECK(n <= rx.size() && rx[n - 1] == '\n');
        const std::string_view reply = rx.substr(0, n);
        FUZZ_CHECK(CompleteReplyLength(reply) == n);
        const ServerReply r = ParseServerReply(reply);
        FUZZ_CHECK(r.code == 0 || (r.code >= 100 && r.code <= 599));
        FUZZ_CHECK(r.text.find('\0') == std::string::npos && reply.starts_with(r.text));
        if (!r.enhancedStatus.empty()) {
            FUZZ_CHECK(r.code != 0 && r.enhancedStatus.size() >= 5 && r.enhancedStatus.size() <= 9);
            FUZZ_CHECK(r.enhancedStatus[0] == '2' || r.enhancedStatus[0] == '4' ||
                       r.enhancedStatus[0] == '5');
        }
        const std::string logged = Shortened(r.text, 64);
        FUZZ_CHECK(logged.starts_with(r.text.substr(0, 64)) && logged.size() <= 64 + 32);
        (void)ParseEhloOffer(reply);
        rx.remove_prefix(n);
    }
    return 0;
}
