// SPDX-License-Identifier: GPL-3.0-or-later
// Every file the program writes and reads back, written with generated values that hold
// the file's own syntax and read again: what comes back must be what was written. Where
// a format cannot hold a value, the table states what the value turns into.
// TANDREL_TEST_SEED=<seed> makes the values of a failed run again.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/CsvFile.h"
#include "model/DatabaseFile.h"
#include "model/FieldFile.h"
#include "tests/support/HostileText.h"
#include "model/MailFile.h"
#include "model/RunResults.h"
#include "model/Settings.h"
#include "tests/support/TestSupport.h"
#include "model/TextEncoding.h"
#include "model/TextFile.h"

using namespace tandrel;
using tandrel::test::HostileCharset;
using tandrel::test::HostileText;
using tandrel::test::TempDir;

namespace {

constexpr HostileCharset kCharsets[] = {HostileCharset::Utf8, HostileCharset::Windows1252};
constexpr int kRecords = 40;

std::string Without(std::string s, std::string_view bytes) {
    std::erase_if(s, [&](char c) { return bytes.find(c) != std::string_view::npos; });
    return s;
}

std::vector<std::vector<std::string>> ValuesOf(const Database& db) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : db.entries)
        out.push_back(e->values);
    return out;
}

std::vector<std::string> FieldNames(const Database& db) {
    std::vector<std::string> out;
    for (const auto& f : db.fields)
        out.push_back(f.name);
    return out;
}

// A database of name, email and two more fields, its values made by `value`.
template <class MakeValue>
AppState GeneratedDatabase(std::vector<std::string> fields, MakeValue value) {
    AppState st;
    st.newDatabase();
    st.db->fields.clear();
    for (auto& f : fields)
        st.db->fields.push_back(Field{std::move(f)});
    for (int r = 0; r < kRecords; ++r) {
        Person& e = st.db->appendEntry();
        for (std::size_t k = 0; k < st.db->fields.size(); ++k)
            e.values.push_back(value(r, k));
    }
    return st;
}

} // namespace

// The database file: values joined by the delimiter, one person per line, no quoting.
// It holds every value without the delimiter and without a line break; blanks typed into
// an e-mail address are dropped.
TEST(FormatRoundTrip, DatabaseFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    for (const HostileCharset cs : kCharsets) {
        for (const char delim : {'\t', ' ', ',', '.', ';', ':'}) {
            SCOPED_TRACE(std::string("delimiter ") + delim);
            const std::string cannot = std::string{delim, '\r', '\n'};
            AppState st =
                GeneratedDatabase({"name", "email", "town", "notes"}, [&](int r, std::size_t k) {
                    const std::string v = r == 0 ? HostileText::AllBytes(cs) : gen.value(cs);
                    return Without(k == 1 ? Without(v, " ") : v, cannot);
                });
            st.prefs.delimiterChar = delim;
            const std::string path = dir.file("people.txt");
            SaveDatabase(st, path);

            AppState back;
            back.newDatabase();
            back.db->fields = st.db->fields;
            back.prefs.delimiterChar = delim;
            LoadDatabase(back, path);
            ASSERT_EQ(back.db->entries.size(), st.db->entries.size());
            for (std::size_t r = 0; r < st.db->entries.size(); ++r) {
                const Person& want = *st.db->entries[r];
                const Person& got = *back.db->entries[r];
                ASSERT_EQ(got.values, want.values) << "person " << r;
                EXPECT_EQ(got.name(), want.values[0]);
                EXPECT_EQ(got.email(), want.values[1]);
            }
            EXPECT_EQ(FieldNames(*back.db), FieldNames(*st.db));
        }
    }

    // What the format cannot hold, and what it turns into.
    struct Rule {
        const char* what;
        std::vector<std::string> values;
        std::vector<std::vector<std::string>> reloaded;
    };
    const Rule rules[] = {
        {"the delimiter splits the value",
         {"Ann", "a@x", "Rome;Italy"},
         {{"Ann", "a@x", "Rome", "Italy"}}},
        {"a line break ends the person; the rest is a person of its own",
         {"Ann", "a@x", "Rome\r\nItaly"},
         {{"Ann", "a@x", "Rome"}, {"Italy"}}},
        {"blanks in the e-mail address are dropped", {"Ann", " a @x ", "x"}, {{"Ann", "a@x", "x"}}},
    };
    for (const Rule& rule : rules) {
        AppState st = GeneratedDatabase({"name", "email", "town"},
                                        [](int, std::size_t) { return std::string(); });
        st.db->entries.resize(1);
        st.db->entries[0]->values = rule.values;
        st.prefs.delimiterChar = ';';
        SaveDatabase(st, dir.file("rule.txt"));
        AppState back;
        back.newDatabase();
        back.prefs.delimiterChar = ';';
        LoadDatabase(back, dir.file("rule.txt"));
        EXPECT_EQ(ValuesOf(*back.db), rule.reloaded) << rule.what;
    }
}

