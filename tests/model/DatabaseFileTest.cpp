// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "model/CsvFile.h"
#include "model/DatabaseFile.h"
#include "model/Errors.h"
#include "model/FieldFile.h"
#include "model/MailFile.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"

using namespace tandrel;
using Lines = std::vector<std::string>;

namespace {

AppState StateWithFields(const Lines& fields, char delim = ';') {
    AppState st;
    st.db = std::make_unique<Database>();
    for (const auto& f : fields)
        st.db->fields.push_back(Field{f});
    st.prefs.delimiterChar = delim;
    return st;
}

Lines FieldNames(const AppState& st) {
    Lines out;
    for (const auto& f : st.db->fields)
        out.push_back(f.name);
    return out;
}

struct Entry {
    std::string name;
    std::string email;
    Lines values;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    os << "{" << e.name << "|" << e.email << "|";
    for (const auto& v : e.values)
        os << "[" << v << "]";
    return os << "}";
}

std::vector<Entry> Entries(const AppState& st) {
    std::vector<Entry> out;
    for (const auto& e : st.db->entries)
        out.push_back({e->name(), e->email(), e->values});
    return out;
}

std::string ErrorOf(const std::function<void()>& f) {
    return test::ErrorText<FileError>(f);
}

} // namespace

TEST(ParseEntryLine, SplitsAtEveryDelimiterWithoutTrimming) {
    struct Case {
        std::string line;
        char delim;
        Column nameCol, emailCol;
        Entry want;
    };
    const Case cases[] = {
        {"Ann Lee;ann @ex ample.org;Town",
         ';',
         0,
         1,
         {"Ann Lee", "ann@example.org", {"Ann Lee", "ann@example.org", "Town"}}},
        {"a;b;", ';', 0, 1, {"a", "b", {"a", "b", ""}}},
        {";;", ';', 0, 1, {"", "", {"", "", ""}}},
        {"", ';', 0, 1, {"", "", {""}}},
        {" a ; b ", ';', 0, std::nullopt, {" a ", "", {" a ", " b "}}},
        {"x\t\tm e@x\t", '\t', 2, 1, {"m e@x", "", {"x", "", "m e@x", ""}}},
        // Only code 32 is removed from the address; tabs stay.
        {"n,\tm e @x ", ',', std::nullopt, 1, {"", "\tme@x", {"n", "\tme@x"}}},
        {"one", ';', std::nullopt, std::nullopt, {"", "", {"one"}}},
        {"a;b", ',', 0, std::nullopt, {"a;b", "", {"a;b"}}},
        {"v0;v1;v2;v3", ';', 3, 2, {"v3", "v2", {"v0", "v1", "v2", "v3"}}},
        {"\xe9l\xe8ve;x", ';', 0, 5, {"\xe9l\xe8ve", "", {"\xe9l\xe8ve", "x"}}},
    };
    for (const auto& c : cases) {
        Person e;
        const std::size_t n = ParseEntryLine(e, c.line, c.delim, c.nameCol, c.emailCol);
        EXPECT_EQ(n, c.want.values.size()) << c.line;
        EXPECT_EQ((Entry{e.name(), e.email(), e.values}), c.want) << c.line;
    }
}

TEST(LoadDatabase, ColumnsAndWidening) {
    struct Case {
        const char* what;
        Lines fields;
        std::string file;
        std::vector<Entry> want;
        Lines wantFields;
    };
    const Case cases[] = {
        {"blank removed from the address column",
         {"name", "email", "town"},
         "Ann;ann @x.org;Rome\r\n",
         {{"Ann", "ann@x.org", {"Ann", "ann@x.org", "Rome"}}},
         {"name", "email", "town"}},
        {"wide line adds fields",
         {"a", "b"},
         "1;2;3;4;5\r\n1\r\n",
         {{"", "", {"1", "2", "3", "4", "5"}}, {"", "", {"1"}}},
         {"a", "b", "New Field 1", "New Field 2", "New Field 3"}},
        {"letter case of the special names",
         {"EMail", "Name"},
         "a b@c;Bob\n",
         {{"Bob", "ab@c", {"ab@c", "Bob"}}},
         {"EMail", "Name"}},
        {"last of two name fields wins",
         {"name", "name", "email"},
         "first;second;x@y\n",
         {{"second", "x@y", {"first", "second", "x@y"}}},
         {"name", "name", "email"}},
        {"no special fields",
         {"who", "mail"},
         "Ann;a@b\n",
         {{"", "", {"Ann", "a@b"}}},
         {"who", "mail"}},
        {"empty and trailing delimiters, every line end",
         {"name", "email"},
         "\r;;\na;b;\r\nlast",
         {{"", "", {""}},
          {"", "", {"", "", ""}},
          {"a", "b", {"a", "b", ""}},
          {"last", "", {"last"}}},
         {"name", "email", "New Field 1"}},
        {"empty file", {"name", "email"}, "", {}, {"name", "email"}},
        {"blank lines are entries",
         {"name"},
         "\r\n\r\n",
         {{"", "", {""}}, {"", "", {""}}},
         {"name"}},
    };
    test::TempDir dir;
    const std::string path = dir.file("db.txt");
    for (const auto& c : cases) {
        AppState st = StateWithFields(c.fields);
        st.db->appendEntry().setName("old entry");
        test::WriteFileBytes(path, c.file);
        LoadDatabase(st, path);
        EXPECT_EQ(Entries(st), c.want) << c.what;
        EXPECT_EQ(FieldNames(st), c.wantFields) << c.what;
        EXPECT_EQ(st.user.lastDatabase, path) << c.what;
    }
}

