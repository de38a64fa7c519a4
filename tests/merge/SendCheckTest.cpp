// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QProcess>
#include <cctype>
#include <filesystem>
#include <map>
#include <random>
#include <unistd.h>

#include "merge/Compose.h"
#include "merge/Mime.h"
#include "merge/SendCheck.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::ReadFileBytes;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

struct PersonRow {
    std::string name, email, city;
};

std::string Shown(const std::vector<SendProblem>& problems) {
    std::string out;
    for (const SendProblem& p : problems)
        out +=
            std::string(p.severity == CheckSeverity::Blocking ? "BLOCK " : "warn ") + p.text + "\n";
    return out;
}

} // namespace

TEST(SendCheck, ListsWhatWouldGoWrong) {
    struct Case {
        const char* what;
        std::vector<std::string> mail;        // header block, empty line, body
        std::vector<std::string> attachments; // "DIR/" is the test folder
        std::vector<PersonRow> people;
        std::string want; // "DIR/" stands for the test folder
    };
    const std::vector<std::string> good = {"From: me@x.example", "To: \"[name]\" <[email]>",
                                           "Subject: For [name] in [city]", "",
                                           "Dear [name], [1] see below."};
    const std::vector<Case> cases = {
        {"nothing to report",
         good,
         {"DIR/[name].pdf", "DIR/shared.txt"},
         {{"Ann", "ann@x.example", "Rome"}, {"Bob", "b.o+b@[10.0.0.1]", "Oslo"}},
         ""},
        {"typos in every text",
         {"From: [Name] <me@x.example>", "To: [emial]", "Subject: [cty] and [cty]", "",
          "Hi [cty] [a very long bracketed remark that is surely no field at all]"},
         {"DIR/[cty].pdf"},
         {{"Ann", "ann@x.example", "Rome"}},
         "BLOCK The attachment file DIR/[cty].pdf does not exist\n"
         "warn [Name] in the From names no field (did you mean [name]?)\n"
         "warn [emial] in the To names no field (did you mean [email]?)\n"
         "warn [cty] in the Subject, body, attachment [cty].pdf names no field (did you mean "
         "[city]?)\n"},
        {"addresses",
         good,
         {},
         {{"Ann", "", "Rome"},
          {"", "nobody", "Rome"},
          {"Cy", "cy@@x.example", "Rome"},
          {"Di", "di@x..example", "Rome"},
          {"Ed", "ed@x.example\r\nRCPT TO:<evil@y.example>", "Rome"},
          {"Flo", "flo@x.example", "Rome"},
          {"Flo again", "FLO@x.example", "Rome"},
          {"Gus", "gus@bücher.example", "Rome"}},
         "warn Ann has no e-mail address\n"
         "warn The person at place 2 has the e-mail address \"nobody\", which is not valid\n"
         "warn Cy has the e-mail address \"cy@@x.example\", which is not valid\n"
         "warn Di has the e-mail address \"di@x..example\", which is not valid\n"
         "warn Ed has the e-mail address \"ed@x.example RCPT TO:<evil@y.example>\", which is "
         "not valid\n"
         "warn Gus has the e-mail address \"gus@bücher.example\", which is not valid\n"
         "warn The address flo@x.example is used by 2 people: Flo, Flo again\n"},
        {"missing files block",
         good,
         {"DIR/[name].pdf", "DIR/gone.txt", "DIR/"},
         {{"Ann", "ann@x.example", "Rome"}, {"Cy", "cy@x.example", "Rome"}},
         "BLOCK The attachment file DIR/gone.txt does not exist\n"
         "BLOCK The attachment file DIR/ is a folder, not a file\n"
         "BLOCK Cy: the attachment file DIR/Cy.pdf does not exist\n"},
        {"values leading out of an attachment folder block",
         good,
         {"DIR/[city]"},
         {{"Ann", "ann@x.example", "Ann.pdf"},
          {"Bob", "bob@x.example", "../Bob.pdf"},
          {"Cy", "cy@x.example", ".."},
          {"Di", "di@x.example", "sub\\Di.pdf"},
          {"Ed", "ed@x.example", "DIR/Ann.pdf"}},
         "BLOCK Bob: the value \"../Bob.pdf\" would lead the attachment path DIR/[city] out of "
         "its folder\n"
         "BLOCK Cy: the value \"..\" would lead the attachment path DIR/[city] out of its folder\n"
         "BLOCK Di: the value \"sub\\Di.pdf\" would lead the attachment path DIR/[city] out of "
         "its folder\n"
         "BLOCK Ed: the value \"DIR/Ann.pdf\" would lead the attachment path DIR/[city] out of "
         "its folder\n"},
        {"fallbacks that are not read as such keep their brackets",
         {"From: me@x.example", "To: <[email]>", "Subject: For [city|you [name]]", "",
          "Dear [name|friend,", "see [city|[name]] and [city|[name]] and [name|all]."},
         {},
         {{"", "ann@x.example", "Rome"}},
         "warn [city|you [name]] in the Subject is not read as a fallback, as its text holds a "
         "bracket or has no \"]\": The person at place 1 gets \"[city|you ]\"\n"
         "warn [name|friend, in the body is not read as a fallback, as its text holds a bracket "
         "or has no \"]\": The person at place 1 gets \"[name|friend,\"\n"
         "warn [city|[name]] in the body is not read as a fallback, as its text holds a bracket "
         "or has no \"]\": The person at place 1 gets \"[city|]\"\n"},
        {"a path that is a placeholder alone takes whole paths",
         good,
         {"[city]"},
         {{"Ann", "ann@x.example", "DIR/Bob.pdf"}},
         ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        auto inDir = [&](std::string s) {
            for (std::size_t at; (at = s.find("DIR/")) != std::string::npos;)
                s.replace(at, 4, dir.path() + "/");
            return s;
        };
        WriteFileBytes(dir.file("Ann.pdf"), "%PDF");
        WriteFileBytes(dir.file("Bob.pdf"), "%PDF");
        WriteFileBytes(dir.file("shared.txt"), "x");
        AppState st;
        st.newDatabase();
        st.db->fields.push_back({"city"});
        st.mailText.hasHeader = true;
        st.mailText.lines = c.mail;
        st.user.lastMail = dir.file("mail.txt");
        for (const std::string& a : c.attachments)
            st.attachments.push_back(MakeAttachment(inDir(a)));
        std::vector<Person*> recipients;
        for (const PersonRow& p : c.people) {
            Person& e = st.db->appendEntry();
            e.setName(p.name);
            e.setEmail(p.email);
            e.values = {p.name, p.email, inDir(p.city)};
            recipients.push_back(&e);
        }
        const auto problems = CheckBeforeSending(st, recipients);
        EXPECT_EQ(Shown(problems), inDir(c.want)) << c.what;
        EXPECT_EQ(HasBlockingProblem(problems), c.want.find("BLOCK") != std::string::npos);
    }
}

TEST(SendCheck, LongListsAreCut) {
    AppState st;
    st.newDatabase();
    st.mailText.lines = {"Hello"};
    std::vector<Person*> recipients;
    for (int i = 0; i < 1000; ++i) {
        Person& e = st.db->appendEntry();
        e.setName("P" + std::to_string(i));
        recipients.push_back(&e);
    }
    const auto problems = CheckBeforeSending(st, recipients);
    ASSERT_EQ(problems.size(), 21u);
    EXPECT_EQ(problems.back().text, "... and 980 more people without a valid e-mail address");
}

// People sharing an address, against the plainest reference: a map from the address
// in lower case to the people using it, in the order of first use. Generated lists with
// addresses that differ only in the case of their letters, each run with its own seed.
TEST(SendCheck, SharedAddressesAreFoundAsAMapOfLoweredAddressesFindsThem) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int round = 0; round < 40; ++round) {
        AppState st;
        st.newDatabase();
        st.mailText.lines = {"Hello"};
        std::vector<Person*> recipients;
        const int people = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < people; ++i) {
            std::string address = "p" + std::to_string(random() % 12) + "@X.example";
            for (char& c : address)
                if (random() % 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            Person& e = st.db->appendEntry();
            e.setName("N" + std::to_string(i));
            e.setEmail(address);
            recipients.push_back(&e);
        }
        std::map<std::string, std::vector<int>> users;
        std::vector<std::string> firstUse;
        for (int i = 0; i < people; ++i) {
            std::string lower = recipients[static_cast<std::size_t>(i)]->email();
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (users[lower].empty()) firstUse.push_back(lower);
            users[lower].push_back(i);
        }
        std::vector<std::string> want;
        for (const std::string& lower : firstUse) {
            const std::vector<int>& who = users[lower];
            if (who.size() < 2) continue;
            std::string names;
            for (std::size_t k = 0; k < who.size() && k < 5; ++k)
                names += (k ? ", N" : "N") + std::to_string(who[k]);
            if (who.size() > 5) names += ", ...";
            want.push_back("The address " +
                           recipients[static_cast<std::size_t>(who[0])]->email() +
                           " is used by " + std::to_string(who.size()) + " people: " + names);
        }
        std::vector<std::string> got;
        for (const SendProblem& p : CheckBeforeSending(st, recipients))
            if (p.text.find(" is used by ") != std::string::npos) got.push_back(p.text);
        // The check shows the first twenty of a kind and counts the rest.
        if (want.size() > 20) want.resize(20);
        EXPECT_EQ(got, want) << "seed " << seed << ", round " << round;
    }
}