// The field list: one name per line. A line break in a name makes two fields.
TEST(FormatRoundTrip, FieldFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    for (const HostileCharset cs : kCharsets) {
        AppState st;
        st.newDatabase();
        st.db->fields.push_back(Field{Without(HostileText::AllBytes(cs), "\r\n")});
        for (int i = 0; i < kRecords; ++i)
            st.db->fields.push_back(Field{Without(gen.value(cs), "\r\n")});
        st.db->fields.push_back(Field{""}); // an empty last name is a field too
        SaveFields(st, dir.file("fields.txt"));
        AppState back;
        LoadFields(back, dir.file("fields.txt"));
        EXPECT_EQ(FieldNames(*back.db), FieldNames(*st.db));
    }
    AppState st;
    st.newDatabase();
    st.db->fields = {{"town\r\nzip"}, {"a\rb\nc"}};
    SaveFields(st, dir.file("rule.txt"));
    AppState back;
    LoadFields(back, dir.file("rule.txt"));
    EXPECT_EQ(FieldNames(*back.db), (std::vector<std::string>{"town", "zip", "a", "b", "c"}));
}

// The mail file: the header block from the three editors, then the body lines. An empty
// From or To comes back as the default; a line break in a header editor is one blank.
TEST(FormatRoundTrip, MailFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    const std::string path = dir.file("mail.txt");
    for (const HostileCharset cs : kCharsets) {
        for (int r = 0; r < kRecords; ++r) {
            AppState st;
            st.prefs.name = Without(gen.value(cs), "\r\n");
            st.prefs.fromAddress = "me@x.example";
            MailEditors eds;
            // The header editors hold one line; the body is lines.
            eds.from = Without(gen.value(cs), "\r\n");
            eds.to = Without(gen.value(cs), "\r\n");
            eds.subject = r == 0 ? Without(HostileText::AllBytes(cs), "\r\n") : gen.value(cs);
            const std::size_t bodyLines = gen.pick(6);
            for (std::size_t i = 0; i < bodyLines; ++i)
                eds.body.push_back(
                    Without(r == 1 ? HostileText::AllBytes(cs) : gen.value(cs, 80), "\r\n"));
            SaveMail(st, path, eds, false);
            EXPECT_EQ(ReadTextFile(path), st.mailText.lines);

            AppState back;
            back.prefs = st.prefs;
            MailEditors got;
            ASSERT_TRUE(LoadMail(back, path, got));
            const std::string text = test::ReadFileBytes(path);
            std::string subject;
            for (std::size_t i = 0; i < eds.subject.size(); ++i) {
                const bool crlf = eds.subject.compare(i, 2, "\r\n") == 0;
                const bool lineEnd = eds.subject[i] == '\r' || eds.subject[i] == '\n';
                subject += lineEnd ? ' ' : eds.subject[i];
                if (crlf) ++i;
            }
            EXPECT_EQ(got.from, eds.from.empty() ? DefaultFrom(st.prefs) : eds.from);
            EXPECT_EQ(got.to, eds.to.empty() ? kDefaultTo : eds.to);
            EXPECT_EQ(got.subject, subject);
            EXPECT_EQ(got.body, eds.body);
            EXPECT_EQ(back.user.lastMail, path);
            if (!IsValidUtf8(text)) {
                EXPECT_EQ(back.mailText.encoding, TextEncoding::Windows1252);
            }
        }
    }

    // A mail without a header block is its body alone; lines at its start that look
    // like a header block are read as one.
    AppState st;
    MailEditors eds;
    eds.body = {"Subject: not a header", "", "text"};
    SaveMail(st, path, eds, false);
    EXPECT_EQ(test::ReadFileBytes(path), "Subject: not a header\r\n\r\ntext\r\n");
    MailEditors got;
    ASSERT_TRUE(LoadMail(st, path, got));
    EXPECT_EQ(got.subject, "not a header");
    EXPECT_EQ(got.body, std::vector<std::string>{"text"});
}

