// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "merge/Compose.h"
#include "merge/Mime.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

std::string Bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

std::vector<std::string> Base64Lines(const std::string& path) {
    std::vector<std::string> lines;
    AddBase64Body(lines, path);
    return lines;
}

const std::vector<std::string> kHeader = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                                          "From: me@x.example",
                                          "To: \"Ann\" <ann@x.example>",
                                          "Subject: Hello",
                                          "MIME-Version: 1.0",
                                          "Content-type: text/plain",
                                          "X-Mailer: Tandrel 1.1",
                                          ""};

std::vector<std::string> Message(std::vector<std::string> body) {
    auto lines = kHeader;
    lines.insert(lines.end(), body.begin(), body.end());
    return lines;
}

Person Ann() {
    Person e;
    e.setName("Ann");
    e.setEmail("ann@x.example");
    e.values = {"Ann", "ann@x.example"};
    return e;
}

const std::vector<Field> kFields = {{"name"}, {"email"}};

std::string WriteEmpty(const std::string& path) {
    WriteFileBytes(path, "");
    return path;
}

} // namespace

// The types of attachments as a reader's own table (Python's mimetypes) gives them: every
// file of a type the program names goes with that type, in any letter case, everything
// else as application/octet-stream, which every reader offers to save.
TEST(ContentTypeOf, AgreesWithAReadersTable) {
    if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no system python";
    const std::vector<std::string> names = {
        "letter.txt", "a.htm",  "a.html", "a.shtml", "a.gif",    "a.bmp",          "photo.jpg",
        "photo.jpeg", "a.png",  "a.pdf",  "README",  "trailing.", "archive.tar.gz", "txt.doc",
        "",           "mail.eml", "page.dhtml"};
    // The program's own names where the reader's table has another or none.
    const std::map<std::string, std::string> own = {{"mail.eml", "text/rfc822"},
                                                    {"page.dhtml", "text/html"}};
    const std::set<std::string> named = {"text/plain", "text/html", "image/gif", "image/jpeg",
                                         "image/bmp"};
    std::string script = "import mimetypes\nfor n in [";
    for (const std::string& n : names)
        script += "'" + n + "',";
    script += "]: print(mimetypes.guess_type(n)[0] or '-')";
    std::string out;
    if (std::FILE* p = ::popen(("/usr/bin/python3 -c \"" + script + "\"").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    std::istringstream readerTypes(out);
    for (const std::string& name : names) {
        std::string reader;
        ASSERT_TRUE(std::getline(readerTypes, reader)) << out;
        const std::string want = own.count(name)      ? own.at(name)
                                 : named.count(reader) ? reader
                                                       : "application/octet-stream";
        std::string upper = name;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(ContentTypeOf(name), want) << name << " (reader: " << reader << ")";
        EXPECT_EQ(ContentTypeOf(upper), want) << upper;
    }
}

TEST(Base64, KnownVectors) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [in, want] : cases)
        EXPECT_EQ(EncodeBase64Chunk(reinterpret_cast<const unsigned char*>(in.data()), in.size()),
                  want);
}

// Line lengths and padding by size; what the lines decode to, Python's email package
// says in MimeParser.ReadsOurMultipartMessage.
TEST(Base64, BodiesBySize) {
    TempDir dir;
    auto full = [](std::size_t n, std::size_t last) {
        std::vector<std::size_t> v(n, 76);
        if (last) v.push_back(last);
        return v;
    };
    struct Case {
        std::size_t size;
        std::vector<std::size_t> lineLengths;
        std::size_t padding; // "=" at the end of the last line
    };
    const Case cases[] = {
        {0, {}, 0},       {1, {4}, 2},        {55, {76}, 2},           {56, {76}, 1}, {57, {76}, 0},
        {58, {76, 4}, 2}, {114, {76, 76}, 0}, {1000, full(17, 44), 2}, // 1000 = 17 * 57 + 31
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("f" + std::to_string(c.size) + ".bin");
        const std::string data = Bytes(c.size, static_cast<unsigned>(c.size));
        WriteFileBytes(path, data);
        const auto lines = Base64Lines(path);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "Content-Transfer-Encoding: base64");
        EXPECT_EQ(lines[1], "");
        std::vector<std::size_t> lengths;
        std::string joined;
        for (std::size_t i = 2; i < lines.size(); ++i) {
            lengths.push_back(lines[i].size());
            joined += lines[i];
        }
        EXPECT_EQ(lengths, c.lineLengths) << c.size;
        EXPECT_EQ(static_cast<std::size_t>(std::count(joined.begin(), joined.end(), '=')),
                  c.padding)
            << c.size;
    }
}

