// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "model/Errors.h"
#include "model/Settings.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"

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
    test::TempDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(SplitTextLines(c.text), c.want) << c.text;
        if (c.text.find('\0') != std::string::npos) continue;
        // Read from a file in pieces, with the line ends falling on a piece's edge.
        for (std::size_t pad : {std::size_t{0}, std::size_t{65534}, std::size_t{65535},
                                std::size_t{65536}, std::size_t{131071}}) {
            Lines want = c.want;
            if (want.empty() && pad > 0) want.emplace_back();
            if (pad > 0) want.front().insert(0, pad, 'x');
            test::WriteFileBytes(dir.file("t.txt"), std::string(pad, 'x') + c.text);
            Lines got;
            ReadUserTextLines(dir.file("t.txt"), [&](std::string_view l) { got.emplace_back(l); });
            EXPECT_EQ(got, want) << c.text << " after " << pad;
        }
    }
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
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + bad + ": No such file or directory");
    }
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(FileExists(dir.path())); // a directory is no file
}

namespace {

// A full disk: a 64 KiB tmpfs, when this process may mount one.
class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::string& dir) : dir_(dir) {
        ::mkdir(dir.c_str(), 0755);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

// Writes past 64 KiB fail with EFBIG for any user.
class FileSizeLimit {
public:
    FileSizeLimit() {
        old_signal_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = 64 * 1024;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_signal_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*old_signal_)(int) = nullptr;
    bool ok_ = false;
};

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

} // namespace

TEST(SafeFile, FailedWritesLeaveTheOldBytes) {
    test::TempDir tmp;
    const std::string big(200 * 1024, 'x');
    const Lines bigLines(3, big);
    struct Mode {
        const char* what;
        std::function<bool(const std::string& dir)> arm; // false: not possible here
        std::string reason;
    };
    std::unique_ptr<SmallTmpfs> fs;
    std::unique_ptr<FileSizeLimit> limit;
    const Mode modes[] = {
        {"full disk",
         [&](const std::string& d) { return (fs = std::make_unique<SmallTmpfs>(d))->ok(); },
         "No space left on device"},
        {"file size limit",
         [&](const std::string& d) {
             ::mkdir(d.c_str(), 0755);
             return (limit = std::make_unique<FileSizeLimit>())->ok();
         },
         "File too large"},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.what);
        const std::string d = tmp.file(m.what);
        const std::string path = d + "/db.txt";
        const std::string ini = d + "/Tandrel.ini";
        const std::string old = "Ann;ann@x\r\nBob;bob@x\r\n";
        const std::string oldIni = "[Network]\r\nsmtp=relay\r\n";
        if (!m.arm(d)) {
            fs.reset(), limit.reset();
            continue; // no mount rights: the size limit covers the same paths
        }
        test::WriteFileBytes(path, old);
        test::WriteFileBytes(ini, oldIni);
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

        const std::string want = "Cannot create file " + path + ": " + m.reason;
        EXPECT_EQ(test::ErrorText<FileError>([&] { WriteTextFile(path, bigLines); }), want);
        EXPECT_EQ(test::ErrorText<FileError>([&] { AppendTextFile(path, bigLines); }), want);
        // A partly written append is cut back to the old end.
        EXPECT_EQ(test::ReadFileBytes(path), old);
        Profile profile(ini);
        EXPECT_FALSE(profile.writeString("Network", "name", big));
        EXPECT_EQ(profile.lastError(), m.reason == "File too large" ? EFBIG : ENOSPC);
        EXPECT_EQ(test::ReadFileBytes(ini), oldIni);
        EXPECT_EQ(EntriesIn(d), 2u); // no temporary file left behind

        // What fits goes through, and the file keeps its permissions.
        WriteTextFile(path, {"Cy;cy@x"});
        AppendTextFile(path, {"Di;di@x", ""});
        EXPECT_EQ(test::ReadFileBytes(path), "Cy;cy@x\r\nDi;di@x\r\n\r\n");
        struct stat sb {};
        ASSERT_EQ(::stat(path.c_str(), &sb), 0);
        EXPECT_EQ(sb.st_mode & 07777, 0640u);
        EXPECT_EQ(EntriesIn(d), 2u);
        fs.reset(), limit.reset();
    }
}
