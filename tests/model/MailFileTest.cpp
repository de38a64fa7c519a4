// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "model/Errors.h"
#include "model/MailFile.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"

using namespace tandrel;
using Lines = std::vector<std::string>;

namespace {

// Sets TZ for the lifetime of the object and puts the old value back afterwards.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

bool ZoneInstalled(const std::string& zone) {
    return FileExists("/usr/share/zoneinfo/" + zone);
}

const std::regex kDatePattern("(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-9]{2} "
                              "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                              "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");

// The header block that BuildMailText writes, without its Date line.
Lines HeaderAfterDate(const std::string& from, const std::string& to, const std::string& subject) {
    return {"From: " + from,
            "To: " + to,
            "Subject: " + subject,
            "MIME-Version: 1.0",
            "Content-type: text/plain",
            "X-Mailer: Tandrel 1.1",
            ""};
}

// Checks the Date line's form and drops it.
Lines WithoutDate(Lines lines) {
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return lines;
    EXPECT_EQ(lines[0].rfind("Date: ", 0), 0u) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[0].substr(6), kDatePattern)) << lines[0];
    lines.erase(lines.begin());
    return lines;
}

Lines Concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string ErrorOf(const std::function<void()>& f) {
    return test::ErrorText<FileError>(f);
}

AppState StateWithSender() {
    AppState st;
    st.prefs.name = "Ann Lee";
    st.prefs.fromAddress = "ann@x.example";
    return st;
}

} // namespace

TEST(Rfc822Date, ZoneFromTheRealOffsetAtThatMoment) {
    const std::time_t winter = 915523623;  // 1999-01-05 08:07:03 UTC
    const std::time_t summer = 1626265859; // 2021-07-14 12:30:59 UTC
    struct Case {
        const char* zone;
        std::time_t when;
        const char* want;
    };
    const Case cases[] = {
        {"Europe/Berlin", winter, "Tue, 05 Jan 1999 09:07:03 +0100"},
        {"Europe/Berlin", summer, "Wed, 14 Jul 2021 14:30:59 +0200"},
        {"Asia/Kolkata", winter, "Tue, 05 Jan 1999 13:37:03 +0530"},
        {"America/Los_Angeles", winter, "Tue, 05 Jan 1999 00:07:03 -0800"},
        {"America/Los_Angeles", summer, "Wed, 14 Jul 2021 05:30:59 -0700"},
        {"UTC", summer, "Wed, 14 Jul 2021 12:30:59 +0000"},
        {"Australia/Brisbane", winter, "Tue, 05 Jan 1999 18:07:03 +1000"},
        {"America/St_Johns", winter, "Tue, 05 Jan 1999 04:37:03 -0330"},
        {"America/St_Johns", summer, "Wed, 14 Jul 2021 10:00:59 -0230"},
        // Daylight saving of half an hour: the real offset, not a fixed hour more.
        {"Australia/Lord_Howe", winter, "Tue, 05 Jan 1999 19:07:03 +1100"},
        {"Australia/Lord_Howe", summer, "Wed, 14 Jul 2021 23:00:59 +1030"},
    };
    for (const auto& c : cases) {
        if (!ZoneInstalled(c.zone)) {
            ADD_FAILURE() << "zone data missing for " << c.zone << " (package tzdata)";
            continue;
        }
        ScopedTz tz(c.zone);
        EXPECT_EQ(Rfc822Date(c.when), c.want) << c.zone;
    }
}

TEST(Rfc822Date, EnglishNamesWhateverTheLocale) {
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                "es_ES.UTF-8", "es_ES.utf8", "de_DE",       "fr_FR"};
    const std::string saved = std::setlocale(LC_TIME, nullptr);
    const char* used = nullptr;
    for (const char* name : candidates)
        if (std::setlocale(LC_TIME, name)) {
            used = name;
            break;
        }
    if (!used) GTEST_SKIP() << "no non-English locale installed";
    ScopedTz tz("UTC");
    const std::string got = Rfc822Date(std::time_t{1626265859});
    std::setlocale(LC_TIME, saved.c_str());
    EXPECT_EQ(got, "Wed, 14 Jul 2021 12:30:59 +0000") << used;
}

