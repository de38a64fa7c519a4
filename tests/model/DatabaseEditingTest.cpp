// SPDX-License-Identifier: GPL-3.0-or-later
// The database edits behind the editor and its dialogs, without widgets.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/DatabaseEditing.h"
#include "model/DatabaseFile.h"

using namespace tandrel;

namespace {

using Strings = std::vector<std::string>;

Database MakeDb(const Strings& fieldNames) {
    Database db;
    for (const auto& f : fieldNames)
        db.fields.push_back(Field{f});
    return db;
}

} // namespace

TEST(FieldLines, ShowsValuesBareNamesAndExtraValues) {
    struct Case {
        const char* what;
        Strings fields;
        Strings values;
        Strings lines;
    };
    const Case cases[] = {
        {"one value per field", {"name", "email"}, {"Ann", "a@x"}, {"name Ann", "email a@x"}},
        {"empty value keeps the space", {"name", "city"}, {"Ann", ""}, {"name Ann", "city "}},
        {"short list: bare names",
         {"name", "email", "A", "B"},
         {"Ann"},
         {"name Ann", "email", "A", "B"}},
        {"no values at all", {"name", "email"}, {}, {"name", "email"}},
        {"long list: extra lines",
         {"name"},
         {"Ann", "x", ""},
         {"name Ann", "(extra) x", "(extra) "}},
        {"no fields", {}, {"v"}, {"(extra) v"}},
    };
    for (const auto& c : cases) {
        Database db = MakeDb(c.fields);
        Person& e = db.appendEntry();
        e.values = c.values;
        EXPECT_EQ(FieldLines(db, e), c.lines) << c.what;
    }
}

TEST(AddPerson, WritesNameAndMailAtTheirPositions) {
    struct Case {
        const char* what;
        Strings fields;
        Strings values;
    };
    const Case cases[] = {
        {"usual fields", {"name", "email", "city"}, {"Ann", "a@x", ""}},
        {"swapped", {"email", "name"}, {"a@x", "Ann"}},
        {"neither field: both at 0, mail wins", {"first", "last"}, {"a@x", ""}},
        {"no email field: mail at 0", {"city", "name"}, {"a@x", "Ann"}},
        {"no name field: name at 0", {"x", "email"}, {"Ann", "a@x"}},
        {"last occurrence counts", {"name", "email", "name", "email"}, {"", "", "Ann", "a@x"}},
        {"case matters", {"Name", "EMAIL"}, {"a@x", ""}},
        {"no fields: no values", {}, {}},
    };
    for (const auto& c : cases) {
        Database db = MakeDb(c.fields);
        Person& e = AddPerson(db, "Ann", "a@x");
        EXPECT_EQ(e.values, c.values) << c.what;
        EXPECT_EQ(e.name(), "Ann") << c.what;
        EXPECT_EQ(e.email(), "a@x") << c.what;
        EXPECT_FALSE(e.selected) << c.what;
        ASSERT_EQ(db.entryCount(), 1u) << c.what;
        EXPECT_EQ(db.entries.back().get(), &e) << c.what;
    }
}

TEST(AddPerson, EachPersonIsANewEntryAtTheEnd) {
    Database db = MakeDb({"name", "email"});
    Person& a = AddPerson(db, "Ann", "1");
    Person& b = AddPerson(db, "Ann", "2");
    ASSERT_EQ(db.entryCount(), 2u);
    EXPECT_EQ(db.entries[0].get(), &a);
    EXPECT_EQ(db.entries[1].get(), &b);
    EXPECT_NE(a.id, b.id);
}

TEST(SetEntryValue, PadsShortListsAndKeepsNameAndMailInStep) {
    struct Case {
        const char* what;
        Strings fields;
        Strings before;
        std::size_t k;
        Strings after;
        std::string name;
        std::string email;
    };
    const Case cases[] = {
        {"other field",
         {"name", "email", "city"},
         {"Ann", "a@x", "Rome"},
         2,
         {"Ann", "a@x", "new"},
         "Ann",
         "a@x"},
        {"name field renames", {"name", "email"}, {"Ann", "a@x"}, 0, {"new", "a@x"}, "new", "a@x"},
        {"email field", {"name", "email"}, {"Ann", "a@x"}, 1, {"Ann", "new"}, "Ann", "new"},
        {"beyond the end pads with empties",
         {"name", "email", "A", "B"},
         {"Ann"},
         3,
         {"Ann", "", "", "new"},
         "Ann",
         "a@x"},
        {"empty list", {"city"}, {}, 0, {"new"}, "Ann", "a@x"},
        {"longer list keeps its length",
         {"name"},
         {"Ann", "x", "y"},
         0,
         {"new", "x", "y"},
         "new",
         "a@x"},
        {"name matched exactly", {"Name"}, {"Ann"}, 0, {"new"}, "Ann", "a@x"},
    };
    for (const auto& c : cases) {
        Database db = MakeDb(c.fields);
        Person& e = db.appendEntry();
        e.setName("Ann");
        e.setEmail("a@x");
        e.values = c.before;
        ASSERT_TRUE(SetEntryValue(db, e, c.k, "new")) << c.what;
        EXPECT_EQ(e.values, c.after) << c.what;
        EXPECT_EQ(e.name(), c.name) << c.what;
        EXPECT_EQ(e.email(), c.email) << c.what;
    }
}