TEST(Base64, BulkLinesEqualChunkLines) {
    for (std::size_t n : {0u, 1u, 56u, 57u, 58u, 171u, 5000u, 100003u}) {
        const std::string data = Bytes(n, static_cast<unsigned>(n) + 1);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        LineBlock block;
        AppendBase64Lines(block, p, n);
        ASSERT_EQ(block.size(), Base64LineCount(n)) << n;
        for (std::size_t i = 0; i < block.size(); ++i) {
            const std::size_t off = i * kBase64LineBytes;
            ASSERT_EQ(block.line(i), EncodeBase64Chunk(p + off, std::min<std::size_t>(57, n - off)))
                << n << " line " << i;
        }
    }
}

TEST(Base64, MissingAndUnreadableFilesAreErrors) {
    TempDir dir;
    const std::string mem = dir.file("mem.bin"); // exists, but every read fails
    ASSERT_EQ(::symlink("/proc/self/mem", mem.c_str()), 0);
    const std::string pipe = dir.file("pipe.bin"); // no waiting for a writer that never comes
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* problem;
    } cases[] = {
        {dir.file("missing.bin"), "does not exist"},
        {dir.path(), "is a folder"},
        {mem, "cannot be read"},
        {pipe, "is not a regular file"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(AttachmentProblem(c.path).find(c.problem), std::string::npos) << c.path;
        try {
            Base64Lines(c.path);
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const ComposeError& e) {
            EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
        }
    }
    WriteFileBytes(dir.file("ok.bin"), "");
    EXPECT_EQ(AttachmentProblem(dir.file("ok.bin")), "");
}

TEST(MakeMultipart, LayoutAndRefusal) {
    auto lines = Message({"Body", "", "end"});
    lines[5] = "CONTENT-TYPE: TEXT/PLAIN";
    MakeMultipart(lines);
    const std::vector<std::string> want = {"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                                           "From: me@x.example",
                                           "To: \"Ann\" <ann@x.example>",
                                           "Subject: Hello",
                                           "MIME-Version: 1.0",
                                           "Content-Type: multipart/mixed; boundary=partbound",
                                           "X-Mailer: Tandrel 1.1",
                                           "",
                                           "This is a multi-part message in MIME format",
                                           "",
                                           "--partbound",
                                           "Content-type: text/plain",
                                           "",
                                           "Body",
                                           "",
                                           "end"};
    EXPECT_EQ(lines, want);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"just a body", "", "more"},
          std::vector<std::string>{"Content-type: text/plain", "no empty line"},
          std::vector<std::string>{}}) {
        auto copy = bad;
        EXPECT_THROW(MakeMultipart(copy), ComposeError);
        EXPECT_EQ(copy, bad);
    }
}

TEST(AddAttachmentParts, WholeMessageLayout) {
    TempDir dir;
    WriteFileBytes(dir.file("notes.txt"), "first\r\nsecond\rthird\n" + std::string(1200, 'L'));
    WriteFileBytes(dir.file("tiny.gif"), "GIF89");
    const std::vector<Attachment> atts = {MakeAttachment(dir.file("notes.txt")),
                                          MakeAttachment(dir.file("tiny.gif")),
                                          MakeAttachment(dir.file("plain.htm"))};
    WriteFileBytes(dir.file("plain.htm"), "<p>\r\n" + std::string(998, 'L') + "\n");
    auto lines = Message({"Hi"});
    AddAttachmentParts(kFields, Ann(), atts, lines);
    std::vector<std::string> want = {
        "Date: Tue, 05 Jan 1999 09:07:03 +0100", "From: me@x.example",
        "To: \"Ann\" <ann@x.example>", "Subject: Hello", "MIME-Version: 1.0",
        "Content-Type: multipart/mixed; boundary=partbound", "X-Mailer: Tandrel 1.1", "",
        "This is a multi-part message in MIME format", "", "--partbound",
        "Content-type: text/plain", "", "Hi", "--partbound",
        "Content-type: text/plain; name=\"notes.txt\"",
        "Content-Disposition: attachment; filename=\"notes.txt\"",
        // a bare CR and a 1200-octet line: not as lines
        "Content-Transfer-Encoding: base64", "", "--partbound",
        "Content-type: image/gif; name=\"tiny.gif\"",
        "Content-Disposition: attachment; filename=\"tiny.gif\"",
        "Content-Transfer-Encoding: base64", "", "R0lGODk=", "--partbound",
        "Content-type: text/html; name=\"plain.htm\"",
        "Content-Disposition: attachment; filename=\"plain.htm\"", "", "<p>",
        std::string(998, 'L'), // text lines are never wrapped
        "--partbound--"};
    const std::string notes = "first\r\nsecond\rthird\n" + std::string(1200, 'L');
    LineBlock encoded;
    AppendBase64Lines(encoded, reinterpret_cast<const unsigned char*>(notes.data()), notes.size());
    for (std::size_t i = 0; i < encoded.size(); ++i)
        want.insert(want.begin() + 19 + static_cast<std::ptrdiff_t>(i),
                    std::string(encoded.line(i)));
    EXPECT_EQ(lines, want);
}

