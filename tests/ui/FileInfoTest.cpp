// SPDX-License-Identifier: GPL-3.0-or-later
// Sizes, types and the lines of the file test, on real files in a temporary directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/attachments/FileInfo.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

TEST(SizeToText, RoundsToFourSignificantDigitsWithTheGivenSeparator) {
    constexpr std::int64_t MiB = 1 << 20;
    struct Case {
        std::int64_t bytes;
        const char* dot;
        const char* comma;
    };
    const Case cases[] = {
        {-5, "0", "0"},
        {0, "0", "0"},
        {1, "1", "1"},
        {1023, "1023", "1023"},
        {1024, "1.00Kb", "1,00Kb"},
        {1536, "1.50Kb", "1,50Kb"},
        {1035, "1.01Kb", "1,01Kb"},       // 1.0107...: the second decimal rounds up
        {150000, "146.50Kb", "146,50Kb"}, // 146.484375: four significant digits first
        {MiB - 1, "1024.00Kb", "1024,00Kb"},
        {MiB, "1.00Mb", "1,00Mb"},
        {3 * MiB, "3.00Mb", "3,00Mb"},
        {std::int64_t{1} << 30, "1.00Gb", "1,00Gb"},
        // Beyond the 32-bit range: a file of 5 GiB still gets its size.
        {std::int64_t{5} << 30, "5.00Gb", "5,00Gb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SizeToText(c.bytes, "."), c.dot) << c.bytes;
        EXPECT_EQ(SizeToText(c.bytes, ","), c.comma) << c.bytes;
    }
}

TEST(FileInfo, SizeAndTypeOfRealFiles) {
    TempDir dir;
    struct Case {
        const char* name;
        std::size_t size;
        const char* sizeText;
        const char* type;
    };
    const Case cases[] = {
        {"empty.txt", 0, "0", "text/plain"},
        {"notes.txt", 1023, "1023", "text/plain"},
        {"PHOTO.JPG", 1024, "1.00Kb", "image/jpeg"},
        {"data.xyz", 1536, "1.50Kb", "application/octet-stream"},
        {"README", 10, "10", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        WriteFileBytes(path, std::string(c.size, 'x'));
        const ExaminedFile info = ExamineFile(path, ".");
        EXPECT_EQ(info.size, static_cast<std::int64_t>(c.size)) << c.name;
        EXPECT_EQ(info.sizeText, c.sizeText) << c.name;
        EXPECT_EQ(info.typeText, c.type) << c.name;
        EXPECT_EQ(TestFileLine(path, "."),
                  path + " found - size: " + c.sizeText + " - type: " + c.type);
    }
}

TEST(FileInfo, MissingFilesAndDirectoriesAreReported) {
    TempDir dir;
    const std::string missing = dir.file("gone.txt");
    EXPECT_EQ(ExamineFile(missing, ".").size, -1);
    EXPECT_EQ(TestFileLine(missing, "."), missing + " does not exist");
    EXPECT_EQ(TestFileLine("", "."), " does not exist");

    // A directory is no file that could be sent: sending finds no file there either.
    const ExaminedFile info = ExamineFile(dir.path(), ".");
    EXPECT_EQ(info.size, -1);
    EXPECT_TRUE(info.sizeText.empty());
    EXPECT_TRUE(info.typeText.empty());
    EXPECT_EQ(TestFileLine(dir.path(), "."), dir.path() + " does not exist");
    const std::string folder = dir.file("folder.txt");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(TestFileLine(folder, "."), folder + " does not exist");

    // A pipe is found but cannot be read as a file; testing it does not wait for a writer.
    const std::string pipe = dir.file("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(TestFileLine(pipe, "."), pipe + " found - could not access file");

    // A path with a NUL byte must not be shortened to one that exists.
    const std::string file = dir.file("a.txt");
    WriteFileBytes(file, "abc");
    EXPECT_EQ(TestFileLine(file + std::string(1, '\0') + "x", ".").find(" does not exist") !=
                  std::string::npos,
              true);
}

TEST(FileInfo, UnreadableFileIsFoundButNotAccessibleWhileReadOnlyIsFine) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string readOnly = dir.file("readonly.txt");
    const std::string unreadable = dir.file("secret.txt");
    WriteFileBytes(readOnly, "hello");
    WriteFileBytes(unreadable, "hello");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(unreadable.c_str(), 0000), 0);

    auto check = [&] {
        EXPECT_EQ(TestFileLine(readOnly, "."), readOnly + " found - size: 5 - type: text/plain");
        EXPECT_EQ(ExamineFile(unreadable, ".").size, -1);
        EXPECT_EQ(TestFileLine(unreadable, "."), unreadable + " found - could not access file");
    };
    if (::geteuid() != 0) {
        check();
        return;
    }
    // Root reads anything: run the check with the rights of user "nobody".
    tandrel::test::EffectiveUser nobody(tandrel::test::kNobodyUid);
    if (!nobody.ok())
        GTEST_SKIP() << "running as root and cannot switch to user nobody: root can read the "
                        "unreadable file, so the test would prove nothing";
    check();
}

TEST(FileTestLines, PlaceholderPathsAreTestedOncePerEntry) {
    TempDir dir;
    WriteFileBytes(dir.file("Ann.txt"), "0123456789");
    WriteFileBytes(dir.file("plain.txt"), "");

    Database db;
    db.fields = {Field{"name"}, Field{"email"}, Field{"city"}};
    for (const char* name : {"Ann", "Bob", "Cy"}) {
        Person& e = db.appendEntry();
        e.setName(name);
        e.setEmail(std::string(name) + "@example.org");
        e.values = {name, e.email(), "Oslo"};
    }
    const std::string templ = dir.file("[name].txt");
    const std::vector<Attachment> attachments = {MakeAttachment(templ),
                                                 MakeAttachment(dir.file("plain.txt"))};

    const std::vector<std::string> lines = FileTestLines(attachments, &db, ".");
    const std::vector<std::string> expected = {
        dir.file("Ann.txt") + " found - size: 10 - type: text/plain",
        dir.file("Bob.txt") + " does not exist",
        dir.file("Cy.txt") + " does not exist",
        dir.file("plain.txt") + " found - size: 0 - type: text/plain",
    };
    EXPECT_EQ(lines, expected);
    // The same test row by row: whose file it is and whether it can be sent. A person
    // known only by address is named by it.
    db.entries[2]->setName("");
    db.entries[2]->values[0].clear();
    std::vector<std::string> lines2 = expected;
    lines2[2] = dir.file(".txt") + " does not exist";
    const std::vector<FileTestRow> rows = FileTestRows(attachments, &db, ".");
    ASSERT_EQ(rows.size(), 4u);
    const struct {
        const char* person;
        bool usable;
    } who[] = {{"Ann", true}, {"Bob", false}, {"Cy@example.org", false}, {"", true}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].person, who[i].person) << i;
        EXPECT_EQ(rows[i].usable, who[i].usable) << i;
        EXPECT_EQ(rows[i].line, lines2[i]) << i;
    }

    // Every entry counts, recipient or not; the template itself is never changed.
    EXPECT_EQ(attachments[0].path, templ);

    // No entries, or no database at all: the unmerged path, once.
    Database empty;
    empty.fields = db.fields;
    for (const Database* noEntries : {&empty, static_cast<Database*>(nullptr)}) {
        const std::vector<std::string> one = FileTestLines({MakeAttachment(templ)}, noEntries, ".");
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(one[0], templ + " does not exist");
    }
    EXPECT_TRUE(FileTestLines({}, &db, ".").empty());
}