TEST(Rfc822Date, CurrentTimeHasTheHeaderForm) {
    EXPECT_TRUE(std::regex_match(Rfc822Date(), kDatePattern)) << Rfc822Date();
}

TEST(BuildMailText, HeaderBlockOnlyWhenWantedOrFlagged) {
    struct Case {
        bool flagBefore;
        MailEditors eds;
        bool wantHeader;
    };
    const Lines body = {"Dear [name],", "", " indented ", ""};
    const Case cases[] = {
        {false, {"f", "", "", body}, true}, {false, {"", "t", "", body}, true},
        {false, {"", "", "s", body}, true}, {false, {"", "", "", body}, false},
        {true, {"", "", "", body}, true}, // once set, it stays set
        {false, {"", "", "", {}}, false},
    };
    for (const auto& c : cases) {
        AppState st;
        st.mailText.lines = {"stale"};
        st.mailText.hasHeader = c.flagBefore;
        BuildMailText(st, c.eds);
        EXPECT_EQ(st.mailText.hasHeader, c.wantHeader);
        if (c.wantHeader) {
            EXPECT_EQ(WithoutDate(st.mailText.lines),
                      Concat(HeaderAfterDate(c.eds.from, c.eds.to, c.eds.subject), c.eds.body));
        } else {
            EXPECT_EQ(st.mailText.lines, c.eds.body);
        }
    }
}

TEST(AddHeader, EditorTextsGoInAsTheyAre) {
    MailText mail;
    mail.lines = {"kept"};
    AddHeader(mail, MailEditors{" \"[name]\" <a@b> ", "", "\xfc[city]", {"ignored"}},
              "Tue, 05 Jan 1999 09:07:03 +0100");
    EXPECT_EQ(mail.lines,
              (Lines{"kept", "Date: Tue, 05 Jan 1999 09:07:03 +0100", "From:  \"[name]\" <a@b> ",
                     "To: ", "Subject: \xfc[city]", "MIME-Version: 1.0", "Content-type: text/plain",
                     "X-Mailer: Tandrel 1.1", ""}));
}

TEST(ParseMailHeader, RecognisesTheBlockBeforeTheFirstEmptyLine) {
    struct Case {
        const char* what;
        Lines lines;
        bool flagBefore;
        std::string from, to, subject;
        Lines rest;
        bool flagAfter;
    };
    const Case cases[] = {
        {"written by the program",
         {"Date: x", "From: F", "To: T", "Subject: S", "MIME-Version: 1.0", "", "body", ""},
         false,
         "F",
         "T",
         "S",
         {"body", ""},
         true},
        {"any letter case, no character lost without a blank",
         {"FROM: a", "tO: b", "SUBJECT:xyz", "", "b"},
         false,
         "a",
         "b",
         "xyz",
         {"b"},
         true},
        {"empty values, and a value right after the colon",
         {"From:", "To:x", "Subject:", "", "b"},
         false,
         "",
         "x",
         "",
         {"b"},
         true},
        {"last occurrence wins",
         {"From: 1", "From: 2", "Subject: s", "", "b"},
         false,
         "2",
         "",
         "s",
         {"b"},
         true},
        {"ordinary first paragraph stays in the body",
         {"Hello", "world", "", "more"},
         false,
         "",
         "",
         "",
         {"Hello", "world", "", "more"},
         false},
        {"a flagged mail loses an unrecognised block",
         {"Date: x", "", "body"},
         true,
         "",
         "",
         "",
         {"body"},
         true},
        {"no empty line: all body",
         {"From: a", "To: b"},
         false,
         "",
         "",
         "",
         {"From: a", "To: b"},
         false},
        {"leading empty line: all body",
         {"", "From: a", "", "b"},
         false,
         "",
         "",
         "",
         {"", "From: a", "", "b"},
         false},
        {"leading empty line stays even when flagged",
         {"", "b"},
         true,
         "",
         "",
         "",
         {"", "b"},
         true},
        {"a line of blanks is not empty",
         {"From: a", "  ", "To: b", "", "x"},
         false,
         "a",
         "b",
         "",
         {"x"},
         true},
        {"header words only at the start",
         {" From: a", "X-To: b", "", "x"},
         false,
         "",
         "",
         "",
         {" From: a", "X-To: b", "", "x"},
         false},
        {"empty list", {}, false, "", "", "", {}, false},
    };
    for (const auto& c : cases) {
        MailEditors eds{"old from", "old to", "old subject", {"body untouched"}};
        Lines lines = c.lines;
        bool flag = c.flagBefore;
        ParseMailHeader(lines, eds, flag);
        EXPECT_EQ(eds.from, c.from) << c.what;
        EXPECT_EQ(eds.to, c.to) << c.what;
        EXPECT_EQ(eds.subject, c.subject) << c.what;
        EXPECT_EQ(lines, c.rest) << c.what;
        EXPECT_EQ(flag, c.flagAfter) << c.what;
        EXPECT_EQ(eds.body, Lines{"body untouched"}) << c.what;
    }
}

