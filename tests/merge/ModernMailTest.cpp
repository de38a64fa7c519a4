// Mail with extra header lines, Markdown bodies and fallback values, from the mail file
// through the prepared messages, read back by Python's email package.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <unistd.h>

#include "Compose.h"
#include "MailFile.h"
#include "Preparation.h"
#include "SendCheck.h"
#include "TestSupport.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

const char* kPython = "/usr/bin/python3";

// A PNG's signature and a few more bytes, including ones that base64 and text
// handling would spoil if they treated the file as text.
const std::string kLogoBytes = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe--\r\n.", 24);

const char* kMail = "From: \"Sender\" <sender@example.org>\n"
                    "To: \"[name|friend]\" <[email]>\n"
                    "Subject: Hello [name|friend]\n"
                    "Cc: [manager]\n"
                    "Bcc: audit@example.org\n"
                    "Reply-To: \"Help desk\" <help@example.org>\n"
                    "List-Unsubscribe: <mailto:leave@example.org?subject=[id]>\n"
                    "X-Campaign: spring\n"
                    "  and summer\n"
                    "Content-type: text/markdown\n"
                    "\n"
                    "# Hello [name|friend]\n"
                    "\n"
                    "Dear **[name|friend]**, your code is `[id]`.\n"
                    "\n"
                    "![logo](logo.png)\n"
                    "\n"
                    "Note: [note]\n";

struct Person {
    std::string name, email, manager, id, note, doc;
};

QJsonObject ReadWithPython(const std::string& path) {
    QProcess p;
    p.start(kPython,
            {TANDREL_SOURCE_DIR "/tests/merge/formatted_check.py", QString::fromStdString(path)});
    EXPECT_TRUE(p.waitForFinished(30000));
    const QByteArray out = p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(out).object();
}

std::string Str(const QJsonValue& v) {
    return v.toString().toStdString();
}