// A value that would lead a path out of its folder is that person's error, even when
// the file it leads to exists; a path that is a placeholder alone takes whole paths.
TEST(FileTestLines, ValuesLeavingTheFolderAreErrorsOfTheirPerson) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("inv"));
    WriteFileBytes(dir.file("secret.pdf"), "%PDF");
    WriteFileBytes(dir.file("inv/Ann.pdf"), "%PDF");
    Database db;
    db.fields = {Field{"name"}, Field{"email"}, Field{"file"}};
    for (const char* file : {"Ann", "../secret"}) {
        Person& e = db.appendEntry();
        e.setName(std::string("P ") + file);
        e.setEmail("p@example.org");
        e.values = {e.name(), e.email(), file};
    }
    const std::vector<FileTestRow> rows =
        FileTestRows({MakeAttachment(dir.file("inv/[file].pdf")), MakeAttachment("[email]")}, &db,
                     ".");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_TRUE(rows[0].usable);
    EXPECT_FALSE(rows[1].usable);
    EXPECT_EQ(rows[1].person, "P ../secret");
    EXPECT_EQ(rows[1].line, "the value \"../secret\" would lead the attachment path " +
                                dir.file("inv/[file].pdf") + " out of its folder");
    EXPECT_EQ(rows[2].line, "p@example.org does not exist");
}

TEST(FileTestLines, BracketsInAnyOrderMakeAPathAPlaceholderPath) {
    const struct {
        const char* path;
        bool placeholders;
    } cases[] = {
        {"/a/[name].txt", true}, {"/a/]x[.txt", true},    {"/a/[name.txt", false},
        {"/a/name].txt", false}, {"/a/plain.txt", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathHasPlaceholders(c.path), c.placeholders) << c.path;
}

} // namespace
