// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a desktop meets it: installed into a prefix by `cmake --install`, its
// files judged by the desktop's own validators, its settings kept per user, and started
// where there is no display at all.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <filesystem>
#include <string>

#include "tests/app/ChildProcess.h"
#include "tests/support/TestSupport.h"

namespace {

using tandrel::test::Outcome;
using tandrel::test::ReadFileBytes;
using tandrel::test::RunChild;
using tandrel::test::TempDir;
namespace fs = std::filesystem;

// Only what a login shell without a desktop session has.
QProcessEnvironment BareEnvironment() {
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
    return env;
}

// The only file of `folder` whose name ends in `suffix`.
std::string OnlyFile(const fs::path& folder, const std::string& suffix) {
    std::string found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(suffix)) continue;
        EXPECT_TRUE(found.empty()) << "more than one " << suffix << " in " << folder;
        found = name;
    }
    return found;
}

std::string Captured(const std::string& text, const char* pattern) {
    const auto m = QRegularExpression(pattern, QRegularExpression::MultilineOption)
                       .match(QString::fromStdString(text));
    return m.hasMatch() ? m.captured(1).toStdString() : std::string();
}

TEST(DesktopInstall, ValidatorsPassAndTheInstalledProgramKeepsItsSettingsPerUser) {
    TempDir prefix;
    const Outcome install = RunChild(
        "cmake",
        {"--install", TANDREL_BINARY_DIR, "--prefix", QString::fromStdString(prefix.path())},
        QProcessEnvironment::systemEnvironment());
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    const fs::path share = fs::path(prefix.path()) / "share";
    const std::string desktop = OnlyFile(share / "applications", ".desktop");
    const std::string metainfo = OnlyFile(share / "metainfo", ".metainfo.xml");
    ASSERT_FALSE(desktop.empty());
    ASSERT_FALSE(metainfo.empty());

    const Outcome entryCheck =
        RunChild("desktop-file-validate",
                 {QString::fromStdString((share / "applications" / desktop))}, BareEnvironment());
    EXPECT_EQ(entryCheck.status, 0);
    // Hints and warnings leave its status at 0: any output at all is a finding.
    EXPECT_EQ(entryCheck.out + entryCheck.err, "");
    const Outcome metaCheck =
        RunChild("appstreamcli",
                 {"validate", "--no-net", QString::fromStdString((share / "metainfo" / metainfo))},
                 BareEnvironment());
    EXPECT_EQ(metaCheck.status, 0) << metaCheck.out << metaCheck.err;

    // The three files name each other: the metadata launches the entry, whose name is the
    // component's id, and the entry's icon is installed under that name.
    const std::string entryText = ReadFileBytes(share / "applications" / desktop);
    const std::string metaText = ReadFileBytes(share / "metainfo" / metainfo);
    const std::string id = Captured(metaText, "<id>([^<]+)</id>");
    EXPECT_EQ(desktop, id + ".desktop");
    EXPECT_EQ(Captured(metaText, "<launchable type=\"desktop-id\">([^<]+)<"), desktop);
    const std::string icon = Captured(entryText, "^Icon=(.+)$");
    EXPECT_TRUE(fs::is_regular_file(share / "icons/hicolor/scalable/apps" / (icon + ".svg")))
        << icon;
    EXPECT_EQ(Captured(entryText, "^MimeType=(.+)$"), "text/csv;");

    // Installed: the settings and logs go to the user's folder even though the bin folder
    // may be written to; a copy of the same program elsewhere keeps them beside itself.
    const fs::path bin = fs::path(prefix.path()) / "bin";
    const fs::path portable = fs::path(prefix.path()) / "portable";
    fs::create_directory(portable);
    fs::copy_file(bin / "tandrel", portable / "tandrel");
    QProcessEnvironment env = BareEnvironment();
    env.insert("HOME", QString::fromStdString(prefix.file("home")));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(prefix.file("config")));
    struct Case {
        fs::path program;
        std::string folder;
    };
    const Case cases[] = {{bin / "tandrel", prefix.file("config") + "/tandrel"},
                          {portable / "tandrel", portable.string()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program.string());
        const Outcome help = RunChild(QString::fromStdString(c.program.string()), {"--help"}, env);
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_NE(help.out.find("\n  " + c.folder + "\n"), std::string::npos) << help.out;
        EXPECT_TRUE(fs::is_directory(c.folder));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 1);
}

TEST(DesktopInstall, WithoutADisplayTheWindowExplainsItselfInsteadOfAborting) {
    struct Case {
        const char* what;
        const char* display; // nullptr: not set
        QStringList args;
    };
    const Case cases[] = {
        {"nothing names a display", nullptr, {}},
        {"a file to open", nullptr, {"people.csv"}},
        {"a display that is not there", ":987", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QProcessEnvironment env = BareEnvironment();
        if (c.display) env.insert("DISPLAY", c.display);
        const Outcome o = RunChild(TANDREL_PROGRAM, c.args, env);
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find("no display: use `tandrel send` to run a mailing without windows"),
                  std::string::npos)
            << o.err;
        EXPECT_EQ(o.err.find("Reinstalling"), std::string::npos) << o.err;
    }
}

} // namespace