TEST(LoadDatabase, EveryEntryIsUnselectedWithItsOwnIdentity) {
    test::TempDir dir;
    AppState st = StateWithFields({"name", "email"});
    for (int i = 0; i < 3; ++i)
        st.db->appendEntry().selected = true;
    test::WriteFileBytes(dir.file("db.txt"), "Ann;a@x\r\nAnn;a@x\r\nBob;b@x\r\n");
    LoadDatabase(st, dir.file("db.txt"));
    ASSERT_EQ(st.db->entryCount(), 3u);
    std::set<std::uint64_t> ids;
    for (const auto& e : st.db->entries) {
        EXPECT_FALSE(e->selected);
        ids.insert(e->id);
    }
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(FindEntryByName(st.db.get(), "Ann"), st.db->entries[0].get());
}

TEST(LoadDatabase, NewFieldCounterStartsAgainOnEveryLoad) {
    test::TempDir dir;
    AppState st = StateWithFields({"name"});
    test::WriteFileBytes(dir.file("a.txt"), "a;b\r\n");
    test::WriteFileBytes(dir.file("b.txt"), "a;b;c\r\n");
    LoadDatabase(st, dir.file("a.txt"));
    LoadDatabase(st, dir.file("b.txt"));
    EXPECT_EQ(FieldNames(st), (Lines{"name", "New Field 1", "New Field 1"}));
}

TEST(LoadDatabase, UnreadableFileChangesNothing) {
    test::TempDir dir;
    AppState st = StateWithFields({"name", "email"});
    st.db->appendEntry().setName("kept");
    st.db->entries[0]->selected = true;
    st.user.lastDatabase = "/before.txt";
    const std::string missing = dir.file("missing.txt");
    EXPECT_EQ(ErrorOf([&] { LoadDatabase(st, missing); }), "Cannot open file " + missing);
    ASSERT_EQ(st.db->entryCount(), 1u);
    EXPECT_EQ(st.db->entries[0]->name(), "kept");
    EXPECT_TRUE(st.db->entries[0]->selected);
    EXPECT_EQ(FieldNames(st), (Lines{"name", "email"}));
    EXPECT_EQ(st.user.lastDatabase, "/before.txt");
}

TEST(SaveDatabase, WritesValuesOnlyAndReloadsTheSame) {
    test::TempDir dir;
    const std::string path = dir.file("out.txt");
    AppState st = StateWithFields({"name", "email", "town"}, ',');
    auto add = [&](Lines values, bool selected) {
        Person& e = st.db->appendEntry();
        e.setName("copy not written");
        e.values = std::move(values);
        e.selected = selected;
    };
    add({"Ann", "ann@x.org", " Rome "}, true);
    add({}, false);
    add({"Bob", "b@x"}, true);
    add({"Cy", "c@x", "t", "extra"}, false);
    SaveDatabase(st, path);
    EXPECT_EQ(st.user.lastDatabase, path);
    EXPECT_EQ(test::ReadFileBytes(path),
              "Ann,ann@x.org, Rome \r\n\r\nBob,b@x\r\nCy,c@x,t,extra\r\n");

    AppState back = StateWithFields({"name", "email", "town"}, ',');
    LoadDatabase(back, path);
    EXPECT_EQ(Entries(back),
              (std::vector<Entry>{{"Ann", "ann@x.org", {"Ann", "ann@x.org", " Rome "}},
                                  {"", "", {""}},
                                  {"Bob", "b@x", {"Bob", "b@x"}},
                                  {"Cy", "c@x", {"Cy", "c@x", "t", "extra"}}}));
    EXPECT_EQ(back.db->selectedCount(), 0u);
    EXPECT_EQ(FieldNames(back), (Lines{"name", "email", "town", "New Field 1"}));
}

TEST(SaveDatabase, FailedCreateKeepsTheOldPath) {
    test::TempDir dir;
    AppState st = StateWithFields({"name"});
    st.db->appendEntry().values = {"x"};
    st.user.lastDatabase = "/before.txt";
    const std::string bad = dir.file("no/such/dir/db.txt");
    EXPECT_EQ(ErrorOf([&] { SaveDatabase(st, bad); }),
              "Cannot create file " + bad + ": No such file or directory");
    EXPECT_EQ(st.user.lastDatabase, "/before.txt");
}

