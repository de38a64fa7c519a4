#include <gtest/gtest.h>

#include "SendCheck.h"
#include "TestSupport.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

struct Person {
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
        std::vector<Person> people;
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
         "warn [emial] in the To names no field\n"
         "warn [cty] in the Subject, body, attachment [cty].pdf names no field\n"},
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
        st.NewDatabase();
        st.db->fields.push_back({"city"});
        st.mailText.MailHasHeader = true;
        st.mailText.lines = c.mail;
        for (const std::string& a : c.attachments)
            st.attachments.push_back(MakeAttachment(inDir(a)));
        std::vector<ReceipData*> recipients;
        for (const Person& p : c.people) {
            ReceipData& e = st.db->appendEntry();
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
    st.NewDatabase();
    st.mailText.lines = {"Hello"};
    std::vector<ReceipData*> recipients;
    for (int i = 0; i < 1000; ++i) {
        ReceipData& e = st.db->appendEntry();
        e.setName("P" + std::to_string(i));
        recipients.push_back(&e);
    }
    const auto problems = CheckBeforeSending(st, recipients);
    ASSERT_EQ(problems.size(), 21u);
    EXPECT_EQ(problems.back().text, "... and 980 more people without a valid e-mail address");
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
        st.NewDatabase();
        st.mailText.lines = {"Hello"};
        st.prefs.port = row.port;
        st.prefs.security = row.security;
        ReceipData& e = st.db->appendEntry();
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