std::vector<std::string> Strings(const QJsonValue& v) {
    std::vector<std::string> out;
    for (const QJsonValue& x : v.toArray())
        out.push_back(Str(x));
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ModernMail, MarkdownMailWithCopiesAndFallbacksAsReadersSeeIt) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << "no system python";
    TempDir dir;
    WriteFileBytes(dir.file("mail.txt"), kMail);
    WriteFileBytes(dir.file("logo.png"), kLogoBytes);
    WriteFileBytes(dir.file("terms.txt"), "Everyone's terms\r\n");
    WriteFileBytes(dir.file("tom.txt"), "Tom's own terms\r\n");

    AppState st;
    st.prefs.fromaddy = "sender@example.org";
    MailEditors eds;
    ASSERT_TRUE(LoadMail(st, dir.file("mail.txt"), eds));

    // The file keeps every line through a save and a load.
    const std::vector<HeaderLine> wantLines = {
        {"Cc", "[manager]"},
        {"Bcc", "audit@example.org"},
        {"Reply-To", "\"Help desk\" <help@example.org>"},
        {"List-Unsubscribe", "<mailto:leave@example.org?subject=[id]>"},
        {"X-Campaign", "spring  and summer"},
    };
    ASSERT_EQ(eds.headerLines.size(), wantLines.size());
    for (std::size_t i = 0; i < wantLines.size(); ++i) {
        EXPECT_EQ(eds.headerLines[i].name, wantLines[i].name);
        EXPECT_EQ(eds.headerLines[i].value, wantLines[i].value);
    }
    EXPECT_EQ(eds.format, MailFormat::Markdown);
    SaveMail(st, dir.file("again.txt"), eds, false);
    MailEditors again;
    ASSERT_TRUE(LoadMail(st, dir.file("again.txt"), again));
    EXPECT_EQ(again.from, eds.from);
    EXPECT_EQ(again.to, eds.to);
    EXPECT_EQ(again.subject, eds.subject);
    EXPECT_EQ(again.body, eds.body);
    EXPECT_EQ(again.format, MailFormat::Markdown);
    ASSERT_EQ(again.headerLines.size(), wantLines.size());
    for (std::size_t i = 0; i < wantLines.size(); ++i)
        EXPECT_EQ(again.headerLines[i].value, wantLines[i].value);

    // A line break typed into a header value can never start a header line of its own.
    SetHeaderValue(again, "X-Campaign", "spring\r\nBcc: evil@example.org\nX-Evil: 1");
    BuildMailText(st, again);

    st.db = std::make_unique<DatabaseRoot>();
    for (const char* f : {"name", "email", "manager", "id", "note", "doc"})
        st.db->fields.push_back(VarIdent{f});
    const std::vector<Person> people = {
        {"Tom & <Jerry>", "tom@example.org", "boss@example.org, Audit@Example.org", "A17",
         "*bold* <b>x</b> [1](javascript:x)", "tom"},
        {"  ", "anna@example.org", "", "B2", "# not a heading", ""},
        // Windows-1252 text, and a value that tries to add a header line.
        {"Zo\xeb", "zoe@example.org", "zoe@example.org\r\nX-Evil: 1", "C3", "caf\xe9", ""},
    };
    std::vector<ReceipData*> recipients;
    for (const Person& p : people) {
        ReceipData& e = st.db->appendEntry();
        e.setName(p.name);
        e.setEmail(p.email);
        e.values = {p.name, p.email, p.manager, p.id, p.note, p.doc};
        recipients.push_back(&e);
    }
    st.attachments.push_back(MakeAttachment(dir.path() + "/[doc|terms].txt"));
    EXPECT_TRUE(CheckBeforeSending(st, {recipients[0], recipients[1]}).empty());
    const OutgoingList outgoing = PrepareAllMails(st, recipients, [](int) {});
    ASSERT_EQ(outgoing.size(), people.size());

    const std::vector<std::vector<std::string>> wantCopies = {
        {"boss@example.org", "Audit@Example.org"}, {"audit@example.org"}, {"audit@example.org"}};
    const std::vector<std::string> wantTree = {
        "multipart/mixed", "  multipart/alternative", "    text/plain", "    multipart/related",
        "      text/html", "      image/png",         "  text/plain"};
    struct Want {
        std::string shownName; // the name with its fallback
        std::string htmlName;  // the same, escaped
        std::string htmlNote;  // the note, text only
        std::vector<std::string> cc;
        std::string attachment;
    };
    const std::vector<Want> wants = {
        {"Tom & <Jerry>",
         "Tom &amp; &lt;Jerry&gt;",
         "*bold* &lt;b&gt;x&lt;/b&gt; [1](javascript:x)",
         {"boss@example.org, Audit@Example.org"},
         "Tom's own terms"},
        {"friend", "friend", "# not a heading", {}, "Everyone's terms"},
        {"Zo\u00eb", "Zo\u00eb", "caf\u00e9", {"zoe@example.org"}, "Everyone's terms"},
    };
    for (std::size_t i = 0; i < people.size(); ++i) {
        SCOPED_TRACE(people[i].email);
        const MailNode& node = outgoing[i];
        EXPECT_EQ(node.address, people[i].email);
        EXPECT_EQ(node.copyRecipients, wantCopies[i]);
        const std::string path = dir.file("message" + std::to_string(i) + ".eml");
        WriteFileBytes(path, JoinLines(node.lines.toVector()));
        const QJsonObject got = ReadWithPython(path);
        const Want& want = wants[i];

        EXPECT_TRUE(got["defects"].toArray().isEmpty()) << Strings(got["defects"]).size();
        EXPECT_FALSE(got["eightBit"].toBool());
        EXPECT_EQ(Strings(got["tree"]), wantTree);
        const QJsonObject h = got["headers"].toObject();
        EXPECT_FALSE(h.contains("bcc"));
        EXPECT_FALSE(h.contains("x-evil"));
        EXPECT_EQ(Strings(h["subject"]), std::vector<std::string>{"Hello " + want.shownName});
        EXPECT_EQ(Strings(h["cc"]), want.cc);
        EXPECT_EQ(Strings(h["reply-to"]), std::vector<std::string>{"Help desk <help@example.org>"});
        EXPECT_EQ(
            Strings(h["list-unsubscribe"]),
            std::vector<std::string>{"<mailto:leave@example.org?subject=" + people[i].id + ">"});
        EXPECT_EQ(Strings(h["x-campaign"]),
                  std::vector<std::string>{"spring Bcc: evil@example.org X-Evil: 1"});
        const std::vector<std::string> to = Strings(h["to"]);
        ASSERT_EQ(to.size(), 1u);
        EXPECT_TRUE(Holds(to[0], people[i].email)) << to[0];
        EXPECT_TRUE(Holds(to[0], want.shownName)) << to[0];

        const std::string plain = Str(got["plain"]);
        EXPECT_TRUE(
            Holds(plain, "Dear **" + want.shownName + "**, your code is `" + people[i].id + "`."))
            << plain;
        const std::string html = Str(got["html"]);
        EXPECT_TRUE(Holds(html, "<h1>Hello " + want.htmlName + "</h1>")) << html;
        EXPECT_TRUE(Holds(html, "Dear <strong>" + want.htmlName + "</strong>, your code is <code>" +
                                    people[i].id + "</code>."))
            << html;
        EXPECT_TRUE(Holds(html, "<p>Note: " + want.htmlNote + "</p>")) << html;

        const QJsonArray inline_ = got["inline"].toArray();
        ASSERT_EQ(inline_.size(), 1);
        const QJsonObject image = inline_[0].toObject();
        EXPECT_EQ(Str(image["type"]), "image/png");
        EXPECT_EQ(Str(image["hex"]), Hex(kLogoBytes));
        std::string cid = Str(image["id"]);
        ASSERT_GE(cid.size(), 2u);
        cid = cid.substr(1, cid.size() - 2);
        EXPECT_TRUE(Holds(html, "<img src=\"cid:" + cid + "\" alt=\"logo\"")) << html;

        const QJsonArray attachments = got["attachments"].toArray();
        ASSERT_EQ(attachments.size(), 1);
        EXPECT_EQ(Str(attachments[0].toObject()["text"]), want.attachment);
    }
}

