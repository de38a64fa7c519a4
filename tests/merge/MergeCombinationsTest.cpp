// SPDX-License-Identifier: GPL-3.0-or-later
// Combinations real runs meet, composed as a run composes them and read back by Python's
// email package: lines that nearly are the boundary, in the body and in attachments, and
// a mail without any header lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "merge/Compose.h"
#include "merge/Preparation.h"
#include "merge/Mime.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WireText.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string RunPython(const std::string& args) {
    std::string out;
    const std::string cmd = std::string(kPython) + " " + args;
    if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Lines a reader could take for the boundary, or that are nearly one.
const std::vector<std::string> kBoundaryLike = {
    "--partbound",    "--partbound--", "--partbound ",   "--partbound\t",  "--partbound  --",
    " --partbound",   "\t--partbound", "--partboundary", "---partbound",   "--PARTBOUND",
    "--partbound--x", "x--partbound",  "--part bound",   "--partbound\x0c", "-partbound",
    "--",             "--partboun",    "partbound",      "--partbound=",   "--partbound--  ",
};

} // namespace

// Every variant in the body and as a line of its own attachment, in each kind of text
// part: the reader finds the body unchanged and every attachment byte for byte.
TEST(MergeCombinations, BoundaryLikeLinesStayInsideTheirParts) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << "no system python";
    TempDir dir;
    AppState st;
    st.newDatabase();
    st.mailText.hasHeader = true;
    st.mailText.lines = {"From: me@x.example", "To: \"[name]\" <[email]>", "Subject: Files",
                         "MIME-Version: 1.0", "Content-type: text/plain", ""};
    std::string body;
    // Without the exact boundary line, which would make the whole body encoded.
    for (const std::string& line : kBoundaryLike) {
        if (line == "--partbound") continue;
        st.mailText.lines.push_back(line);
        body += (body.empty() ? "" : "\\n") + line;
    }
    std::string args = TANDREL_SOURCE_DIR "/tests/merge/message_check.py '" + dir.file("m.eml") + "'";
    std::size_t files = 0;
    for (std::size_t i = 0; i < kBoundaryLike.size(); ++i) {
        const std::string& line = kBoundaryLike[i];
        const char* ext = i % 3 == 0 ? ".txt" : i % 3 == 1 ? ".htm" : ".eml";
        const std::vector<std::string> contents = {
            line + "\r\n",                                  // alone
            "before\r\n" + line + "\r\nafter\r\n",          // between lines
            "before\r\n\r\n" + line + "\r\n",                // after an empty line
            "before\r\n" + line + "\r\n" + line + "--\r\n", // opening and closing form
        };
        for (std::size_t k = 0; k < contents.size(); ++k) {
            const std::string name = "f" + std::to_string(i) + "_" + std::to_string(k) + ext;
            WriteFileBytes(dir.file(name), contents[k]);
            st.attachments.push_back(MakeAttachment(dir.file(name)));
            args += " '" + name + "=" + dir.file(name) + "'";
            ++files;
        }
    }
    Person& e = st.db->appendEntry();
    e.values = {"Ann", "ann@x.example"};
    e.setName("Ann");
    e.setEmail("ann@x.example");
    const OutgoingList outgoing = PrepareAllMails(st, {&e}, nullptr);
    ASSERT_EQ(outgoing.size(), 1u);
    WriteFileBytes(dir.file("m.eml"), tandrel::test::WireText(outgoing[0].lines));

    const std::string out = RunPython(args);
    EXPECT_NE(out.find("defects: none\n"), std::string::npos) << out;
    EXPECT_NE(out.find("body: " + body + "\n"), std::string::npos) << out;
    std::size_t same = 0;
    for (std::size_t at = 0; (at = out.find(" same\n", at)) != std::string::npos; ++at)
        ++same;
    EXPECT_EQ(same, files) << out;
}

// A mail without any header lines goes out as its merged body alone, line for line;
// attachments, which need the header's type line, are refused before anything is sent.
TEST(MergeCombinations, MailWithoutHeaderLines) {
    TempDir dir;
    AppState st;
    st.newDatabase();
    st.mailText.hasHeader = false;
    st.mailText.lines = {"Hello [name],", "", ".", "--partbound", "Gr\xC3\xBC\xC3\x9F" "e",
                         std::string(1200, 'w'), "[email]"};
    Person& e = st.db->appendEntry();
    e.values = {"Ann\r\nLee", "ann@x.example"};
    e.setName(e.values[0]);
    e.setEmail(e.values[1]);
    const OutgoingList outgoing = PrepareAllMails(st, {&e}, nullptr);
    ASSERT_EQ(outgoing.size(), 1u);
    const std::string wire = tandrel::test::WireText(outgoing[0].lines);
    // The long line is cut to what a relay takes; nothing else changes.
    const std::string want = "Hello Ann\r\nLee,\r\n\r\n.\r\n--partbound\r\nGr\xC3\xBC\xC3\x9F" "e\r\n" +
                             std::string(MaxLineLength - 1, 'w') + "\r\n" +
                             std::string(1200 - (MaxLineLength - 1), 'w') +
                             "\r\nann@x.example\r\n";
    EXPECT_EQ(wire, want);

    WriteFileBytes(dir.file("a.bin"), "data");
    st.attachments.push_back(MakeAttachment(dir.file("a.bin")));
    EXPECT_THROW(PrepareAllMails(st, {&e}, nullptr), ComposeError);
}
