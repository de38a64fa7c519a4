// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <unistd.h>

#include "merge/Compose.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::ReadFileBytes;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

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
    const std::vector<Field> fields = {{"name"}, {"email"}, {"note"}};
    Person e;
    e.setName("Ann");
    e.setEmail("ann@x.example");
    e.values = {"Ann", "ann@x.example", "two\nlines"};
    MailText mail;
    mail.hasHeader = true;
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

TEST(MergeLines, KeepsLongLinesAndGivesMixedTextsAsUtf8) {
    const std::vector<Field> fields = {{"note"}};
    const std::string hiUtf8 = "H\xc3\xa9", hi1252 = "H\xe9"; // "Hé"
    const std::string cleoUtf8 = "Cl\xc3\xa9o", cleo1252 = "Cl\xe9o";
    struct Case {
        std::vector<std::string> lines;
        std::string name, note;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {{"[name]", std::string(2000, 'w')}, "Bo", "", {"Bo", std::string(2000, 'w')}},
        {{hi1252 + " [name]"}, cleoUtf8, "", {hiUtf8 + " " + cleoUtf8}},
        {{hiUtf8 + " [name]"}, cleo1252, "", {hiUtf8 + " " + cleoUtf8}},
        // One kind only, even with a value of the other kind that the text does not use.
        {{hi1252 + " [name]"}, cleo1252, hiUtf8, {hi1252 + " " + cleo1252}},
    };
    for (const Case& c : cases) {
        Person e;
        e.setName(c.name);
        e.values = {c.note};
        EXPECT_EQ(MergeLines(fields, c.lines, e), c.want) << c.lines[0];
    }
}