// CSV holds every value; blanks around field names and blanks in e-mail addresses are
// dropped as they are read.
TEST(FormatRoundTrip, CsvFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    const auto trimmed = [](const std::string& s) {
        const auto first = s.find_first_not_of(" \t");
        return first == std::string::npos ? std::string()
                                          : s.substr(first, s.find_last_not_of(" \t") - first + 1);
    };
    for (const HostileCharset cs : kCharsets) {
        for (int round = 0; round < 4; ++round) {
            std::vector<std::string> fields = {trimmed(gen.value(cs)), "name",
                                               trimmed(HostileText::AllBytes(cs)), "email"};
            AppState st = GeneratedDatabase(fields, [&](int r, std::size_t k) {
                const std::string v = r == 0 ? HostileText::AllBytes(cs) : gen.value(cs);
                return k == 3 ? Without(v, " ") : v;
            });
            const std::string path = dir.file("people.csv");
            SaveCsvDatabase(st, path);
            AppState back;
            LoadCsvDatabase(back, path);
            ASSERT_EQ(FieldNames(*back.db), fields);
            EXPECT_EQ(ValuesOf(*back.db), ValuesOf(*st.db));
            EXPECT_EQ(back.db->entries[5]->name(), st.db->entries[5]->values[1]);
            EXPECT_EQ(back.db->entries[5]->email(), st.db->entries[5]->values[3]);
        }
    }
}

// The settings file holds any text without a line break up to 1023 characters (what
// becomes of longer values and line breaks: SettingsTest).
TEST(FormatRoundTrip, SettingsFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    const std::string path = dir.file("Tandrel.ini");
    for (const HostileCharset cs : kCharsets) {
        for (int r = 0; r < kRecords; ++r) {
            const auto text = [&] {
                return Without(r == 0 ? HostileText::AllBytes(cs) : gen.value(cs), "\r\n");
            };
            Preferences prefs;
            prefs.smtp = text();
            prefs.port = text();
            prefs.name = text();
            prefs.fromAddress = text();
            prefs.user = text();
            prefs.security = std::vector<const char*>{"none", "starttls", "tls"}[gen.pick(3)];
            prefs.timeoutSeconds = static_cast<int>(gen.pick(100000));
            prefs.perConnection = static_cast<int>(gen.pick(1000));
            prefs.ratePerMinute = static_cast<int>(gen.pick(1000));
            prefs.fieldDelimiter = static_cast<std::int32_t>(gen.pick(1u << 31)) - (1 << 30);
            RecentFiles user{text(), text(), text()};
            const WindowGeometry geo{static_cast<int>(gen.pick(5000)) - 2500,
                                     static_cast<int>(gen.pick(5000)), 100, 200,
                                     static_cast<int>(gen.pick(900))};
            Profile ini(path);
            WriteSettings(ini, prefs, user, &geo); // over the values of the round before

            Preferences gotPrefs;
            RecentFiles gotUser;
            WindowGeometry gotGeo{};
            ReadSettings(Profile(path), gotPrefs, gotUser, gotGeo);
            const auto all = [](const Preferences& p, const RecentFiles& u,
                                const WindowGeometry& g) {
                // clang-format off
                return std::vector<std::string>{
                    p.smtp, p.port, p.name, p.fromAddress, p.user, p.security,
                    std::to_string(p.timeoutSeconds), std::to_string(p.perConnection),
                    std::to_string(p.ratePerMinute), std::to_string(p.fieldDelimiter), u.lastMail,
                    u.lastFields, u.lastDatabase, std::to_string(g.x), std::to_string(g.y),
                    std::to_string(g.width), std::to_string(g.height),
                    std::to_string(g.paneHeight)};
                // clang-format on
            };
            ASSERT_EQ(all(gotPrefs, gotUser, gotGeo), all(prefs, user, geo));
            EXPECT_EQ(gotPrefs.delimiterChar, DelimCharOf(prefs.fieldDelimiter));
        }
    }
}