// The check reads an address line as it is sent. Each line is merged with a value and
// composed into the message; Python's e-mail package reads the header line that went
// out, and the check must warn exactly when that holds an address that is not
// local@domain, or more than the one address the line was written with.
TEST(SendCheck, WarnsExactlyWhenTheAddressLineAsSentIsNotOneGoodAddress) {
    if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no system python";
    struct Row {
        std::string line, value;
    };
    const std::vector<Row> rows = {
        {"Cc: [v] <boss@x.example>", "Smith, John"},
        {"Cc: [v] <boss@x.example>", "Ann (boss); team: all"},
        {"Cc: [v] <boss@x.example>", "J\xc3\xb6rg, M\xc3\xbcller"},
        {"Cc: [v] <boss@x.example>", "a@b.example <c@d.example>"},
        {"Cc: \"[v]\" <boss@x.example>", "say \"hi\", \\ ok"},
        {"Cc: [v|fb [name]] <boss@x.example>", "boss"},
        {"Cc: [v]", "boss@x.example"},
        {"Cc: [v]", ""},
        {"Cc: [v]", "(note) boss@x.example"},
        {"Cc: [v]", "boss@x.example, other@y.example"},
        {"Cc: [v]", "Smith, John <boss@x.example>"},
        {"Cc: [v]", "nobody"},
        {"Cc: [v]@x.example", "a, b"},
        {"Cc: <[v]>", "a@x.example>, <b@y.example"},
        {"To: [v] <[email]>", "Smith, John"},
        {"To: [v] <[email]>", "a@b.example, c@d.example"},
        {"To: [v]", "ann@x.example, eve@y.example"},
        {"Reply-To: [v|desk@x.example]", ""},
        {"Reply-To: [v|desk@x.example]", "a@x.example, b@y.example"},
        {"Reply-To: [v] <desk@x.example>", "Desk, Team"},
    };
    TempDir dir;
    std::vector<bool> warned;
    QStringList args = {"-c", R"PY(
import email, email.policy, re, sys
from email.utils import getaddresses
for path, name in zip(sys.argv[1::2], sys.argv[2::2]):
    m = email.message_from_bytes(open(path, "rb").read(), policy=email.policy.compat32)
    pairs = getaddresses(m.get_all(name, []))
    good = not pairs or (len(pairs) == 1 and re.fullmatch(r"[^@\s]+@[^@\s]+", pairs[0][1]))
    print("ok" if good else "bad")
)PY"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        AppState st;
        st.newDatabase();
        st.db->fields.push_back({"v"});
        st.mailText.hasHeader = true;
        st.mailText.lines = {"From: me@x.example", rows[i].line, "Subject: Hello", "", "Hi"};
        Person& e = st.db->appendEntry();
        e.setName("Ann");
        e.setEmail("ann@x.example");
        e.values = {"Ann", "ann@x.example", rows[i].value};
        const auto problems = CheckBeforeSending(st, {&e});
        warned.push_back(!problems.empty());
        for (const SendProblem& p : problems)
            EXPECT_NE(p.text.find("Ann"), std::string::npos) << rows[i].line << "\n" << p.text;

        std::string message;
        MessageComposer composer(st.db->fields, st.mailText, "x.example");
        for (const std::string& l : composer.compose(e, false))
            message += l + "\r\n";
        const std::string file = dir.file(std::to_string(i) + ".eml");
        WriteFileBytes(file, message);
        args << QString::fromStdString(file)
             << QString::fromStdString(rows[i].line.substr(0, rows[i].line.find(':')));
    }
    QProcess python;
    python.start("/usr/bin/python3", args);
    ASSERT_TRUE(python.waitForFinished(30000));
    const QStringList verdicts =
        QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(verdicts.size(), static_cast<qsizetype>(rows.size()))
        << python.readAllStandardError().toStdString();
    int bad = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool pythonBad = verdicts[static_cast<qsizetype>(i)] == "bad";
        bad += pythonBad;
        EXPECT_EQ(warned[i], pythonBad) << rows[i].line << " with \"" << rows[i].value << "\"\n"
                                        << ReadFileBytes(dir.file(std::to_string(i) + ".eml"));
    }
    EXPECT_GT(bad, 0); // the table holds both kinds
    EXPECT_LT(bad, static_cast<int>(rows.size()));
}

