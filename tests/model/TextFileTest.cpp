#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Errors.h"
#include "TestSupport.h"
#include "TextFile.h"

using namespace tandrel;
using Lines = std::vector<std::string>;

TEST(TextFile, SplitsOnEveryLineEnd) {
    struct Case {
        std::string text;
        Lines want;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\n", {"a", ""}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {std::string("ab\0cd\r\nef", 9), {"ab"}},
        {"\xe9t\xe9\r\n", {"\xe9t\xe9"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitTextLines(c.text), c.want) << c.text;
}

TEST(TextFile, WritesCrLfAfterEveryLineAndReadsBack) {
    test::TempDir dir;
    const Lines lines = {"one", "", "  three ;x", "\xe9"};
    WriteTextFile(dir.file("f.txt"), lines);
    EXPECT_EQ(test::ReadFileBytes(dir.file("f.txt")), "one\r\n\r\n  three ;x\r\n\xe9\r\n");
    EXPECT_EQ(ReadTextFile(dir.file("f.txt")), lines);
    WriteTextFile(dir.file("f.txt"), {});
    EXPECT_EQ(test::ReadFileBytes(dir.file("f.txt")), "");
}

TEST(TextFile, FailuresCarryTheUserMessage) {
    test::TempDir dir;
    const std::string missing = dir.file("missing.txt");
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Neither may hang the program: a pipe without a writer, an endless device.
    for (const std::string& path : {missing, pipe, dir.path(), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        try {
            ReadTextFile(path);
            FAIL();
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
        }
    }
    const std::string bad = dir.file("no/such/dir/x.txt");
    try {
        WriteTextFile(bad, {"x"});
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + bad);
    }
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(FileExists(dir.path())); // a directory is no file
}