// The results file holds any name and address, every outcome and every occurrence count;
// a later run goes to everyone whose message was neither accepted nor perhaps stored.
TEST(FormatRoundTrip, RunResultsFile) {
    const test::SeededRun run;
    HostileText gen(run.seed);
    TempDir dir;
    const Outcome outcomes[] = {Outcome::NotAttempted, Outcome::Accepted, Outcome::Refused,
                                Outcome::TemporarilyRefused, Outcome::MaybeDelivered};
    for (const HostileCharset cs : kCharsets) {
        AppState st;
        st.newDatabase();
        std::vector<Person*> rows;
        for (int r = 0; r < kRecords; ++r) {
            Person& e = st.db->appendEntry();
            // Now and then the same person again, told apart by occurrence.
            const Person* twin =
                r > 1 && gen.pick(4) == 0 ? rows[gen.pick(rows.size())] : nullptr;
            const std::string fixed = r == 0 ? HostileText::AllBytes(cs) : "";
            e.setName(twin ? twin->name() : r < 2 ? fixed : gen.value(cs));
            e.setEmail(twin ? twin->email() : r < 2 ? fixed : gen.value(cs));
            rows.push_back(&e);
        }
        const std::vector<PersonView> people = IdentifyPeople(*st.db, rows);
        std::vector<Outcome> want(people.size(), Outcome::NotAttempted);
        {
            RunResultsWriter writer(dir.file("Tandrel.run"), people);
            // Some people twice: the later outcome counts.
            for (std::size_t k = 0; k < people.size() * 3 / 2; ++k) {
                const std::size_t i = gen.pick(people.size());
                want[i] = outcomes[gen.pick(std::size(outcomes))];
                ASSERT_TRUE(writer.record(i, want[i]));
            }
        }
        const std::vector<PersonResult> got = ReadRunResults(dir.file("Tandrel.run"));
        ASSERT_EQ(got.size(), people.size());
        std::vector<Person*> notReached;
        for (std::size_t i = 0; i < people.size(); ++i) {
            // The occurrence by its definition: earlier entries with the same name and address.
            int earlier = 0;
            for (std::size_t j = 0; j < i; ++j)
                earlier +=
                    rows[j]->name() == rows[i]->name() && rows[j]->email() == rows[i]->email();
            const PersonId& read = got[i].person;
            EXPECT_EQ(std::tie(read.name, read.email, read.occurrence),
                      std::tie(rows[i]->name(), rows[i]->email(), earlier))
                << i;
            EXPECT_EQ(static_cast<char>(got[i].outcome), static_cast<char>(want[i])) << i;
            if (want[i] != Outcome::Accepted && want[i] != Outcome::MaybeDelivered)
                notReached.push_back(rows[i]);
        }
        EXPECT_EQ(RecipientsNotReached(*st.db, dir.file("Tandrel.run")), notReached);
    }
}

// Field names that look like the file's own syntax. Unquoted, more semicolons than the
// header row has commas would make it read as separated by semicolons and every row fall
// apart, and a byte order mark at the start of the first would be taken for the file's.
TEST(FormatRoundTrip, CsvFieldNamesLikeTheFilesSyntax) {
    const std::vector<std::string> headers[] = {
        {"name", "email", "a;b;c;d"},
        {"\xEF\xBB\xBFTown", "name", "email"},
    };
    TempDir dir;
    for (const auto& fields : headers) {
        AppState st = GeneratedDatabase(
            fields, [](int r, std::size_t k) { return std::to_string(r * 10 + k); });
        SaveCsvDatabase(st, dir.file("people.csv"));
        AppState back;
        ASSERT_NO_THROW(LoadCsvDatabase(back, dir.file("people.csv"))) << fields[0];
        EXPECT_EQ(FieldNames(*back.db), FieldNames(*st.db)) << fields[0];
        EXPECT_EQ(ValuesOf(*back.db), ValuesOf(*st.db)) << fields[0];
    }
}