TEST(AddAttachmentParts, PerRecipientPath) {
    TempDir dir;
    WriteFileBytes(dir.file("Ann.txt"), "for Ann\r\n");
    WriteFileBytes(dir.file("Bob.txt"), "for Bob\r\n");
    const std::vector<Attachment> atts = {MakeAttachment(dir.file("[name].txt"))};
    for (const char* who : {"Ann", "Bob"}) {
        Person e;
        e.setName(who);
        auto lines = Message({"Hi"});
        AddAttachmentParts(kFields, e, atts, lines);
        const std::vector<std::string> tail(lines.end() - 6, lines.end());
        const std::string file = std::string(who) + ".txt";
        EXPECT_EQ(tail, (std::vector<std::string>{
                            "--partbound", "Content-type: text/plain; name=\"" + file + "\"",
                            "Content-Disposition: attachment; filename=\"" + file + "\"", "",
                            std::string("for ") + who, "--partbound--"}));
    }
    // Merged only when the path holds both brackets, in any order.
    Person e = Ann();
    EXPECT_EQ(AttachmentPathFor("a]b[name]", FieldIndex(kFields), e), "a]bAnn");
    EXPECT_EQ(AttachmentPathFor("[name", FieldIndex(kFields), e), "[name");
}

TEST(AddAttachmentParts, FailuresNameTheProblemAndChangeNothing) {
    TempDir dir;
    WriteFileBytes(dir.file("ok.bin"), "data");
    const std::string unreadable = dir.file("mem.txt");
    ASSERT_EQ(::symlink("/proc/self/mem", unreadable.c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("pipe.txt").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.jpg").c_str(), 0700), 0);
    // Sparse files too large for one part: refused before anything is read or encoded.
    ASSERT_EQ(::truncate(WriteEmpty(dir.file("huge.bin")).c_str(), 3'300'000'000), 0);
    ASSERT_EQ(::truncate(WriteEmpty(dir.file("huge.txt")).c_str(), 4'300'000'000), 0);
    struct Case {
        std::vector<std::string> message;
        std::string attachment;
        std::string mentions;
    };
    const Case cases[] = {
        {Message({"Hi"}), dir.file("missing.txt"), "missing.txt"},
        {Message({"Hi"}), dir.file("gone.pdf"), "gone.pdf does not exist"},
        {Message({"Hi"}), dir.file("folder.jpg"), "folder.jpg is a folder"},
        {Message({"Hi"}), dir.file("letters.htm"), "letters.htm"},
        {Message({"Hi"}), unreadable, "mem.txt"},
        {Message({"Hi"}), dir.file("pipe.txt"), "pipe.txt"},
        {Message({"Hi"}), dir.file("huge.bin"), "huge.bin is too large"},
        {Message({"Hi"}), dir.file("huge.txt"), "huge.txt is too large"},
        {{"body without header", "", "x"}, dir.file("ok.bin"), "header"},
    };
    for (const auto& c : cases) {
        const std::vector<Attachment> atts = {MakeAttachment(dir.file("ok.bin")),
                                              MakeAttachment(c.attachment)};
        auto lines = c.message;
        try {
            AddAttachmentParts(kFields, Ann(), atts, lines);
            ADD_FAILURE() << "no error for " << c.attachment;
        } catch (const ComposeError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
        EXPECT_EQ(lines, c.message);
    }
}
