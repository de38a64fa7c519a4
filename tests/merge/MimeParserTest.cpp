// A composed message read back by a MIME parser written elsewhere: Python's standard
// email package, from the system's own Python.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "Compose.h"
#include "Mime.h"
#include "TestSupport.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

std::string RunCommand(const std::string& cmd) {
    std::string out;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int rc = ::pclose(p);
    if (rc != 0) out += "exit status " + std::to_string(rc) + "\n";
    return out;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

} // namespace

TEST(MimeParser, ReadsOurMultipartMessage) {
    const char* python = "/usr/bin/python3";
    if (::access(python, X_OK) != 0) GTEST_SKIP() << "no system python";
    TempDir dir;
    struct File {
        const char* name;
        std::string bytes;
    };
    const File files[] = {
        {"letter.txt", "Dear Ann,\r\n\r\nsee the files.\r\n" + std::string(1500, 't') + "\r\n"},
        {"photo.jpg", RandomBytes(20000, 1)},
        {"empty.bin", ""},
        {"fifty-six.bin", RandomBytes(56, 2)},
        {"fifty-seven.gif", RandomBytes(57, 3)},
        {"fifty-eight.bmp", RandomBytes(58, 4)},
        {"page.html", "<p>[name]</p>\r\n"},
    };
    std::vector<Attachment> atts;
    std::string args;
    for (const auto& f : files) {
        WriteFileBytes(dir.file(f.name), f.bytes);
        atts.push_back(MakeAttachment(dir.file(f.name)));
        args += std::string(" '") + f.name + "=" + dir.file(f.name) + "'";
    }
    MailText mail;
    mail.MailHasHeader = true;
    mail.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                  "From: me@x.example",
                  "To: \"[name]\" <[email]>",
                  "Subject: Files for [name]",
                  "MIME-Version: 1.0",
                  "Content-type: text/plain",
                  "X-Mailer: Tandrel 1.1",
                  "",
                  "Hello [name],",
                  "",
                  "the files."};
    ReceipData e;
    e.name = "Ann";
    e.email = "ann@x.example";
    const std::vector<VarIdent> fields = {{"name"}, {"email"}};
    auto lines = ComposeMessage(fields, mail, e);
    AddAttachmentParts(fields, e, atts, lines);
    const std::string msgPath = dir.file("message.eml");
    WriteFileBytes(msgPath, JoinLines(lines));

    const std::string out =
        RunCommand(std::string(python) + " " TANDREL_SOURCE_DIR "/tests/merge/mime_check.py '" +
                   msgPath + "'" + args);
    EXPECT_EQ(out, "multipart True multipart/mixed\n"
                   "defects none\n"
                   "parts 8\n"
                   "part text/plain - - -\n"
                   "part text/plain letter.txt base64 same\n"
                   "part image/jpeg photo.jpg base64 same\n"
                   "part application/octet-stream empty.bin base64 same\n"
                   "part application/octet-stream fifty-six.bin base64 same\n"
                   "part image/gif fifty-seven.gif base64 same\n"
                   "part image/bmp fifty-eight.bmp base64 same\n"
                   "part text/html page.html - same\n");
}
