// SPDX-License-Identifier: GPL-3.0-or-later
// Mail with extra header lines, Markdown bodies and fallback values, from the mail file
// through the prepared messages, read back by Python's email package.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <unistd.h>

#include "merge/Compose.h"
#include "tests/support/HostileText.h"
#include "model/MailFile.h"
#include "merge/Preparation.h"
#include "merge/SendCheck.h"
#include "tests/support/TestSupport.h"

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

struct PersonRow {
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

// What html_check.py read in each message file, in order.
std::vector<QJsonObject> ReadHtmlWithPython(const std::vector<std::string>& paths) {
    QStringList args{TANDREL_SOURCE_DIR "/tests/merge/html_check.py"};
    for (const std::string& path : paths)
        args << QString::fromStdString(path);
    QProcess p;
    p.start(kPython, args);
    EXPECT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::vector<QJsonObject> read;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) read.push_back(QJsonDocument::fromJson(line).object());
    return read;
}

// The tags of the body as "p a[href=x] img[alt]": with `values`, each attribute's too.
std::string Tags(const QJsonObject& read, bool values) {
    std::string out;
    for (const QJsonValue& t : read["tags"].toArray()) {
        const QJsonArray tag = t.toArray();
        out += (out.empty() ? "" : " ") + Str(tag[0]);
        for (const QJsonValue& a : tag[1].toArray()) {
            const QJsonArray attribute = a.toArray();
            out += "[" + Str(attribute[0]);
            if (values && !attribute[1].isNull()) out += "=" + Str(attribute[1]);
            out += "]";
        }
    }
    return out;
}