TEST(FieldFile, LoadTakesEveryLineAsAField) {
    struct Case {
        std::string file;
        Lines want;
    };
    const Case cases[] = {
        {"name\r\nemail\r\ncity\r\n", {"name", "email", "city"}},
        {"name\r\n\r\ncity", {"name", "", "city"}},
        {" name \nname\rname", {" name ", "name", "name"}},
        {"[x]\r\n", {"[x]"}},
        {"", {}},
    };
    test::TempDir dir;
    const std::string path = dir.file("f.txt");
    for (const auto& c : cases) {
        AppState st;
        test::WriteFileBytes(path, c.file);
        LoadFields(st, path);
        ASSERT_TRUE(st.db) << c.file;
        EXPECT_EQ(FieldNames(st), c.want) << c.file;
        EXPECT_EQ(st.db->entryCount(), 0u);
        EXPECT_EQ(st.user.lastFields, path);
    }
}

TEST(FieldFile, LoadOverADatabaseKeepsEntriesValuesAndSelection) {
    test::TempDir dir;
    AppState st = StateWithFields({"name", "email", "town"});
    Person& e = st.db->appendEntry();
    e.setName("Ann");
    e.values = {"Ann", "a@x", "Rome"};
    e.selected = true;
    test::WriteFileBytes(dir.file("f.txt"), "who\r\n");
    LoadFields(st, dir.file("f.txt"));
    EXPECT_EQ(FieldNames(st), Lines{"who"});
    ASSERT_EQ(st.db->entryCount(), 1u);
    EXPECT_EQ(st.db->entries[0].get(), &e);
    EXPECT_EQ(e.values, (Lines{"Ann", "a@x", "Rome"}));
    EXPECT_TRUE(e.selected);
}

TEST(FieldFile, FailuresAndPaths) {
    test::TempDir dir;
    AppState st;
    st.user.lastFields = "/before.txt";
    const std::string missing = dir.file("missing.txt");
    EXPECT_EQ(ErrorOf([&] { LoadFields(st, missing); }), "Cannot open file " + missing);
    EXPECT_FALSE(st.db);
    EXPECT_EQ(st.user.lastFields, "/before.txt");

    // Saving needs a database with at least one field.
    SaveFields(st, dir.file("none.txt"));
    st.db = std::make_unique<Database>();
    SaveFields(st, dir.file("none.txt"));
    EXPECT_FALSE(FileExists(dir.file("none.txt")));
    EXPECT_EQ(st.user.lastFields, "/before.txt");

    st.db->fields = {Field{"name"}, Field{""}, Field{"e mail"}};
    const std::string bad = dir.file("no/dir/f.txt");
    EXPECT_EQ(ErrorOf([&] { SaveFields(st, bad); }),
              "Cannot create file " + bad + ": No such file or directory");
    EXPECT_EQ(st.user.lastFields, "/before.txt");

    SaveFields(st, dir.file("f.txt"));
    EXPECT_EQ(test::ReadFileBytes(dir.file("f.txt")), "name\r\n\r\ne mail\r\n");
    AppState back;
    LoadFields(back, dir.file("f.txt"));
    EXPECT_EQ(FieldNames(back), FieldNames(st));
}

TEST(UserTextFiles, NulBytesAreRefusedAndNothingIsLoaded) {
    using Load = std::function<void(AppState&, MailEditors&, const std::string&)>;
    const std::pair<const char*, Load> loaders[] = {
        {"database", [](AppState& st, MailEditors&, const std::string& p) { LoadDatabase(st, p); }},
        {"csv", [](AppState& st, MailEditors&, const std::string& p) { LoadCsvDatabase(st, p); }},
        {"fields", [](AppState& st, MailEditors&, const std::string& p) { LoadFields(st, p); }},
        {"mail",
         [](AppState& st, MailEditors& eds, const std::string& p) { LoadMail(st, p, eds); }},
    };
    const std::string files[] = {
        std::string("x\r\ny\0z\r\nw\r\n", 11),
        std::string(1, '\0'),
        std::string("name,email\r\nAnn,a@x\0", 20),
    };
    test::TempDir dir;
    const std::string path = dir.file("nul.txt");
    for (const auto& [what, load] : loaders) {
        for (const auto& file : files) {
            SCOPED_TRACE(what);
            test::WriteFileBytes(path, file);
            AppState st = StateWithFields({"name", "email"});
            FillEntry(st.db->appendEntry(), {"Old", "old@x"}, 0, 1);
            st.user = RecentFiles{"/m.txt", "/f.txt", "/d.txt"};
            st.mailText.lines = {"kept"};
            MailEditors eds{"F", "T", "S", {"body"}};
            EXPECT_EQ(ErrorOf([&] { load(st, eds, path); }),
                      path + " is not a text file: it contains NUL bytes");
            EXPECT_EQ(Entries(st), (std::vector<Entry>{{"Old", "old@x", {"Old", "old@x"}}}));
            EXPECT_EQ(FieldNames(st), (Lines{"name", "email"}));
            EXPECT_EQ(st.user.lastMail + st.user.lastFields + st.user.lastDatabase, "/m.txt/f.txt/d.txt");
            EXPECT_EQ(st.mailText.lines, Lines{"kept"});
            EXPECT_EQ(eds.from + eds.to + eds.subject, "FTS");
            EXPECT_EQ(eds.body, Lines{"body"});
        }
    }
}
