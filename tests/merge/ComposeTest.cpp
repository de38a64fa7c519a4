#include <gtest/gtest.h>

#include <random>

#include "Compose.h"

using namespace tandrel;

namespace {

// The wrapping passes as described for the program, with the one extra rule for a
// line whose only blank among its first 995 characters is the first.
std::vector<std::string> WrapByPasses(std::vector<std::string> lines) {
    constexpr std::size_t W = MaxLineLength;
    for (bool split = true; split;) {
        split = false;
        const std::size_t count = lines.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (lines[i].size() <= W) continue;
            std::size_t p = W; // 1-based
            for (std::size_t k = W; k >= 1; --k)
                if (lines[i][k - 1] == ' ') {
                    p = k;
                    break;
                }
            const bool onlyLeadingBlank = p == 1;
            const std::size_t keep = onlyLeadingBlank ? W : p - 1;
            std::string rest = lines[i].substr(keep);
            lines[i].resize(keep);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
            split = true;
        }
    }
    return lines;
}

std::vector<std::size_t> Lengths(const std::vector<std::string>& lines) {
    std::vector<std::size_t> out;
    for (const auto& l : lines)
        out.push_back(l.size());
    return out;
}

} // namespace

TEST(WrapLongLines, Table) {
    const std::string a990(990, 'a');
    struct Case {
        std::string name;
        std::vector<std::string> in;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"short lines stay", {"", "x", std::string(995, 'y')}, {"", "x", std::string(995, 'y')}},
        {"split at the last blank, which starts the continuation",
         {a990 + " " + std::string(209, 'b')},
         {a990, " " + std::string(209, 'b')}},
        {"blank at position 995 counts",
         {std::string(500, 'a') + " " + std::string(493, 'a') + " " + std::string(300, 'c')},
         {std::string(500, 'a') + " " + std::string(493, 'a'), " " + std::string(300, 'c')}},
        {"blank at position 996 does not",
         {std::string(500, 'a') + " " + std::string(494, 'a') + " " + std::string(300, 'c')},
         {std::string(500, 'a'), " " + std::string(494, 'a') + " " + std::string(300, 'c')}},
        {"no blank: 994, 994, 12",
         {std::string(2000, 'z')},
         {std::string(994, 'z'), std::string(994, 'z'), std::string(12, 'z')}},
        {"only the first character is a blank: cut after 995",
         {" " + std::string(1500, 'x')},
         {" " + std::string(994, 'x'), std::string(506, 'x')}},
        {"continuation starting with its only blank",
         {"word " + std::string(1500, 'x'), "next"},
         {"word", " " + std::string(994, 'x'), std::string(506, 'x'), "next"}},
    };
    for (const auto& c : cases) {
        auto lines = c.in;
        WrapLongLines(lines);
        EXPECT_EQ(Lengths(lines), Lengths(c.want)) << c.name;
        EXPECT_EQ(lines, c.want) << c.name;
    }
}

TEST(WrapLongLines, SameAsThePassesOnRandomText) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> lines(1 + rng() % 6);
        for (auto& l : lines) {
            l.resize(rng() % 4000);
            const unsigned blankEvery = 1 + rng() % 1500; // from dense blanks to none
            for (char& c : l)
                c = rng() % blankEvery == 0 ? ' ' : 'k';
        }
        auto got = lines;
        WrapLongLines(got);
        ASSERT_EQ(got, WrapByPasses(lines)) << "round " << round;
        for (const auto& l : got)
            ASSERT_LE(l.size(), MaxLineLength);
    }
}

TEST(SplitLines, LineEnds) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("a\0b", 3), {std::string("a\0b", 3)}},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(SplitLines(text), want) << text;
}

TEST(ComposeMessage, MergesHeaderAndBodyThenWraps) {
    const std::vector<VarIdent> fields = {{"name"}, {"email"}, {"note"}};
    ReceipData e;
    e.name = "Ann";
    e.email = "ann@x.example";
    e.values = {"Ann", "ann@x.example", "two\nlines"};
    MailText mail;
    mail.MailHasHeader = true;
    mail.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                  "From: \"[name]\" <me@x.example>",
                  "To: \"[name]\" <[email]>",
                  "Subject: For [name]",
                  "MIME-Version: 1.0",
                  "Content-type: text/plain",
                  "X-Mailer: Tandrel 1.1",
                  "",
                  "Dear [name], [note]",
                  std::string(1000, 'q') + " [name]",
                  ""};
    const std::vector<std::string> want = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                                           "From: \"Ann\" <me@x.example>",
                                           "To: \"Ann\" <ann@x.example>",
                                           "Subject: For Ann",
                                           "MIME-Version: 1.0",
                                           "Content-type: text/plain",
                                           "X-Mailer: Tandrel 1.1",
                                           "",
                                           "Dear Ann, two",
                                           "lines",
                                           std::string(994, 'q'),
                                           std::string(6, 'q') + " Ann",
                                           ""};
    EXPECT_EQ(ComposeMessage(fields, mail, e), want);
    EXPECT_TRUE(ComposeMessage(fields, MailText{}, e).empty());
}

TEST(MergeLines, KeepsLongLines) {
    ReceipData e;
    e.name = "Bo";
    const std::vector<std::string> lines = {"[name]", std::string(2000, 'w')};
    EXPECT_EQ(MergeLines({}, lines, e), (std::vector<std::string>{"Bo", std::string(2000, 'w')}));
}