MailText MarkdownMail(const std::string& body) {
    MailText mail;
    mail.hasHeader = true;
    mail.lines = {"From: <sender@example.org>", "To: <[email]>", "Subject: Values",
                  "Content-type: text/markdown", ""};
    for (std::string& line : SplitLines(body))
        mail.lines.push_back(std::move(line));
    return mail;
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
    st.prefs.fromAddress = "sender@example.org";
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

    st.db = std::make_unique<Database>();
    for (const char* f : {"name", "email", "manager", "id", "note", "doc"})
        st.db->fields.push_back(Field{f});
    const std::vector<PersonRow> people = {
        {"Tom & <Jerry>", "tom@example.org", "boss@example.org, Audit@Example.org", "A17",
         "*bold* <b>x</b> [1](javascript:x)", "tom"},
        {"  ", "anna@example.org", "", "B2", "# not a heading", ""},
        // Windows-1252 text, and a value that tries to add a header line.
        {"Zo\xeb", "zoe@example.org", "zoe@example.org\r\nX-Evil: 1", "C3", "caf\xe9", ""},
    };
    std::vector<Person*> recipients;
    for (const PersonRow& p : people) {
        Person& e = st.db->appendEntry();
        e.setName(p.name);
        e.setEmail(p.email);
        e.values = {p.name, p.email, p.manager, p.id, p.note, p.doc};
        recipients.push_back(&e);
    }
    st.attachments.push_back(MakeAttachment(dir.path() + "/[doc|terms].txt"));
    // Tom's list in one value is sent as two copies, which the check names.
    const auto problems = CheckBeforeSending(st, {recipients[0], recipients[1]});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].text.starts_with("Tom & <Jerry>: the values add addresses to the Cc"))
        << problems[0].text;
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
        const OutgoingMessage& node = outgoing[i];
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
    st.user.lastMail = dir.file("mail.txt");
    st.db = std::make_unique<Database>();
    st.db->fields = {Field{"name"}, Field{"email"}, Field{"manager"}, Field{"doc"}};
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
        Person& e = st.db->appendEntry();
        e.setName(name);
        e.setEmail(email);
        e.values = {name, email, manager, doc};
        return &e;
    };
    const std::vector<Person*> people = {
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

// A value is text wherever the Markdown puts it: it adds no tag and no attribute, and a
// link or image address made with it keeps only the http, https and mailto schemes,
// the check before sending naming the person and field of any it leaves out. Read
// back by Python's html.parser, against the tags each mail has with a harmless value.
TEST(ModernMail, ValuesAddNoTagAttributeOrLinkScheme) {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << "no system python";
    struct Row {
        std::string what, body, name, v;
        std::string tags;    // every start tag of the body, with its attributes
        std::string shown;   // text a reader sees
        std::string leftOut; // the address the check reports, with field v
    };
    const std::vector<Row> rows = {
        {"an autolink of a value with attributes", "Your page is <[v]>.", "Ann",
         "https://ok.example/p onmouseover=alert(3)", "p",
         "Your page is <https://ok.example/p onmouseover=alert(3)>.", ""},
        {"an autolink of a harmless address", "Your page is <[v]>.", "Ann",
         "https://ok.example/page", "p a[href=https://ok.example/page]",
         "Your page is https://ok.example/page.", ""},
        {"an autolink of an e-mail address", "Write to <[email]>.", "Ann", "",
         "p a[href=mailto:ann@example.org]", "Write to ann@example.org.", ""},
        {"a tracking pixel in a name", "From <[name]>", "<img src=https://track.example/p.gif>", "",
         "p", "From <<img src=https://track.example/p.gif>>", ""},
        {"a tag name in a name", "From <[name]>", "img src=https://track.example/p.gif", "", "p",
         "From <img src=https://track.example/p.gif>", ""},
        {"an autolink with another scheme", "<[v]>", "Ann", "javascript:alert(1)", "p",
         "<javascript:alert(1)>", "javascript:alert(1)"},
        {"an autolink in code", "`<[v]>`", "Ann", "https://ok.example/page", "p code",
         "<https://ok.example/page>", ""},
        {"an autolink inside a link", "[see <[v]>](https://a.example/)", "Ann",
         "https://ok.example/page", "p a[href=https://a.example/]", "see <https://ok.example/page>",
         ""},
        {"a link to a script", "[click here]([v])", "Ann", "javascript:alert(1)", "p a",
         "click here", "javascript:alert(1)"},
        {"a scheme behind a tab, in capitals", "[click]([v])", "Ann", "\tJavaScript:alert(1)",
         "p a", "click", "\tJavaScript:alert(1)"},
        {"a scheme made of the mail and a value", "[click](java[v])", "Ann", "script:alert(1)",
         "p a", "click", "javascript:alert(1)"},
        {"a fallback text as the address", "[click]([v|data:text/html,x])", "Ann", " ", "p a",
         "click", "data:text/html,x"},
        {"a link without a scheme", "[click]([v])", "Ann", "//track.example/", "p a", "click",
         "//track.example/"},
        {"a link of the mail's own HTML", "<a href=[v]>x</a>", "Ann", "javascript:alert(1)", "p a",
         "x", "javascript:alert(1)"},
        {"a scheme the mail's HTML writes as a reference", "<a href=\"&#106;ava[v]\">x</a>", "Ann",
         "script:alert(1)", "p a", "x", "javascript:alert(1)"},
        {"an unquoted attribute value with blanks", "<a href=[v]>x</a>", "Ann",
         "https://ok.example/?a=1 onclick=alert(2)",
         "p a[href=https://ok.example/?a=1 onclick=alert(2)]", "x", ""},
        {"an attribute value with quotes", "<abbr title='[v]'>x</abbr>", "Ann",
         "' onmouseover='alert(1)\" x=\"", "p abbr[title=' onmouseover='alert(1)\" x=\"]", "x", ""},
        {"an image from a script address", "![logo]([v])", "Ann", "javascript:alert(1)",
         "p img[alt=logo]", "", "javascript:alert(1)"},
        {"an image from the web", "![logo]([v] \"[name]\")", "Ann\" onload=\"x",
         "https://ok.example/p.png",
         "p img[src=https://ok.example/p.png][alt=logo][title=Ann\" onload=\"x]", "", ""},
        {"tags and references in an HTML block",
         "<div>\n<[v]> </[v]> <span [v]>x</span> &[v]; &#[v];\n</div>", "Ann", "lt;img src=x",
         "div",
         "<lt;img src=x> </lt;img src=x> <span lt;img src=x>x &lt;img src=x; &#lt;img src=x;", ""},
        {"a comment", "<!-- [v] -->\n\nafter", "Ann", "--><img src=x>", "p", "after", ""},
    };
    // Ann's mail composed into a file, and the check before sending it.
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<std::vector<SendProblem>> checks;
    auto mailFor = [&](const std::string& body, const std::string& name, const std::string& v) {
        AppState st;
        st.user.lastMail = dir.file("mail.txt");
        st.mailText = MarkdownMail(body);
        st.db = std::make_unique<Database>();
        st.db->fields = {{"name"}, {"email"}, {"v"}};
        Person& e = st.db->appendEntry();
        e.setName(name);
        e.setEmail("ann@example.org");
        e.values = {name, "ann@example.org", v};
        MessageComposer composer(st.db->fields, st.mailText, "example.org", dir.path());
        paths.push_back(dir.file("m" + std::to_string(paths.size()) + ".eml"));
        WriteFileBytes(paths.back(), JoinLines(composer.compose(e, false)));
        checks.push_back(CheckBeforeSending(st, {&e}));
    };
    for (const Row& row : rows)
        mailFor(row.body, row.name, row.v);

    // Generated hostile values in every place a Markdown mail can put them, against the
    // same mail with a harmless value: the same tags with the same attributes.
    const std::string everyPlace =
        "# Title [v]\n\nText [v], **[v]**, `[v]`, [link [v]](https://ok.example/[v] \"[v]\").\n\n"
        "![[v]](https://ok.example/i.png) &[v]; <span title=\"[v]\">[v]</span> "
        "<abbr title=[v]>x</abbr> <!-- [v] -->\n\n"
        "<div>\n[v] <[v]> </[v]> <b class='[v]' [v]>[v]</b> &#[v];\n</div>\n\n"
        "| [v] | b |\n|---|---|\n| [v] | ~~[v]~~ |\n\n```[v]\n[v]\n```\n";
    const test::SeededRun run;
    test::HostileText gen(run.seed);
    std::vector<std::string> hostile = {"v",
                                        test::HostileText::AllBytes(test::HostileCharset::Utf8)};
    for (int i = 0; i < 40; ++i)
        hostile.push_back(gen.value(test::HostileCharset::Utf8, 30));
    for (const std::string& v : hostile)
        mailFor(everyPlace, "Ann", v);

    const std::vector<QJsonObject> read = ReadHtmlWithPython(paths);
    ASSERT_EQ(read.size(), paths.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(read[i]["defects"].toArray().isEmpty());
        EXPECT_EQ(Tags(read[i], true), row.tags);
        EXPECT_TRUE(Holds(Str(read[i]["text"]), row.shown)) << Str(read[i]["text"]);
        const std::vector<SendProblem>& problems = checks[i];
        if (row.leftOut.empty()) {
            EXPECT_TRUE(problems.empty()) << problems[0].text;
            continue;
        }
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].severity, CheckSeverity::Warning);
        for (const std::string& part : {row.name + ":", std::string("[v]"), row.leftOut})
            EXPECT_TRUE(Holds(problems[0].text, part)) << problems[0].text;
    }
    const std::string harmless = Tags(read[rows.size()], true);
    for (std::size_t k = 1; k < hostile.size(); ++k) {
        SCOPED_TRACE("value " + hostile[k]);
        const QJsonObject& got = read[rows.size() + k];
        EXPECT_TRUE(got["defects"].toArray().isEmpty());
        EXPECT_EQ(Tags(got, false), Tags(read[rows.size()], false));
        EXPECT_TRUE(checks[rows.size() + k].empty()) << checks[rows.size() + k][0].text;
    }
    EXPECT_TRUE(Holds(harmless, "a[href=https://ok.example/v][title=v]")) << harmless;
}