TEST(SetEntryValue, RefusesPositionsWithoutAField) {
    Database db = MakeDb({"name"});
    Person& e = db.appendEntry();
    e.values = {"Ann", "extra"};
    EXPECT_FALSE(SetEntryValue(db, e, 1, "new"));
    EXPECT_FALSE(SetEntryValue(db, e, 7, "new"));
    EXPECT_EQ(e.values, (Strings{"Ann", "extra"}));
}

TEST(FieldEdits, AppendAndRename) {
    Database db = MakeDb({"name", "email", "city", "city"});
    Person& e = db.appendEntry();
    e.values = {"Ann", "a@x", "Rome", "Oslo"};

    EXPECT_FALSE(AppendField(db, ""));
    EXPECT_TRUE(AppendField(db, " name "));
    EXPECT_TRUE(AppendField(db, "city"));
    EXPECT_EQ(db.fieldCount(), 6u);
    EXPECT_EQ(db.fields[4].name, " name ");

    struct Case {
        std::size_t k;
        const char* to;
        bool ok;
    };
    const Case cases[] = {{0, "x", false}, {1, "x", false}, {3, "town", true},
                          {2, "", true},   {9, "x", false}, {4, "name", true}};
    for (const auto& c : cases)
        EXPECT_EQ(RenameField(db, c.k, c.to), c.ok) << c.k;
    const Strings names = [&] {
        Strings n;
        for (const auto& f : db.fields)
            n.push_back(f.name);
        return n;
    }();
    EXPECT_EQ(names, (Strings{"name", "email", "", "town", "name", "city"}));
    EXPECT_EQ(e.values, (Strings{"Ann", "a@x", "Rome", "Oslo"}));
}

TEST(RemoveEntries, RemovesByIdentityNotByName) {
    Database db = MakeDb({"name"});
    Person& a = AddPerson(db, "Ann", "1");
    Person& b = AddPerson(db, "Ann", "2");
    Person& c = AddPerson(db, "Bob", "3");
    const Person* gone = &b;
    EXPECT_EQ(RemoveEntries(db, {gone, gone}), 1u);
    ASSERT_EQ(db.entryCount(), 2u);
    EXPECT_EQ(db.entries[0].get(), &a);
    EXPECT_EQ(db.entries[1].get(), &c);
    EXPECT_EQ(RemoveEntries(db, {&a, &c}), 2u);
    EXPECT_EQ(db.entryCount(), 0u);
    EXPECT_EQ(RemoveEntries(db, {}), 0u);
}

// A loaded person reads the name and address in its values instead of holding copies.
// The reference is the plain copy: an entry given the same values and its name and
// address as its own text. Random edits under every kind of field ("name", "Name", a
// second "name", "email", others, past the end) and a change of encoding must leave the
// two alike at every step.
TEST(SetEntryValue, ALoadedPersonBehavesAsOneHoldingCopies) {
    const std::vector<Strings> fieldLists = {
        {"name", "email", "town"},
        {"Name", "EMAIL", "town"},
        {"name", "town", "Name", "email"},
        {"email", "name"},
        {"NAME", "e", "name", "eMail", "email"},
    };
    const Strings texts = {"Ann", "", "b@x", "Z\xfcrich", "  c@y ", "Bo"};
    std::mt19937 random(7);
    for (const Strings& fields : fieldLists) {
        for (int round = 0; round < 40; ++round) {
            Database loaded = MakeDb(fields);
            Database copied = MakeDb(fields);
            loaded.encoding = copied.encoding = TextEncoding::Windows1252;
            std::string line;
            for (std::size_t k = 0; k < fields.size(); ++k)
                line += (k ? ";" : "") + texts[random() % texts.size()];
            // The column rule of loading: the last field that lower-cases to the name.
            std::optional<std::size_t> nameCol, emailCol;
            for (std::size_t k = 0; k < fields.size(); ++k) {
                if (AsciiLower(fields[k]) == "name") nameCol = k;
                if (AsciiLower(fields[k]) == "email") emailCol = k;
            }
            Person& a = loaded.appendEntry();
            ParseEntryLine(a, line, ';', nameCol, emailCol);
            Person& b = copied.appendEntry();
            b.values = a.values;
            b.setName(nameCol ? b.values[*nameCol] : "");
            b.setEmail(emailCol ? b.values[*emailCol] : "");

            for (int step = 0; step < 6; ++step) {
                const std::size_t k = random() % (fields.size() + 1);
                const std::string& text = texts[random() % texts.size()];
                EXPECT_EQ(SetEntryValue(loaded, a, k, text), SetEntryValue(copied, b, k, text));
                ASSERT_EQ(a.name(), b.name()) << line << " step " << step;
                ASSERT_EQ(a.email(), b.email()) << line << " step " << step;
                ASSERT_EQ(a.values, b.values) << line << " step " << step;
            }
            ConvertDatabaseToUtf8(loaded);
            ConvertDatabaseToUtf8(copied);
            EXPECT_EQ(a.name(), b.name()) << line;
            EXPECT_EQ(a.email(), b.email()) << line;
            EXPECT_EQ(a.values, b.values) << line;
        }
    }
}