TEST(NewMail, DefaultsFromThePreferences) {
    struct Case {
        std::string name, fromAddress;
        std::string wantFrom;
    };
    const Case cases[] = {
        {"Ann Lee", "ann@x.example", "\"Ann Lee\" <ann@x.example>"},
        {"", "ann@x.example", "kept from"},
        {"Ann Lee", "", "kept from"},
    };
    for (const auto& c : cases) {
        AppState st;
        st.prefs.name = c.name;
        st.prefs.fromAddress = c.fromAddress;
        st.user.lastMail = "/last.txt";
        st.attachments.push_back(MakeAttachment("/a/b.txt"));
        MailEditors eds{"kept from", "x", "subject", {"old body"}};
        NewMail(st, eds);
        EXPECT_EQ(eds.from, c.wantFrom);
        EXPECT_EQ(eds.to, "\"[name]\" <[email]>");
        EXPECT_EQ(eds.subject, "");
        EXPECT_TRUE(eds.body.empty());
        EXPECT_TRUE(st.mailText.hasHeader);
        EXPECT_EQ(WithoutDate(st.mailText.lines), HeaderAfterDate(c.wantFrom, eds.to, ""));
        EXPECT_EQ(st.user.lastMail, "/last.txt");
        EXPECT_EQ(st.attachments.size(), 1u);
    }
}

TEST(LoadMail, FilesOfEveryShape) {
    struct Case {
        const char* what;
        std::string file;
        std::string from, to, subject;
        Lines body;
    };
    const std::string defFrom = "\"Ann Lee\" <ann@x.example>";
    const std::string defTo = "\"[name]\" <[email]>";
    const Case cases[] = {
        {"as the program writes it",
         "Date: Tue, 05 Jan 1999 09:07:03 +0100\r\nFrom: Me <m@x>\r\nTo: [email]\r\n"
         "Subject: Hi [name]\r\nMIME-Version: 1.0\r\nContent-type: text/plain\r\n"
         "X-Mailer: Tandrel 1.1\r\n\r\nDear [name],\r\n\r\nBye\r\n",
         "Me <m@x>",
         "[email]",
         "Hi [name]",
         {"Dear [name],", "", "Bye"}},
        {"plain text without an empty line", "just\ntext\n", defFrom, defTo, "", {"just", "text"}},
        {"first paragraph is ordinary text",
         "Hello\rthere\r\rBody\r",
         defFrom,
         defTo,
         "",
         {"Hello", "there", "", "Body"}},
        {"begins with an empty line", "\r\nFrom: a\r\n", defFrom, defTo, "", {"", "From: a"}},
        {"capital FROM, subject without blank",
         "FROM: Boss\nSubject:Xmas\n\nb",
         "Boss",
         defTo,
         "Xmas",
         {"b"}},
        {"empty From and To get their defaults",
         "From: \nTo: \nSubject: s\n\n",
         defFrom,
         defTo,
         "s",
         {}},
        {"empty file", "", defFrom, defTo, "", {}},
    };
    test::TempDir dir;
    const std::string path = dir.file("mail.txt");
    for (const auto& c : cases) {
        AppState st = StateWithSender();
        test::WriteFileBytes(path, c.file);
        MailEditors eds{"old", "old", "old", {"old"}};
        ASSERT_TRUE(LoadMail(st, path, eds)) << c.what;
        EXPECT_EQ(eds.from, c.from) << c.what;
        EXPECT_EQ(eds.to, c.to) << c.what;
        EXPECT_EQ(eds.subject, c.subject) << c.what;
        EXPECT_EQ(eds.body, c.body) << c.what;
        EXPECT_EQ(st.user.lastMail, path) << c.what;
        EXPECT_TRUE(st.mailText.hasHeader) << c.what;
        EXPECT_EQ(WithoutDate(st.mailText.lines),
                  Concat(HeaderAfterDate(c.from, c.to, c.subject), c.body))
            << c.what;
    }
}

