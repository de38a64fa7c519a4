// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Send and `tandrel send` are one mailing run: on the same files and
// settings they put the same bytes on the wire and leave the same files behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "model/CsvFile.h"
#include "ui/mailing/DeliveryWindow.h"
#include "model/MailFile.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/SendLauncher.h"
#include "model/Settings.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"
#include "tests/support/WireText.h"

using namespace tandrel;
using namespace tandrel::test;
namespace fs = std::filesystem;

namespace {

const char* const kPeople = "Name;EMail;City\r\n"
                            "Ann Archer;ann@example.test;Lisbon\r\n"
                            "Bob Baker;bob@example.test;Oslo\r\n"
                            "Chlo\xC3\xA9 Martin;chloe@example.test;\"K\xC3\xB8"
                            "benhavn, DK\"\r\n";
const char* const kMail = "From: \"Club\" <club@sender.test>\r\n"
                          "To: \"[name]\" <[email]>\r\n"
                          "Subject: News for [City]\r\n"
                          "\r\n"
                          "Dear [name],\r\n"
                          ".a line that needs dot-stuffing\r\n";

std::string Settings(const std::string& port) {
    return "[Network]\r\nsmtp=127.0.0.1\r\nport=" + port +
           "\r\nname=Club\r\nfromaddy=club@sender.test\r\ntimeout=30\r\n";
}

// The sent log without its date line.
std::vector<std::string> SentLogAfterDate(const std::string& path) {
    std::vector<std::string> lines = SplitTextLines(ReadFileBytes(path));
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
}

// Send pressed in the window: the files loaded as the window loads them, the two windows
// of a run shown (offscreen), the delivery window closed once the run has ended. Returns
// the lines of its report.
std::vector<std::string> SendFromTheWindow(const std::string& folder, const std::string& data) {
    AppState st;
    st.programDir = folder;
    st.computerName = ComputeLocalComputerName();
    WindowGeometry geo;
    ReadSettings(Profile(st.iniPath()), st.prefs, st.user, geo);
    LoadCsvDatabase(st, data + "/people.csv");
    MailEditors eds;
    EXPECT_TRUE(LoadMail(st, data + "/mail.txt", eds));
    std::vector<Person*> rows;
    for (const EntryPtr& entry : st.db->entries)
        rows.push_back(entry.get());

    QWidget main;
    auto* preparation = new PreparationWindow(&main);
    auto* delivery = new DeliveryWindow(&main);
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [delivery] {
        if (delivery->isVisible() && delivery->closeButton->isEnabled())
            delivery->closeButton->click();
        // Any other window (an error box, the check before sending) is a failure.
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != delivery && !qobject_cast<PreparationWindow*>(modal)) {
            ADD_FAILURE() << modal->metaObject()->className() << " "
                          << modal->objectName().toStdString();
            modal->close();
        }
    });
    closer.start();
    RunMailing({&main, preparation, delivery}, st, rows, eds, false);
    std::vector<std::string> report;
    for (const QString& line : delivery->reportMemo->toPlainText().split(QLatin1Char('\n')))
        report.push_back(line.toStdString());
    return report;
}

// Returns what it said on stderr, line by line.
std::vector<std::string> SendFromTheCommandLine(const std::string& folder,
                                                const std::string& data) {
    fs::copy_file(TANDREL_PROGRAM, folder + "/tandrel");
    fs::permissions(folder + "/tandrel", fs::perms::owner_all);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    env.insert("HOME", QString::fromStdString(folder));
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(folder + "/tandrel"),
            {"send", "--db", QString::fromStdString(data + "/people.csv"), "--mail",
             QString::fromStdString(data + "/mail.txt")});
    EXPECT_TRUE(p.waitForFinished(120000));
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 1) << err; // Bob was refused, or nobody reached
    return SplitTextLines(err);
}

} // namespace

