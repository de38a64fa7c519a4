// SPDX-License-Identifier: GPL-3.0-or-later
// Composed messages and whole runs read back by a MIME parser written elsewhere:
// Python's standard email package, from the system's own Python. What a reader shows
// must be exactly what the user wrote and attached.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>

#include "merge/Compose.h"
#include "merge/Mime.h"
#include "merge/Preparation.h"
#include "tests/support/TestSupport.h"

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
    mail.hasHeader = true;
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
    Person e;
    e.setName("Ann");
    e.setEmail("ann@x.example");
    const std::vector<Field> fields = {{"name"}, {"email"}};
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

namespace {

std::string Latin1ToUtf8(std::string_view s) {
    std::string out;
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

struct Case {
    const char* what;
    std::string from, to, subject;
    std::vector<std::string> body;
    std::string name; // the recipient; email is always ann@x.example
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
    bool latin1;                                            // the texts are Windows-1252
    std::vector<std::string> want;                          // lines the reader must show, in order
};

} // namespace

TEST(MessageReader, RunsDecodeToWhatWasWritten) {
    const char* python = "/usr/bin/python3";
    if (::access(python, X_OK) != 0) GTEST_SKIP() << "no system python";
    const std::string longLine(1200, 'w');
    const std::string utf16("\xff\xfeH\0i\0\r\0\n\0", 10);
    const std::string eml = "Subject: inner\r\n\r\n--partbound\r\nnot a boundary here\r\n"
                            "--partbound--\r\n";
    const std::string longBody =
        "Ein sehr langer Absatz \xc3\xbc" + std::string(150, 'x') + " mit Ende.  ";
    const Case cases[] = {
        {"UTF-8 header and body, attachments that cannot go as lines",
         "\"Zo\xc3\xab M\xc3\xbcller\" <zoe@sender.example>",
         "\"[name]\" <[email]>",
         "Gr\xc3\xbc\xc3\x9f"
         "e an [name] \xe2\x80\x93 caf\xc3\xa9 = 100%",
         {"Liebe [name],", ".punkt", "--partbound", longBody, "Tsch\xc3\xbc\xc3\x9f"},
         "J\xc3\xbcrgen Gro\xc3\x9f",
         {{"long.txt", longLine + "\r\nend\r\n"},
          {"utf16.txt", utf16},
          {"inner.eml", eml},
          {"plain.txt", "just\r\ntext\r\n"},
          {"\xc3\x9c"
           "bersicht.htm",
           "<p>x</p>\r\n"},
          {"we\"ird\r\n.\r\nMAIL FROM:<x@evil>.txt", "hi\r\n"}},
         false,
         {"defects: none", "8bit: no",
          "subject: Gr\xc3\xbc\xc3\x9f"
          "e an J\xc3\xbcrgen Gro\xc3\x9f \xe2\x80\x93 caf\xc3\xa9 = 100%",
          "from: Zo\xc3\xab M\xc3\xbcller | zoe@sender.example",
          "to: J\xc3\xbcrgen Gro\xc3\x9f | ann@x.example", "message-id: <*@sender.example>",
          "body: Liebe J\xc3\xbcrgen Gro\xc3\x9f,\\n.punkt\\n--partbound\\n" + longBody +
              "\\nTsch\xc3\xbc\xc3\x9f",
          "attachment: text/plain long.txt same", "attachment: text/plain utf16.txt same",
          "attachment: text/rfc822 inner.eml same", "attachment: text/plain plain.txt same",
          "attachment: text/html \xc3\x9c"
          "bersicht.htm same",
          "attachment: text/plain we\"ird.MAIL FROM:<x@evil>.txt -"}},
        {"Windows-1252 texts",
         "Caf\xe9 <cafe@sender.example>",
         "[name] <[email]>",
         "Caf\xe9 f\xfcr [name]",
         {"Gr\xfc\xdf"
          "e, [name]!",
          "\xb5 5"},
         "Ren\xe9",
         {},
         true,
         {"defects: none", "8bit: no", "subject: Caf\xe9 f\xfcr Ren\xe9",
          "from: Caf\xe9 | cafe@sender.example", "to: Ren\xe9 | ann@x.example",
          "message-id: <*@sender.example>",
          "body: Gr\xfc\xdf"
          "e, Ren\xe9!\\n\xb5 5"}},
        {"line breaks in header values become blanks",
         "me@sender.example",
         "\"[name]\" <[email]>",
         "For [name]",
         {"Hi [name]"},
         "Ann\r\nBcc: victim@x.example\r\n",
         {},
         false,
         {"defects: none", "8bit: no", "subject: For Ann Bcc: victim@x.example ",
          "from:  | me@sender.example", "to: Ann Bcc: victim@x.example  | ann@x.example",
          "message-id: <*@sender.example>", "body: Hi Ann\\nBcc: victim@x.example\\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        AppState st;
        st.newDatabase();
        st.mailText.hasHeader = true;
        st.mailText.lines = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                             "From: " + c.from,
                             "To: " + c.to,
                             "Subject: " + c.subject,
                             "MIME-Version: 1.0",
                             "Content-type: text/plain",
                             "X-Mailer: Tandrel 1.1",
                             ""};
        st.mailText.lines.insert(st.mailText.lines.end(), c.body.begin(), c.body.end());
        std::string args;
        for (const auto& [name, bytes] : c.files) {
            const std::string path = dir.file(name);
            WriteFileBytes(path, bytes);
            st.attachments.push_back(MakeAttachment(path));
            args += " '" + name + "=" + path + "'";
        }
        Person& e = st.db->appendEntry();
        e.setName(c.name);
        e.setEmail("ann@x.example");
        e.values = {c.name, e.email()};
        const OutgoingList outgoing = PrepareAllMails(st, {&e, &e}, nullptr);
        ASSERT_EQ(outgoing.size(), 2u);

        std::vector<std::string> ids;
        for (const OutgoingMessage& node : outgoing) {
            std::string bytes;
            node.lines.forEach([&](std::string_view l) {
                EXPECT_EQ(l.find_first_of("\r\n"), std::string_view::npos);
                EXPECT_LE(l.size(), 998u);
                bytes += l;
                bytes += "\r\n";
            });
            const std::string msg = dir.file("message.eml");
            WriteFileBytes(msg, bytes);
            const std::string out = RunCommand(
                std::string(python) + " " TANDREL_SOURCE_DIR "/tests/merge/message_check.py '" +
                msg + "'" + args);
            std::vector<std::string> got;
            for (std::size_t s = 0, n; s < out.size(); s = n + 1) {
                n = out.find('\n', s);
                if (n == std::string::npos) n = out.size();
                got.push_back(out.substr(s, n - s));
            }
            ASSERT_EQ(got.size(), c.want.size()) << out;
            for (std::size_t i = 0; i < got.size(); ++i) {
                const std::string want = c.latin1 ? Latin1ToUtf8(c.want[i]) : c.want[i];
                if (want.starts_with("message-id: <*")) {
                    EXPECT_TRUE(got[i].starts_with("message-id: <") &&
                                got[i].ends_with(want.substr(14)))
                        << got[i];
                    ids.push_back(got[i]);
                } else {
                    EXPECT_EQ(got[i], want);
                }
            }
        }
        ASSERT_EQ(ids.size(), 2u);
        EXPECT_NE(ids[0], ids[1]);
    }
}

namespace {

// The message as the delivery reads it: line by line through a cursor, each line
// consumed before the next is asked for.
std::string WireText(const MessageLines& m, std::optional<std::string>* failure = nullptr) {
    std::string out;
    auto c = m.cursor();
    while (!c.atEnd()) {
        out += c.next();
        out += "\r\n";
    }
    if (failure) *failure = c.failure();
    return out;
}

} // namespace

// Each person's own files are only counted while the run is prepared and are read and
// encoded as the message is read for sending; what goes out must be byte for byte the
// message encoded at once, and a reader must find each person's own files in it.
TEST(MimeParser, OwnFilesReadWhileSendingGiveTheSameMessage) {
    const char* python = "/usr/bin/python3";
    if (::access(python, X_OK) != 0) GTEST_SKIP() << "no system python";
    struct PersonRow {
        const char* name;
        std::size_t binBytes;
        std::string text;
        const char* charset = "-"; // of an 8-bit text part, as a reader finds it
    };
    const std::size_t big = 4096 * 57 * 2 + 58; // read in several blocks
    const PersonRow people[] = {
        {"Ann", 0, "\r\n"},
        {"Bob", 56, "one line\r\n"},
        {"Cy", 57, "two\r\n\r\nlines\r\n"},
        {"Di", 58, std::string("NUL\0inside", 10)}, // text sent as base64
        {"Ed", big, "--partbound\r\nlooks like our boundary\r\n"},
        {"Flo", 57 * 4096, std::string(2000, 'w') + "\r\n"}, // exactly one block; long line
        // 8-bit text goes as base64 (the relay was never asked for 8-bit) with its charset.
        {"Gus", 1,
         "Gr\xC3\xBC\xC3\x9F"
         "e\r\n",
         "utf-8"},
        {"Hal", 2,
         "Gr\xFC\xDF"
         "e aus K\xF6ln\r\n",
         "windows-1252"},
    };
    TempDir dir;
    WriteFileBytes(dir.file("common.jpg"), RandomBytes(3000, 9));
    MailText mail;
    mail.hasHeader = true;
    mail.lines = {"From: me@x.example", "To: \"[name]\" <[email]>", "Subject: Yours, [name]",
                  "MIME-Version: 1.0",  "Content-type: text/plain", "",
                  "Hello [name]."};
    AppState st;
    st.newDatabase();
    st.mailText = mail;
    for (const char* f : {"[name].bin", "common.jpg", "[name].txt"})
        st.attachments.push_back(MakeAttachment(dir.file(f)));
    std::vector<Person*> recipients;
    for (std::size_t i = 0; i < std::size(people); ++i) {
        const PersonRow& p = people[i];
        WriteFileBytes(dir.file(std::string(p.name) + ".bin"), RandomBytes(p.binBytes, 20 + i));
        WriteFileBytes(dir.file(std::string(p.name) + ".txt"), p.text);
        Person& e = st.db->appendEntry();
        e.setName(p.name);
        e.setEmail(std::string(p.name) + "@x.example");
        e.values = {e.name(), e.email()};
        recipients.push_back(&e);
    }
    const OutgoingList outgoing = PrepareAllMails(st, recipients, {});
    ASSERT_EQ(outgoing.size(), std::size(people));

    for (std::size_t i = 0; i < std::size(people); ++i) {
        const std::string name = people[i].name;
        const MessageLines& m = outgoing[i].lines;
        // A file that reports no size is read at once, to its end.
        EXPECT_EQ(m.deferredParts(), people[i].binBytes > 0 ? 2u : 1u) << name;
        EXPECT_EQ(m.checkDeferred(), std::nullopt) << name;
        const std::size_t lines = m.size();
        const std::uint64_t bytes = m.textBytes();

        std::optional<std::string> failure;
        const std::string wire = WireText(m, &failure);
        EXPECT_EQ(failure, std::nullopt) << name;
        EXPECT_EQ(wire.size(), bytes + 2 * lines) << name << ": size counted beforehand";

        // The same message with every part encoded at once.
        std::vector<std::string> want = SplitLines(wire.substr(0, wire.find("\r\n\r\n")));
        const auto id = std::find_if(want.begin(), want.end(), [](const std::string& l) {
            return l.rfind("Message-ID: ", 0) == 0;
        });
        ASSERT_NE(id, want.end());
        std::vector<std::string> eager = ComposeMessage(st.db->fields, mail, *recipients[i]);
        eager.insert(eager.begin() + (id - want.begin()), *id);
        AddAttachmentParts(st.db->fields, *recipients[i], st.attachments, eager);
        EXPECT_TRUE(JoinLines(eager) == wire) << name << ": differs from encoding at once";

        const std::string msgPath = dir.file(name + ".eml");
        WriteFileBytes(msgPath, wire);
        const std::string out = RunCommand(
            std::string(python) + " " TANDREL_SOURCE_DIR "/tests/merge/mime_check.py '" + msgPath +
            "' '" + name + ".bin=" + dir.file(name + ".bin") + "' '" + name +
            ".txt=" + dir.file(name + ".txt") + "' 'common.jpg=" + dir.file("common.jpg") + "'");
        EXPECT_EQ(out.find("differs"), std::string::npos) << name << "\n" << out;
        EXPECT_NE(out.find("defects none\nparts 4\n"), std::string::npos) << name << "\n" << out;
        EXPECT_NE(out.find("application/octet-stream " + name + ".bin base64 same"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("text/plain " + name + ".txt"), std::string::npos) << out;
        if (std::string_view(people[i].charset) != "-") {
            EXPECT_NE(out.find("text/plain " + name + ".txt base64 same " + people[i].charset),
                      std::string::npos)
                << out;
        }
    }
}