// An attachment path that is a placeholder alone lets a value pick any file: a hidden
// file or folder is refused for that person, in the check and in the preparation alike,
// and a file outside the folders of the mail and the database is named. The mail is
// in DIR/mail, the working folder, and the database in DIR/db.
TEST(SendCheck, FilesChosenWholeByValues) {
    namespace fs = std::filesystem;
    TempDir dir;
    for (const char* folder : {"mail/.ssh", "mail/a/.hidden", "db"})
        fs::create_directories(dir.file(folder));
    for (const char* file :
         {"mail/doc.pdf", "mail/.ssh/id_rsa", "mail/a/.hidden/x", "db/list.pdf", "outside.pdf"})
        WriteFileBytes(dir.file(file), "x");
    fs::create_symlink("../outside.pdf", dir.file("mail/link.pdf"));
    struct WorkingFolder {
        fs::path old = fs::current_path();
        explicit WorkingFolder(const std::string& to) { fs::current_path(to); }
        ~WorkingFolder() { fs::current_path(old); }
    } cwd(dir.file("mail"));

    struct Row {
        std::string value;
        std::string want; // "", or the severity and a word of the problem
    };
    std::vector<Row> rows = {
        {"doc.pdf", ""},
        {"../db/list.pdf", ""},
        {dir.file("mail/./doc.pdf"), ""},
        {".ssh/id_rsa", "BLOCK hidden"},
        {"a/.hidden/x", "BLOCK hidden"},
        {dir.file("mail/.ssh/id_rsa"), "BLOCK hidden"},
        {"../outside.pdf", "warn outside"},
        {"link.pdf", "warn outside"},
    };
    if (fs::is_regular_file("/etc/hostname")) rows.push_back({"/etc/hostname", "warn outside"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        AppState st;
        st.newDatabase();
        st.db->fields.push_back({"doc"});
        st.user.lastMail = dir.file("mail/mail.txt");
        st.user.lastDatabase = dir.file("db/people.csv");
        st.mailText.hasHeader = true;
        st.mailText.lines = {"From: me@x.example", "To: <[email]>", "Subject: s", "", "Hi"};
        st.attachments.push_back(MakeAttachment("[doc]"));
        Person& e = st.db->appendEntry();
        e.setName("Ann");
        e.setEmail("ann@x.example");
        e.values = {"Ann", "ann@x.example", row.value};
        std::string shown;
        for (const SendProblem& p : CheckBeforeSending(st, {&e}))
            shown += std::string(p.severity == CheckSeverity::Blocking ? "BLOCK " : "warn ") +
                     p.text + "\n";
        if (row.want.empty()) {
            EXPECT_EQ(shown, "");
        } else {
            EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1) << shown;
            EXPECT_TRUE(shown.starts_with(row.want.substr(0, row.want.find(' ')) + " Ann: "))
                << shown;
            EXPECT_NE(shown.find(row.want.substr(row.want.find(' ') + 1)), std::string::npos)
                << shown;
        }
        const std::string error = test::ErrorText<ComposeError>(
            [&] { AttachmentPathFor("[doc]", FieldIndex(st.db->fields), e); });
        EXPECT_EQ(!error.empty(), row.want.starts_with("BLOCK")) << error;
    }
}

