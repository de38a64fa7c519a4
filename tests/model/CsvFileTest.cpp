// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>

#include "model/CsvFile.h"
#include "model/Errors.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using Rows = std::vector<CsvRow>;

namespace {

std::string ErrorOf(const std::function<void()>& f) {
    return test::ErrorText<FileError>(f);
}

Rows DatabaseRows(const AppState& st) {
    Rows rows;
    CsvRow header;
    for (const auto& f : st.db->fields)
        header.push_back(f.name);
    rows.push_back(header);
    // As the program reads them: a short row's missing values are empty ones.
    for (const auto& e : st.db->entries) {
        CsvRow values = e->values;
        if (e->missingValuesEmpty && values.size() < header.size()) values.resize(header.size());
        rows.push_back(values);
    }
    return rows;
}

} // namespace

TEST(Csv, ParsesWhatSpreadsheetsWrite) {
    struct Case {
        const char* what;
        std::string text;
        Rows want;
    };
    const Case cases[] = {
        {"commas, CR LF", "name,email\r\nAnn,a@x\r\n", {{"name", "email"}, {"Ann", "a@x"}}},
        {"semicolons, no final line end",
         "name;email;town\nAnn;a@x;Rome, Italy",
         {{"name", "email", "town"}, {"Ann", "a@x", "Rome, Italy"}}},
        {"more semicolons than commas in the header",
         "\"a,b\";c;d\r\n1,5;2;3\r\n",
         {{"a,b", "c", "d"}, {"1,5", "2", "3"}}},
        {"more semicolons, but only commas give a name and an email column",
         "Name,email,a;b;c\r\nAnn,a@x,1;2\r\n",
         {{"Name", "email", "a;b;c"}, {"Ann", "a@x", "1;2"}}},
        {"byte order mark, quotes, separators and line breaks inside quotes",
         "\xEF\xBB\xBFname,note\r\n\"Lee, Ann\",\"say \"\"hi\"\"\r\nsecond line\"\r\n",
         {{"name", "note"}, {"Lee, Ann", "say \"hi\"\r\nsecond line"}}},
        {"empty values and empty lines",
         "a,b,c\r\n\r\n,,\r\n\"\",x,\r\n\n",
         {{"a", "b", "c"}, {"", "", ""}, {"", "x", ""}}},
        {"blanks and stray quotes stay",
         "a, b \r\nx\"y,\"q\"z\r\n",
         {{"a", " b "}, {"x\"y", "qz"}}},
        {"UTF-8 and Latin-1 bytes pass", "n\xC3\xA9,\xE9\r\n", {{"n\xC3\xA9", "\xE9"}}},
        {"empty", "", {}},
    };
    for (const auto& c : cases) {
        Rows rows;
        EXPECT_TRUE(ParseCsv(c.text, rows)) << c.what;
        EXPECT_EQ(rows, c.want) << c.what;
    }
    Rows rows;
    EXPECT_FALSE(ParseCsv("a,b\r\n\"never closed,x\r\n", rows));
}

TEST(Csv, DatabaseRoundTripsThroughTheFile) {
    const std::string file = "\xEF\xBB\xBF"
                             "Town; E-Mail ;EMAIL;\tNAME;Note\r\n"
                             "Rome;x;ann @ex ample.org;\"Lee; Ann\";\"a \"\"b\"\"\nc\"\r\n"
                             "Z\xC3\xBCrich;;bob@x;Bob\r\n"
                             "far;;cy@x;Cy;n;extra\r\n";
    test::TempDir dir;
    const std::string path = dir.file("people.CSV");
    EXPECT_TRUE(IsCsvPath(path));
    test::WriteFileBytes(path, file);
    AppState st; // no database yet
    LoadCsvDatabase(st, path);
    EXPECT_EQ(st.user.lastDatabase, path);
    const Rows want = {
        {"Town", "E-Mail", "email", "name", "Note", "New Field 1"},
        {"Rome", "x", "ann@example.org", "Lee; Ann", "a \"b\"\nc", ""},
        {"Z\xC3\xBCrich", "", "bob@x", "Bob", "", ""}, // a short row has empty values
        {"far", "", "cy@x", "Cy", "n", "extra"},
    };
    ASSERT_EQ(DatabaseRows(st), want);
    EXPECT_EQ(st.db->entries[0]->name(), "Lee; Ann");
    EXPECT_EQ(st.db->entries[0]->email(), "ann@example.org");
    EXPECT_EQ(st.db->entries[1]->email(), "bob@x");

    const std::string out = dir.file("out.csv");
    SaveCsvDatabase(st, out);
    EXPECT_EQ(st.user.lastDatabase, out);
    EXPECT_EQ(test::ReadFileBytes(out),
              "Town,E-Mail,email,name,Note,New Field 1\r\n"
              "Rome,x,ann@example.org,\"Lee; Ann\",\"a \"\"b\"\"\nc\",\r\n"
              "Z\xC3\xBCrich,,bob@x,Bob,,\r\n"
              "far,,cy@x,Cy,n,extra\r\n");
    AppState back;
    back.newDatabase();
    back.db->appendEntry().setName("replaced");
    LoadCsvDatabase(back, out);
    EXPECT_EQ(DatabaseRows(back), want);
}

TEST(Csv, UnusableFilesChangeNothing) {
    struct Case {
        std::string file;
        std::string error; // after the path
    };
    const Case cases[] = {
        {"Name,Town\r\nAnn,Rome\r\n",
         ": no column of its header row is called email, e-mail, mail, email address or "
         "e-mail address; the columns are \"Name\", \"Town\""},
        {"", " holds no header row naming the fields"},
        {"name,email\r\n\"Ann\",\"a\r\nb\"\r\nBo,\"b@x\r\n",
         " is not a valid CSV file: the quoted value that starts on line 4 is not closed"},
    };
    test::TempDir dir;
    const std::string path = dir.file("bad.csv");
    for (const auto& c : cases) {
        test::WriteFileBytes(path, c.file);
        AppState st;
        st.newDatabase();
        st.db->appendEntry().values = {"Old", "old@x"};
        st.user.lastDatabase = "/before.csv";
        EXPECT_EQ(ErrorOf([&] { LoadCsvDatabase(st, path); }), path + c.error);
        EXPECT_EQ(DatabaseRows(st), (Rows{{"name", "email"}, {"Old", "old@x"}}));
        EXPECT_EQ(st.user.lastDatabase, "/before.csv");
    }
    const std::string missing = dir.file("none.csv");
    AppState st;
    EXPECT_EQ(ErrorOf([&] { LoadCsvDatabase(st, missing); }), "Cannot open file " + missing);
    EXPECT_FALSE(st.db);
    const std::string bad = dir.file("no/dir/x.csv");
    EXPECT_EQ(ErrorOf([&] { SaveCsvDatabase(st, bad); }),
              "Cannot create file " + bad + ": No such file or directory");
    EXPECT_EQ(st.user.lastDatabase, "");
    EXPECT_FALSE(IsCsvPath("people.txt"));
    EXPECT_FALSE(IsCsvPath("csv"));
}