TEST(ModernMail, CheckBeforeSendingKnowsCopiesFallbacksAndImages) {
    TempDir dir;
    AppState st;
    st.user.lastmail = dir.file("mail.txt");
    st.db = std::make_unique<DatabaseRoot>();
    st.db->fields = {VarIdent{"name"}, VarIdent{"email"}, VarIdent{"manager"}, VarIdent{"doc"}};
    WriteFileBytes(dir.file("terms.txt"), "terms");
    st.attachments.push_back(MakeAttachment(dir.path() + "/[doc|terms].txt"));
    MailEditors eds;
    eds.from = "<sender@example.org>";
    eds.to = "<[email]>";
    eds.subject = "Hello [name|friend]";
    eds.headerLines = {{"Cc", "[manager|boss@example.org]"},
                       {"Reply-To", "help desk"},
                       {"X-Note", "[Name|nobody]"}};
    eds.format = MailFormat::Markdown;
    eds.body = {"![logo](logo.png) ![far](../logo.png) ![web](https://example.org/x.png)",
                "[managr] [1]"};
    BuildMailText(st, eds);

    auto add = [&](const char* name, const char* email, const char* manager, const char* doc) {
        ReceipData& e = st.db->appendEntry();
        e.setName(name);
        e.setEmail(email);
        e.values = {name, email, manager, doc};
        return &e;
    };
    const std::vector<ReceipData*> people = {
        add("Ann", "ann@example.org", "", ""),
        add("Bob", "bob@example.org", "not-an-address", "../../secret")};
    std::vector<std::string> texts;
    for (const SendProblem& p : CheckBeforeSending(st, people))
        texts.push_back((p.severity == CheckSeverity::Blocking ? "blocking: " : "warning: ") +
                        p.text);
    const std::vector<std::string> want = {
        "blocking: Bob: the value \"../../secret\" would lead the attachment path " + dir.path() +
            "/[doc|terms].txt out of its folder",
        "blocking: The image file " + dir.file("logo.png") + " does not exist",
        "warning: [Name|nobody] in the header names no field (did you mean [name]?)",
        "warning: [managr] in the body names no field (did you mean [manager]?)",
        "warning: The Reply-To address \"help desk\" is not valid",
        "warning: Bob: the Cc address \"not-an-address\" is not valid",
    };
    EXPECT_EQ(texts, want);

    // Once the image is there, and the manager's address right, nothing blocks.
    WriteFileBytes(dir.file("logo.png"), kLogoBytes);
    people[1]->values[2] = "bob.boss@example.org";
    people[1]->values[3] = "  ";
    EXPECT_FALSE(HasBlockingProblem(CheckBeforeSending(st, people)));
}