// Composed messages read back by Python's email package: what a reader shows must be
// the characters of the mail and the values, whatever their charsets, the people and
// addresses that were meant, and every line of the text, on lines the wire takes.
TEST(MessageComposer, ReadersShowTheIntendedText) {
    const char* python = "/usr/bin/python3";
    if (::access(python, X_OK) != 0) GTEST_SKIP() << "no system python";
    const std::string greetUtf8 = "Gr\xc3\xbc\xc3\x9f"
                                  "e",
                      greet1252 = "Gr\xfc\xdf"
                                  "e";
    const std::string cleoUtf8 = "Cl\xc3\xa9o", cleo1252 = "Cl\xe9o";
    const std::string zoe = "Zo\xc3\xab \"Z\" M\xc3\xbcller, Jr.";
    std::string words;
    for (int i = 0; i < 239; ++i)
        words += "word ";
    words += "last"; // 1199 characters
    const std::string longLine = std::string(1500, 'z') + " " + std::string(1500, 'y');
    std::string list; // eighty addresses and not one blank
    std::vector<std::string> listRead = {"subject: Hi", "from:  | me@x.example"};
    for (int i = 0; i < 80; ++i) {
        list += (i ? "," : "") + std::string("user") + std::to_string(i) + "@example.com";
        listRead.push_back("to:  | user" + std::to_string(i) + "@example.com");
    }
    listRead.push_back("body: Hi");
    struct Case {
        const char* what;
        std::string from, to, subject;
        std::vector<std::string> body;
        std::string name, note;        // the person; the address is always bob@x.example
        std::vector<std::string> want; // what the reader shows, but for the Message-ID
        std::string wireLine;          // a line the message must hold
    };
    // One letter from each mix of charsets: readers must show the same text every time.
    auto letter = [&](const char* what, const std::string& greet, const std::string& name,
                      const std::string& unused, const std::string& charset) {
        return Case{what,
                    "me@x.example",
                    "\"[name]\" <[email]>",
                    greet + " [name]",
                    {greet + ", [name]!"},
                    name,
                    unused,
                    {"subject: " + greetUtf8 + " " + cleoUtf8, "from:  | me@x.example",
                     "to: " + cleoUtf8 + " | bob@x.example",
                     "body: " + greetUtf8 + ", " + cleoUtf8 + "!"},
                    "Content-type: text/plain; charset=" + charset};
    };
    const Case cases[] = {
        letter("Windows-1252 mail, UTF-8 value", greet1252, cleoUtf8, "", "utf-8"),
        letter("UTF-8 mail, Windows-1252 value", greetUtf8, cleo1252, "", "utf-8"),
        letter("Windows-1252 mail and value, an unused UTF-8 value", greet1252, cleo1252,
               "Zo\xc3\xab", "windows-1252"),
        {"a comma in a display name, quoted or not; specials in the sender's name",
         "[note] <me@x.example>",
         "[name] <[email]>, \"[name]\" <copy@x.example>",
         "Hi",
         {"Hi"},
         "Baker, Bob",
         "Sales: East (2)",
         {"subject: Hi", "from: Sales: East (2) | me@x.example", "to: Baker, Bob | bob@x.example",
          "to: Baker, Bob | copy@x.example", "body: Hi"},
         "To: \"Baker, Bob\" <bob@x.example>, \"Baker, Bob\" <copy@x.example>"},
        {"quote and backslash in a quoted name; a bare address stays",
         "me@x.example",
         "\"[name]\" <[email]>, [note]",
         "Hi",
         {"Hi"},
         "Quote \"q\" back\\slash",
         "carol@x.example",
         {"subject: Hi", "from:  | me@x.example", "to: Quote \"q\" back\\slash | bob@x.example",
          "to:  | carol@x.example", "body: Hi"},
         "To: \"Quote \\\"q\\\" back\\\\slash\" <bob@x.example>, carol@x.example"},
        {"non-ASCII names with quote and comma become encoded-words",
         "me@x.example",
         "[name] <[email]>, \"[name]\" <copy@x.example>",
         "Hi",
         {"Hi"},
         zoe,
         "",
         {"subject: Hi", "from:  | me@x.example", "to: " + zoe + " | bob@x.example",
          "to: " + zoe + " | copy@x.example", "body: Hi"},
         ""},
        // Plain ASCII keeps the mail's form: a long line is wrapped like any other.
        {"an ASCII 3000-character line is wrapped",
         "me@x.example",
         "[email]",
         "Hi",
         {"Dear [name],", longLine},
         "Bob",
         "",
         {"subject: Hi", "from:  | me@x.example", "to:  | bob@x.example",
          "body: Dear Bob,\\n" + std::string(994, 'z') + "\\n" + std::string(506, 'z') + "\\n " +
              std::string(994, 'y') + "\\n" + std::string(506, 'y')},
         "Content-type: text/plain"},
        {"a non-ASCII 3000-character line is kept whole",
         "me@x.example",
         "[email]",
         "Hi",
         {greetUtf8 + " [name],", longLine},
         "Bob",
         "",
         {"subject: Hi", "from:  | me@x.example", "to:  | bob@x.example",
          "body: " + greetUtf8 + " Bob,\\n" + longLine},
         "Content-Transfer-Encoding: quoted-printable"},
        {"a long subject of words is folded",
         "me@x.example",
         "[email]",
         words,
         {"Hi"},
         "Bob",
         "",
         {"subject: " + words, "from:  | me@x.example", "to:  | bob@x.example", "body: Hi"},
         "Content-type: text/plain"},
        {"a long list of addresses without blanks is folded after its commas",
         "me@x.example",
         "[note]",
         "Hi",
         {"Hi"},
         "Bob",
         list,
         listRead,
         ""},
        // Too long to fold: cut, but never into a field of its own (no reader check: the
        // value is no address anyway).
        {"one word longer than a line",
         "me@x.example",
         "[note]",
         "Hi",
         {"Hi"},
         "Bob",
         std::string(983, 'a') + "@x.example" + "Bcc:evil@attacker.example",
         {},
         ""},
        {"a long subject without a blank",
         "me@x.example",
         "[email]",
         std::string(1200, 'x'),
         {greetUtf8},
         "Bob",
         "",
         {"subject: " + std::string(1200, 'x'), "from:  | me@x.example", "to:  | bob@x.example",
          "body: " + greetUtf8},
         ""},
    };
    const std::vector<Field> fields = {{"name"}, {"email"}, {"note"}};
    TempDir dir;
    const std::string msg = dir.file("message.eml"), out = dir.file("read.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MailText mail;
        mail.hasHeader = true;
        mail.lines = {"From: " + c.from,          "To: " + c.to,
                      "Subject: " + c.subject,    "MIME-Version: 1.0",
                      "Content-type: text/plain", ""};
        mail.lines.insert(mail.lines.end(), c.body.begin(), c.body.end());
        Person e;
        e.setName(c.name);
        e.setEmail("bob@x.example");
        e.values = {c.name, e.email(), c.note};
        const std::vector<std::string> lines =
            MessageComposer(fields, mail, "x.example").compose(e, false);
        for (const std::string& l : lines) {
            EXPECT_LE(l.size(), 998u);
            EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos);
        }
        // Whatever the values hold, the header has only the fields the mail gives it.
        for (std::size_t i = 0; i < lines.size() && !lines[i].empty(); ++i) {
            if (lines[i][0] == ' ' || lines[i][0] == '\t') continue;
            const std::string name = lines[i].substr(0, lines[i].find(':'));
            EXPECT_TRUE(name == "From" || name == "To" || name == "Subject" ||
                        name == "MIME-Version" || name == "Content-type" ||
                        name == "Content-Transfer-Encoding" || name == "Message-ID")
                << lines[i].substr(0, 80);
        }
        if (!c.wireLine.empty()) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), c.wireLine), lines.end());
        }

        if (c.want.empty()) continue;
        WriteFileBytes(msg, JoinLines(lines));
        const std::string cmd = std::string(python) +
                                " " TANDREL_SOURCE_DIR "/tests/merge/message_check.py '" + msg +
                                "' > '" + out + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        std::vector<std::string> got;
        for (std::string& l : SplitLines(ReadFileBytes(out)))
            if (!l.starts_with("message-id: ")) got.push_back(std::move(l));
        std::vector<std::string> want = {"defects: none", "8bit: no"};
        want.insert(want.end(), c.want.begin(), c.want.end());
        EXPECT_EQ(got, want);
    }
}