TEST(LoadMail, EmptySenderStillGivesTheQuotedFrom) {
    test::TempDir dir;
    AppState st;
    test::WriteFileBytes(dir.file("m.txt"), "body\r\n");
    MailEditors eds;
    ASSERT_TRUE(LoadMail(st, dir.file("m.txt"), eds));
    EXPECT_EQ(eds.from, "\"\" <>");
}

TEST(LoadMail, MissingOrUnreadableFileChangesNothing) {
    test::TempDir dir;
    AppState st = StateWithSender();
    st.attachments.push_back(MakeAttachment("/x/y.bin"));
    MailEditors eds{"F", "T", "S", {"B"}};
    BuildMailText(st, eds);
    const Lines mailBefore = st.mailText.lines;
    st.user.lastMail = "/before.txt";

    EXPECT_FALSE(LoadMail(st, dir.file("missing.txt"), eds));
    EXPECT_TRUE(st.mailText.hasHeader);

    // A file that exists but cannot be read (root reads anything chmod forbids, so
    // fall back on a file whose reading fails).
    std::string unreadable = dir.file("locked.txt");
    test::WriteFileBytes(unreadable, "From: new\r\n\r\nnew\r\n");
    ::chmod(unreadable.c_str(), 0);
    if (::access(unreadable.c_str(), R_OK) == 0) unreadable = "/proc/self/mem";
    EXPECT_EQ(ErrorOf([&] { LoadMail(st, unreadable, eds); }), "Cannot open file " + unreadable);
    EXPECT_EQ(eds.from, "F");
    EXPECT_EQ(eds.to, "T");
    EXPECT_EQ(eds.subject, "S");
    EXPECT_EQ(eds.body, Lines{"B"});
    EXPECT_EQ(st.mailText.lines, mailBefore);
    EXPECT_EQ(st.user.lastMail, "/before.txt");
    EXPECT_EQ(st.attachments.size(), 1u);

    // The failed load cleared the flag, so a mail without header lines has no block.
    EXPECT_FALSE(st.mailText.hasHeader);
    BuildMailText(st, MailEditors{"", "", "", {"only body"}});
    EXPECT_EQ(st.mailText.lines, Lines{"only body"});
}

TEST(SaveMail, PreviewShownWritesTheTemplateAndFailureKeepsThePath) {
    test::TempDir dir;
    AppState st = StateWithSender();
    BuildMailText(st, MailEditors{"F", "[name]", "S", {"Dear [name]"}});
    const Lines templ = st.mailText.lines;
    const MailEditors merged{"F", "Bob", "S", {"Dear Bob"}};

    SaveMail(st, dir.file("p.txt"), merged, true);
    EXPECT_EQ(ReadTextFile(dir.file("p.txt")), templ);
    EXPECT_EQ(st.user.lastMail, dir.file("p.txt"));

    const std::string bad = dir.file("no/dir/m.txt");
    EXPECT_EQ(ErrorOf([&] { SaveMail(st, bad, merged, false); }),
              "Cannot create file " + bad + ": No such file or directory");
    EXPECT_EQ(st.user.lastMail, dir.file("p.txt"));
}
