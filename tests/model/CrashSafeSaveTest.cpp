// SPDX-License-Identifier: GPL-3.0-or-later
// A save stopped at any moment leaves the old or the new content, never a mix: shown with
// a process killed in the middle of its saves, and with the order of the system calls
// recorded through the file layer's seam.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/HostileText.h"
#include "model/SafeFile.h"
#include "tests/model/SaveContent.h"
#include "tests/support/TestSupport.h"

extern char** environ;

using namespace tandrel;
using tandrel::test::SaveContent;
using tandrel::test::TempDir;

namespace {

pid_t StartChild(std::vector<std::string> args) {
    args.insert(args.begin(), SAVE_CHILD);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, SAVE_CHILD, nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// The wait status of the child.
int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The names in the folder other than `keep`: what a save left behind.
std::vector<std::string> LeftOver(const std::string& dir, const std::string& keep) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename() != keep) out.push_back(e.path().filename());
    return out;
}

} // namespace

// A save killed by the file-size limit at a random byte leaves the old file whole; with
// the limit's signal ignored the save fails, says so and leaves nothing behind.
TEST(CrashSafeSave, SaveStoppedAtAnyByteLeavesTheOldOrTheNewFile) {
    const test::SeededRun run;
    std::mt19937_64 rng(run.seed);
    TempDir dir;
    const std::string target = dir.file("people.txt");
    const std::string old = SaveContent('O', 70000);
    const std::size_t newSize = 300000;
    for (int round = 0; round < 6; ++round) {
        for (const char* mode : {"limit", "full"}) {
            // Over the new size once: the save then completes.
            const std::size_t limit = round == 0 ? newSize + 1 : rng() % newSize;
            SCOPED_TRACE(std::string(mode) + " at " + std::to_string(limit));
            test::WriteFileBytes(target, old);
            const pid_t pid = StartChild({mode, std::to_string(limit), target,
                                          std::to_string(newSize)});
            ASSERT_GT(pid, 0);
            const int status = WaitFor(pid);
            const std::string now = test::ReadFileBytes(target);
            if (limit > newSize) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                EXPECT_TRUE(now == SaveContent('N', newSize)) << now.size() << " bytes";
                EXPECT_EQ(LeftOver(dir.path(), "people.txt"), std::vector<std::string>{});
            } else if (std::string_view(mode) == "limit") {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
                EXPECT_TRUE(now == old) << now.size() << " bytes";
                for (const std::string& name : LeftOver(dir.path(), "people.txt")) {
                    EXPECT_TRUE(name.starts_with(".people.txt.tmp-")) << name;
                    std::filesystem::remove(dir.file(name));
                }
            } else {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
                EXPECT_TRUE(now == old) << now.size() << " bytes";
                EXPECT_EQ(LeftOver(dir.path(), "people.txt"), std::vector<std::string>{});
            }
        }
    }
}

// A process saving two contents in turn, killed at random moments: the file is always
// one of them, whole.
TEST(CrashSafeSave, KilledWhileSavingLeavesOneWholeContent) {
    const test::SeededRun run;
    std::mt19937_64 rng(run.seed);
    TempDir dir;
    const std::string target = dir.file("Tandrel.ini");
    const std::size_t sizeA = 400000, sizeB = 900000;
    const std::string a = SaveContent('A', sizeA), b = SaveContent('B', sizeB);
    int sawB = 0;
    for (int round = 0; round < 12; ++round) {
        test::WriteFileBytes(target, a);
        const pid_t pid =
            StartChild({"loop", target, std::to_string(sizeA), std::to_string(sizeB)});
        ASSERT_GT(pid, 0);
        // Once the first save is through, the child is saving all the time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (test::ReadFileBytes(target).size() != sizeB &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(pid, SIGKILL);
        const int status = WaitFor(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        const std::string now = test::ReadFileBytes(target);
        EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
        sawB += now == b;
        for (const std::string& name : LeftOver(dir.path(), "Tandrel.ini"))
            std::filesystem::remove(dir.file(name));
    }
    EXPECT_GT(sawB, 0);
}

namespace {

// Records every call of a save, and fails the one named by `failing` (with `err`).
class RecordingCalls : public FileCalls {
public:
    std::vector<std::string> log;
    std::string failing;
    int err = 0;
    std::size_t writeChunk = 0; // the most one write takes; 0: all

    int open(const char* path, int flags, mode_t mode) override {
        if (fails("open")) return -1;
        const int fd = FileCalls::open(path, flags, mode);
        names_[fd] = (flags & O_DIRECTORY) ? "folder" : "temp";
        log.push_back("open " + names_[fd]);
        return fd;
    }
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (fails("write")) return -1;
        const std::size_t take = writeChunk == 0 ? size : std::min(size, writeChunk);
        const ssize_t n = FileCalls::write(fd, data, take);
        log.push_back("write " + names_[fd]);
        return n;
    }
    int fsync(int fd) override {
        if (fails("fsync " + names_[fd])) return -1;
        log.push_back("fsync " + names_[fd]);
        return FileCalls::fsync(fd);
    }
    int close(int fd) override {
        log.push_back("close " + names_[fd]);
        return FileCalls::close(fd);
    }
    int rename(const char* from, const char* to) override {
        if (fails("rename")) return -1;
        log.push_back("rename");
        return FileCalls::rename(from, to);
    }
    int unlink(const char* path) override {
        log.push_back("unlink");
        return FileCalls::unlink(path);
    }

private:
    bool fails(const std::string& call) {
        if (call != failing) return false;
        log.push_back(call + " fails");
        errno = err;
        return true;
    }
    std::map<int, std::string> names_;
};

} // namespace

// The data is written whole and flushed before the rename makes it the file; any call
// that fails before the rename leaves the old file and no temporary one.
TEST(CrashSafeSave, WriteFlushRenameInThatOrder) {
    TempDir dir;
    const std::string target = dir.file("db.txt");
    const std::string data = SaveContent('N', 10000);
    struct Case {
        std::string failing;
        int err;
        std::vector<std::string> calls; // writes of one chunk shown once
    };
    const Case cases[] = {
        {"", 0,
         {"open temp", "write temp", "fsync temp", "close temp", "rename", "open folder",
          "fsync folder", "close folder"}},
        {"write", ENOSPC, {"open temp", "write fails", "close temp", "unlink"}},
        {"fsync temp", EIO, {"open temp", "write temp", "fsync temp fails", "close temp", "unlink"}},
        {"rename", EXDEV,
         {"open temp", "write temp", "fsync temp", "close temp", "rename fails", "unlink"}},
        {"open", EMFILE, {"open fails"}},
        // Flushing the folder is a courtesy: the save has already taken place.
        {"fsync folder", EINVAL,
         {"open temp", "write temp", "fsync temp", "close temp", "rename", "open folder",
          "fsync folder fails", "close folder"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        test::WriteFileBytes(target, "old");
        RecordingCalls calls;
        calls.failing = c.failing;
        calls.err = c.err;
        calls.writeChunk = 999; // short writes: every byte must still go out
        const bool saved = c.failing.empty() || c.failing == "fsync folder";
        EXPECT_EQ(ReplaceFileContent(target, data, calls), saved ? 0 : c.err);
        std::vector<std::string> calls1;
        for (const std::string& call : calls.log)
            if (calls1.empty() || calls1.back() != call || call != "write temp")
                calls1.push_back(call);
        EXPECT_EQ(calls1, c.calls);
        EXPECT_TRUE(test::ReadFileBytes(target) == (saved ? data : "old"));
        EXPECT_EQ(LeftOver(dir.path(), "db.txt"), std::vector<std::string>{});
    }
}