// The ports whose encryption is fixed by custom: set the other way, the run would wait
// minutes in silence or fail at once, so the check names it before anything is sent.
TEST(SendCheck, NamesPortsSetAgainstTheirEncryption) {
    struct Row {
        const char* port;
        const char* security;
        const char* warning; // a part of the warning's text; "" for none
    };
    const Row rows[] = {
        {"465", "none", "Port 465"}, {" 465 ", "starttls", "Port 465"},
        {"465", "tls", ""},          {"587", "tls", "Port 587"},
        {"587", "starttls", ""},     {"587", "none", ""},
        {"25", "tls", ""},           {"4650", "none", ""},
        {"465", "ssl", ""},
    };
    for (const Row& row : rows) {
        AppState st;
        st.newDatabase();
        st.mailText.lines = {"Hello"};
        st.prefs.port = row.port;
        st.prefs.security = row.security;
        Person& e = st.db->appendEntry();
        e.setName("Ann");
        e.setEmail("ann@x.example");
        const auto problems = CheckBeforeSending(st, {&e});
        const std::string shown = Shown(problems);
        if (*row.warning) {
            EXPECT_EQ(problems.size(), 1u) << row.port << " " << row.security << ": " << shown;
            EXPECT_TRUE(shown.starts_with(std::string("warn ") + row.warning))
                << row.port << " " << row.security << ": " << shown;
        } else {
            EXPECT_EQ(shown, "") << row.port << " " << row.security;
        }
    }
}