TEST(SameRun, TheWindowAndTheCommandLineSendTheSameBytesAndWriteTheSameFiles) {
    AiosmtpdOptions options;
    options.refused = {"bob@example.test"}; // one outcome of each kind the run records
    // A server each, so that their replies (which count the messages) are the same.
    AiosmtpdServer windowServer(options), commandLineServer(options);
    TempDir data, window, commandLine;
    WriteFileBytes(data.file("people.csv"), kPeople);
    WriteFileBytes(data.file("mail.txt"), kMail);
    WriteFileBytes(window.file("Tandrel.ini"), Settings(windowServer.portText()));
    WriteFileBytes(commandLine.file("Tandrel.ini"), Settings(commandLineServer.portText()));

    SendFromTheWindow(window.path(), data.path());
    SendFromTheCommandLine(commandLine.path(), data.path());
    ASSERT_TRUE(windowServer.waitForMessages(2));
    ASSERT_TRUE(commandLineServer.waitForMessages(2));

    const std::vector<StoredMessage> fromWindow = windowServer.messages();
    const std::vector<StoredMessage> fromCommandLine = commandLineServer.messages();
    ASSERT_EQ(fromWindow.size(), 2u);
    ASSERT_EQ(fromCommandLine.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(fromWindow[i].mailFrom, fromCommandLine[i].mailFrom);
        EXPECT_EQ(fromWindow[i].rcptTo, fromCommandLine[i].rcptTo);
        EXPECT_NE(fromWindow[i].data.find("Date: "), std::string::npos);
        EXPECT_EQ(WithoutDateAndId(fromWindow[i].data), WithoutDateAndId(fromCommandLine[i].data));
    }
    EXPECT_EQ(fromWindow[1].rcptTo, std::vector<std::string>{"chloe@example.test"});

    const std::vector<std::string> sent = SentLogAfterDate(window.file("Tandrel.snt"));
    EXPECT_EQ(sent, SentLogAfterDate(commandLine.file("Tandrel.snt")));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "ann@example.test"), 1);
    const std::string runLog = ReadFileBytes(window.file("Tandrel.log"));
    EXPECT_NE(runLog.find("Error, illegal receipient \"bob@example.test\", resuming:"),
              std::string::npos);
    EXPECT_EQ(runLog, ReadFileBytes(commandLine.file("Tandrel.log")));
    const std::string results = ReadFileBytes(window.file("Tandrel.run"));
    EXPECT_FALSE(results.empty());
    EXPECT_EQ(results, ReadFileBytes(commandLine.file("Tandrel.run")));
}

// A connection the relay's port refuses: the window's report and `tandrel send` say it in
// the same words, the server and port tried and where they are set among them.
TEST(SameRun, ARefusedConnectionIsToldInTheSameWords) {
    TempDir data, window, commandLine;
    const std::string port = std::to_string(UnusedLoopbackPort());
    WriteFileBytes(data.file("people.csv"), kPeople);
    WriteFileBytes(data.file("mail.txt"), kMail);
    WriteFileBytes(window.file("Tandrel.ini"), Settings(port));
    WriteFileBytes(commandLine.file("Tandrel.ini"), Settings(port));

    const std::vector<std::string> report = SendFromTheWindow(window.path(), data.path());
    std::vector<std::string> said = SendFromTheCommandLine(commandLine.path(), data.path());
    // The command line's summary line and its own prefix are its own; the rest are the
    // problems it heard.
    said.erase(std::remove_if(said.begin(), said.end(),
                              [](const std::string& l) { return l.rfind("tandrel:", 0) == 0; }),
               said.end());
    ASSERT_FALSE(said.empty());
    const auto at = std::search(report.begin(), report.end(), said.begin(), said.end());
    EXPECT_NE(at, report.end()) << "the window's report does not hold the command line's lines";
    const std::string where = "The server 127.0.0.1 did not accept a connection on port " + port;
    EXPECT_TRUE(std::any_of(said.begin(), said.end(),
                            [&](const std::string& l) { return l.rfind(where, 0) == 0; }));
}
