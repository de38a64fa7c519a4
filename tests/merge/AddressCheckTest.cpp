// SPDX-License-Identifier: GPL-3.0-or-later
// The address check against a simpler reference: the grammar of an address a relay
// takes, written as regular expressions, decides thousands of generated addresses with
// dots, hyphens, quotes and brackets in odd places.
#include <gtest/gtest.h>

#include <regex>

#include "tests/support/HostileText.h"
#include "merge/SendCheck.h"

using namespace tandrel;

namespace {

bool ReferenceAccepts(const std::string& address) {
    static const std::string atext = "[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]";
    static const std::regex local("(" + atext + "+(\\." + atext + "+)*" +
                                  "|\"([\\x20\\x21\\x23-\\x5b\\x5d-\\x7e]|\\\\[\\x20-\\x7e])*\")");
    static const std::regex label("[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?");
    static const std::regex literal("\\[[0-9]{1,3}(\\.[0-9]{1,3}){3}\\]");
    const auto at = address.rfind('@');
    if (at == std::string::npos || at > 64) return false;
    const std::string domain = address.substr(at + 1);
    if (!std::regex_match(address.substr(0, at), local)) return false;
    if (std::regex_match(domain, literal)) return true;
    if (domain.empty() || domain.size() > 255) return false;
    for (std::size_t start = 0;;) {
        const auto dot = std::min(domain.find('.', start), domain.size());
        if (!std::regex_match(domain.substr(start, dot - start), label)) return false;
        if (dot == domain.size()) return true;
        start = dot + 1;
    }
}

} // namespace

TEST(AddressCheck, AgreesWithTheGrammar) {
    const test::SeededRun run;
    test::HostileText gen(run.seed);
    // Pieces that make addresses nearly right: dots at the ends and doubled, hyphens at
    // label ends, quotes, escapes, blanks, brackets, a second "@".
    const std::vector<std::string> pieces = {"a", "b", "1",  ".",  ".",    "-",
                                             "+", "_", "\"", "\\", " ",    "[",
                                             "]", "@", "x",  "9",  "\x7f", "\xc3\xa9"};
    const auto part = [&](std::size_t most) {
        std::string s;
        for (std::size_t n = gen.pick(most + 1); n > 0; --n)
            s += pieces[gen.pick(pieces.size())];
        return s;
    };
    // Quoted local parts that are not printable ASCII, however escaped, first.
    const std::vector<std::string> fixed = {"\"caf\xc3\xa9\"@x.example", "\"a\x7f\"@x.example",
                                            "\"\\\x7f\"@x.example", "\"\\\xc3\"@x.example"};
    int checked = 0, accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        // Half of them with a valid domain, a third with a valid local part: a fault in
        // one part shows only when the other is right.
        std::string address =
            (i % 3 == 0 ? "ann" : part(6)) + "@" + (i % 2 == 0 ? "x.example" : part(8));
        if (i % 7 == 0) address = "\"" + part(4) + "\"@x.example"; // quoted
        if (i % 11 == 0) address = "a@[" + std::to_string(gen.pick(300)) + ".0.0." + part(2) + "]";
        if (i < static_cast<int>(fixed.size())) address = fixed[i];
        const bool want = ReferenceAccepts(address);
        ++checked;
        accepted += want;
        ASSERT_EQ(IsValidAddress(address), want) << "\"" << address << "\"";
    }
    EXPECT_GT(accepted, checked / 50); // the table holds valid addresses too
}
