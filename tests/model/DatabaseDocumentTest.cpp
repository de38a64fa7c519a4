// SPDX-License-Identifier: GPL-3.0-or-later
// The database document: which format a file is read in, and that Save writes that
// format back.
#include <gtest/gtest.h>

#include <functional>

#include "model/DatabaseDocument.h"
#include "model/DatabaseEditing.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::ReadFileBytes;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

// Every way a .csv file may start, with and without an e-mail column: the file opens in
// the format its first row says, an unchanged Save keeps the program's format byte for
// byte, and a change comes back in the format the file was read in.
TEST(DatabaseDocument, ACsvFileIsReadAndSavedInTheFormatItsFirstRowSays) {
    struct Case {
        const char* what;
        std::string file;
        DatabaseFormat format;
        std::string secondName; // of the person in the second entry after loading
    };
    const Case cases[] = {
        {"spreadsheet CSV", "name,email\r\nAnn,ann@x\r\nBob,bob@x\r\n", DatabaseFormat::Csv, "Bob"},
        {"header in capitals, blanks", "Name ; EMail\r\nAnn;ann@x\r\nBob;bob@x\r\n",
         DatabaseFormat::Csv, "Bob"},
        {"quoted header over two lines",
         "\"town\r\nold\",name,email\r\nRome,Ann,ann@x\r\nOslo,Bob,bob@x\r\n", DatabaseFormat::Csv,
         "Bob"},
        {"program format named .csv", "Ann;ann@x\r\nBob;bob@x\r\n", DatabaseFormat::Program, "Bob"},
        {"program format with commas", "Ann, Lee;ann@x\r\nBob, Roe;bob@x\r\n",
         DatabaseFormat::Program, "Bob, Roe"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("people.CSV");
        WriteFileBytes(path, c.file);
        WriteFileBytes(dir.file("fields.txt"), "name\r\nemail\r\n");
        EXPECT_EQ(DatabaseFormatOf(path), c.format) << c.what;

        AppState st;
        st.prefs.delimiterChar = ';';
        st.user.lastDatabase = path;
        st.user.lastFields = dir.file("fields.txt");
        DatabaseDocument doc(st);
        doc.restoreLast();
        ASSERT_TRUE(st.db) << c.what;
        ASSERT_EQ(st.db->entries.size(), 2u) << c.what;
        EXPECT_EQ(st.db->entries[1]->name(), c.secondName) << c.what;
        EXPECT_FALSE(doc.changed()) << c.what;
        EXPECT_EQ(doc.needsFieldFile(path), c.format == DatabaseFormat::Program) << c.what;

        doc.save(doc.path(), doc.fieldsPath());
        if (c.format == DatabaseFormat::Program) {
            EXPECT_EQ(ReadFileBytes(path), c.file) << c.what;
        }

        // A new person: the file keeps its format, read back by the same rule.
        AddPerson(*st.db, "Cid", "cid@x");
        EXPECT_TRUE(doc.changed()) << c.what;
        doc.save(doc.path(), doc.fieldsPath());
        EXPECT_FALSE(doc.changed()) << c.what;
        EXPECT_EQ(DatabaseFormatOf(path), c.format) << c.what;
        AppState again;
        again.prefs.delimiterChar = ';';
        ASSERT_EQ(LoadDatabaseFiles(again, path, dir.file("fields.txt")), DatabaseLoad::Loaded);
        ASSERT_EQ(again.db->entries.size(), 3u) << c.what;
        EXPECT_EQ(again.db->entries[2]->email(), "cid@x") << c.what;
    }
}

// Whether the database changed is asked of a digest, not of a copy of every value. The
// oracle is the file itself: the database counts as changed exactly when saving it now
// would write other bytes than its file holds.
TEST(DatabaseDocument, ChangedExactlyWhenASaveWouldWriteOtherBytes) {
    struct Case {
        const char* what;
        std::function<void(Database&)> edit;
    };
    const auto value = [](Database& db, std::size_t entry, std::size_t k) -> std::string& {
        return db.entries[entry]->values[k];
    };
    const Case cases[] = {
        {"nothing", [](Database&) {}},
        {"a value edited", [&](Database& db) { value(db, 0, 2) = "Oslo"; }},
        {"a value edited and back",
         [&](Database& db) {
             value(db, 0, 2) = "Oslo";
             value(db, 0, 2) = "Rome";
         }},
        {"a letter moved into the next value",
         [&](Database& db) {
             value(db, 1, 0) = "Bo";
             value(db, 1, 1) = "bbob@x";
         }},
        {"a value moved to the next person",
         [&](Database& db) {
             value(db, 0, 2) = "";
             value(db, 1, 2) = "Rome";
         }},
        {"an empty value more", [](Database& db) { db.entries[1]->values.emplace_back(); }},
        {"two people swapped", [](Database& db) { std::swap(db.entries[0], db.entries[1]); }},
        {"the last person removed and added again",
         [](Database& db) {
             db.removeEntry(db.entries[1].get());
             AddPerson(db, "Bob", "bob@x").values[2] = "";
         }},
        {"people selected", [](Database& db) { db.entries[0]->selected = true; }},
        {"a field renamed", [](Database& db) { RenameField(db, 2, "city"); }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string fields = dir.file("fields.txt"), people = dir.file("people.txt");
        WriteFileBytes(fields, "name\r\nemail\r\ntown\r\n");
        WriteFileBytes(people, "Ann;ann@x;Rome\r\nBob;bob@x;\r\n");
        AppState st;
        st.prefs.delimiterChar = ';';
        st.user.lastDatabase = people;
        st.user.lastFields = fields;
        DatabaseDocument doc(st);
        doc.restoreLast();
        ASSERT_TRUE(st.db) << c.what;

        c.edit(*st.db);
        const bool changed = doc.changed();
        doc.save(dir.file("again.txt"), dir.file("again-fields.txt"));
        const bool bytesDiffer =
            ReadFileBytes(dir.file("again.txt")) != ReadFileBytes(people) ||
            ReadFileBytes(dir.file("again-fields.txt")) != ReadFileBytes(fields);
        EXPECT_EQ(changed, bytesDiffer) << c.what;
        EXPECT_FALSE(doc.changed()) << c.what << ": after saving";
    }
}

} // namespace
