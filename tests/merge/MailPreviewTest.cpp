// SPDX-License-Identifier: GPL-3.0-or-later
// The preview of a mail for a person against the merge rule taken literally: the whole
// mail text merged by the literal rule, its header block taken apart by hand, must be
// what the preview shows in each editor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "merge/MailPreview.h"
#include "model/TextEncoding.h"
#include "tests/support/LiteralMerge.h"

using namespace tandrel;

namespace {

Person Entry(std::string name, std::string email, std::vector<std::string> values) {
    Person e;
    e.setName(std::move(name));
    e.setEmail(std::move(email));
    e.values = std::move(values);
    return e;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(text.substr(from, at - from));
    out.push_back(text.substr(from));
    return out;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out += (i ? "\r\n" : "") + lines[i];
    return out;
}

// The merged text split by hand: "Name: value" lines up to the first empty line, the
// rest the body.
MailEditors TakenApart(const std::string& merged) {
    MailEditors eds;
    const std::vector<std::string> lines = SplitCrLf(merged);
    std::size_t i = 0;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
        const std::size_t colon = lines[i].find(": ");
        const std::string name = lines[i].substr(0, colon);
        const std::string value = lines[i].substr(colon + 2);
        if (name == "From")
            eds.from = value;
        else if (name == "To")
            eds.to = value;
        else if (name == "Subject")
            eds.subject = value;
        else
            eds.headerLines.push_back({name, value});
    }
    eds.body.assign(lines.begin() + static_cast<std::ptrdiff_t>(i + 1), lines.end());
    return eds;
}

TEST(MailPreview, ShowsWhatTheLiteralMergeGivesForEachPerson) {
    const std::vector<Field> fields = {{"name"}, {"email"}, {"city"}, {"boss"}, {"tag"}};
    const std::vector<std::string> utf8Mail = {"From: \"[name]\" <[email]>",
                                               "To: [email]",
                                               "Subject: News for [city]",
                                               "Cc: [boss]",
                                               "X-Tag: [tag]",
                                               "",
                                               "Dear [name],",
                                               "",
                                               "[city]: [tag] ([boss])",
                                               "[na",
                                               "me] stays",
                                               "Bye"};
    std::vector<std::string> latinMail = utf8Mail;
    latinMail[2] = "Subject: Caf\xe9 in [city]";
    struct Row {
        const char* what;
        const std::vector<std::string>* mail;
        TextEncoding mailEncoding;
        Person person;
        TextEncoding shownIn;
    };
    const std::vector<Row> rows = {
        {"plain", &utf8Mail, TextEncoding::Utf8,
         Entry("Ann", "ann@example.org", {"Ann", "ann@example.org", "Oslo", "bo@x.example", "t1"}),
         TextEncoding::Utf8},
        {"a value naming another placeholder", &utf8Mail, TextEncoding::Utf8,
         Entry("Bob", "bob@example.org",
               {"Bob", "bob@example.org", "[tag] town", "[name]", "[city]"}),
         TextEncoding::Utf8},
        {"header words in a value", &utf8Mail, TextEncoding::Utf8,
         Entry("C: D", "c@example.org",
               {"C: D", "c@example.org", "Bcc: all@x.example", "", "To: z"}),
         TextEncoding::Utf8},
        {"fewer values than fields", &utf8Mail, TextEncoding::Utf8,
         Entry("Dee", "dee@example.org", {"Dee", "dee@example.org"}), TextEncoding::Utf8},
        {"UTF-8 values", &utf8Mail, TextEncoding::Utf8,
         Entry("Zo\xc3\xab", "z@example.org",
               {"Zo\xc3\xab", "z@example.org", "K\xc3\xb8ge", "\xe2\x82\xac", "\xf0\x9f\x93\xa7"}),
         TextEncoding::Utf8},
        {"Windows-1252 mail and values", &latinMail, TextEncoding::Windows1252,
         Entry("Ren\xe9", "r@example.org", {"Ren\xe9", "r@example.org", "M\xfcnchen", "\x80", "x"}),
         TextEncoding::Windows1252},
    };
    for (const Row& row : rows) {
        MailText mail;
        mail.lines = *row.mail;
        mail.hasHeader = true;
        mail.encoding = row.mailEncoding;
        const MailPreview preview =
            PreviewMail(fields, mail, MailFormat::Plain, row.person, "/srv/mails/news.txt");
        const std::optional<std::string> merged =
            test::LiteralMerge(fields, row.person, JoinCrLf(*row.mail));
        ASSERT_TRUE(merged) << row.what;
        const MailEditors want = TakenApart(*merged);
        EXPECT_EQ(preview.shown.from, want.from) << row.what;
        EXPECT_EQ(preview.shown.to, want.to) << row.what;
        EXPECT_EQ(preview.shown.subject, want.subject) << row.what;
        EXPECT_EQ(preview.shown.headerLines, want.headerLines) << row.what;
        EXPECT_EQ(preview.shown.body, want.body) << row.what;
        EXPECT_EQ(preview.encoding, row.shownIn) << row.what;
        EXPECT_TRUE(preview.html.empty()) << row.what;
    }

    // A Markdown mail also gets its page, with images read beside the mail file.
    MailText mail;
    mail.lines = {"To: [email]", "Subject: Hi", "", "# Hello [name]", "", "![logo](logo.png)"};
    mail.hasHeader = true;
    const Person ann = rows[0].person;
    const MailPreview formatted =
        PreviewMail(fields, mail, MailFormat::Markdown, ann, "/srv/mails/news.txt");
    EXPECT_EQ(formatted.imageFolder, "/srv/mails");
    EXPECT_NE(formatted.html.find("Hello Ann"), std::string::npos) << formatted.html;
    EXPECT_NE(formatted.html.find("logo.png"), std::string::npos) << formatted.html;
    EXPECT_EQ(formatted.shown.body.front(), "# Hello Ann");
}

} // namespace
