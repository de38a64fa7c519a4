// SPDX-License-Identifier: GPL-3.0-or-later
// The real program on a virtual display, driven through the desktop accessibility bus as
// a screen reader would drive it (see main_atspi_check.py).
#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace tandrel::test {
namespace {

bool Executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

TEST(MainWindowAtspi, ControlsAreFoundByNameAndMoveAllWorksThroughTheBus) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/dbus-run-session", "/usr/bin/python3",
                             "/usr/libexec/at-spi-bus-launcher"})
        if (!Executable(tool))
            GTEST_SKIP() << "accessibility bus check skipped: " << tool << " is missing";

    // The program keeps its settings beside itself, so it runs from a directory of its own.
    TempDir dir;
    const std::string program = dir.file("tandrel");
    std::error_code ec;
    std::filesystem::create_hard_link(TANDREL_BINARY_DIR "/tandrel", program, ec);
    if (ec) std::filesystem::copy_file(TANDREL_BINARY_DIR "/tandrel", program);
    WriteFileBytes(dir.file("fields.txt"), "name\r\nemail\r\n");
    WriteFileBytes(dir.file("people.txt"), "Ann;ann@x\r\nBob;bob@x\r\nCid;cid@x\r\n");
    WriteFileBytes(dir.file("Tandrel.ini"), "[User]\r\nlastfields=" + dir.file("fields.txt") +
                                                "\r\nlastdb=" + dir.file("people.txt") + "\r\n");

    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(QStringLiteral("/usr/bin/dbus-run-session"),
                {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                 QStringLiteral(TANDREL_SOURCE_DIR "/tests/ui/main_atspi_check.py"),
                 QString::fromStdString(program)});
    ASSERT_TRUE(check.waitForStarted(10000));
    ASSERT_TRUE(check.waitForFinished(150000)) << "the accessibility check did not finish";
    const std::string output = check.readAll().toStdString();
    if (check.exitCode() == 77)
        GTEST_SKIP() << "accessibility bus check skipped: the bus could not start\n" << output;
    EXPECT_EQ(check.exitCode(), 0) << output;
}

} // namespace
} // namespace tandrel::test
