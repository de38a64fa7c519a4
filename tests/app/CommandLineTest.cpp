// SPDX-License-Identifier: GPL-3.0-or-later
// `tandrel send` as scripts run it: the real program as a child process with no display,
// its messages read back by Python's e-mail parser and a real SMTP server.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "model/AppState.h"
#include "tests/app/ChildProcess.h"
#include "tests/support/FakeSmtpServer.h"
#include "tests/support/IdentityProvider.h"
#include "keyring/Keyring.h"
#include "model/RunResults.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

namespace {

using tandrel::test::Outcome;
using tandrel::test::ReadFileBytes;
using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;
namespace fs = std::filesystem;

// A copy of the program in a folder of its own, which therefore holds its settings and logs.
class Program {
public:
    Program() {
        fs::copy_file(TANDREL_PROGRAM, dir.file("tandrel"));
        fs::permissions(dir.file("tandrel"), fs::perms::owner_all);
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    const std::string& folder() const { return dir.path(); }
    void settings(const std::string& port) {
        WriteFileBytes(file("Tandrel.ini"), "[Network]\r\nsmtp=127.0.0.1\r\nport=" + port +
                                                "\r\nname=Club\r\nfromaddy=club@sender.test\r\n");
    }
    // `whileRunning`, when given, is called once the program has started.
    Outcome run(const QStringList& args,
                const std::function<void(QProcess&)>& whileRunning = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("HOME", QString::fromStdString(dir.path()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.file("config")));
        return tandrel::test::RunChild(QString::fromStdString(file("tandrel")), args, env,
                                       QString::fromStdString(dir.path()), whileRunning);
    }

private:
    TempDir dir;
};

const char* const kPeopleCsv =
    "\xEF\xBB\xBFName;EMail;City\r\n"
    "\"Smith, Anna\";anna@example.test;\"Main St 1\r\nSpringfield\"\r\n"
    "Bob Builder;bob@example.test;\"The \"\"Yard\"\", Z\xC3\xBCrich\"\r\n"
    "Chlo\xC3\xA9 Martin;chloe+news@example.test;K\xC3\xB8"
    "benhavn, DK\r\n";

const char* const kMail = "From: \"Club\" <club@sender.test>\r\n"
                          "To: \"[name]\" <[email]>\r\n"
                          "Subject: News for [name]\r\n"
                          "\r\n"
                          "Dear [name],\r\n"
                          "you live in [City].\r\n"
                          ".a line that needs dot-stuffing\r\n";

struct Expected {
    std::string file, name, address, city;
};
const std::vector<Expected> kExpected = {
    {"00001-anna@example.test.eml", "Smith, Anna", "anna@example.test", "Main St 1\\nSpringfield"},
    {"00002-bob@example.test.eml", "Bob Builder", "bob@example.test",
     "The \"Yard\", Z\xC3\xBCrich"},
    {"00003-chloe+news@example.test.eml", "Chlo\xC3\xA9 Martin", "chloe+news@example.test",
     "K\xC3\xB8"
     "benhavn, DK"},
};

// `files`: "NAME=PATH" for attachments whose bytes must equal the file's.
std::string PythonReading(const std::string& message, const QStringList& files = {}) {
    QProcess p;
    p.start("/usr/bin/python3", QStringList{TANDREL_SOURCE_DIR "/tests/merge/message_check.py",
                                            QString::fromStdString(message)} +
                                    files);
    p.waitForFinished(30000);
    return p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString();
}

// The message without the two lines that differ from one run to the next.
std::string WithoutDateAndId(const std::string& message) {
    std::string out;
    std::size_t pos = 0;
    while (pos < message.size()) {
        std::size_t end = message.find("\r\n", pos);
        end = end == std::string::npos ? message.size() : end + 2;
        const std::string line = message.substr(pos, end - pos);
        if (!line.starts_with("Date: ") && !line.starts_with("Message-ID: ")) out += line;
        pos = end;
    }
    return out;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no system python";
        WriteFileBytes(program.file("people.csv"), kPeopleCsv);
        WriteFileBytes(program.file("mail.txt"), kMail);
    }
    Program program;
};

TEST_F(CommandLine, DryRunWritesEveryMergedMessageAsParseableFiles) {
    program.settings(std::to_string(tandrel::test::UnusedLoopbackPort()));
    // Files of the user's own in the folder, some named much like the messages.
    const std::vector<std::string> others = {"notes.txt",      "draft.eml", "00005-dan.txt",
                                             "x00006-eve.eml", "00007.eml", "2024-invoice.eml",
                                             "00004-dan@x.eml"};
    fs::create_directories(program.file("out/run 1/00008-folder.eml"));
    for (const std::string& name : others)
        WriteFileBytes(program.file("out/run 1/" + name), "keep");
    auto namesIn = [&](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(program.file(folder)))
            if (entry.path().filename() != ".tandrel-dry-run")
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    auto expectedNames = [&](std::size_t messages) {
        std::vector<std::string> names = others;
        names.push_back("00008-folder.eml");
        for (std::size_t i = 0; i < messages; ++i)
            names.push_back(kExpected[i].file);
        std::sort(names.begin(), names.end());
        return names;
    };

    // A second run with fewer people replaces the first run's files and nothing else.
    WriteFileBytes(program.file("one.csv"),
                   std::string(kPeopleCsv).substr(0, std::string(kPeopleCsv).find("Bob")));
    const Outcome first =
        program.run({"send", "--db", "people.csv", "--mail", "mail.txt", "--dry-run", "out/run 1"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(namesIn("out/run 1"), expectedNames(3));
    const Outcome second =
        program.run({"send", "--db", "one.csv", "--mail", "mail.txt", "--dry-run", "out/run 1"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("1 message written to out/run 1, replacing the 3 of the earlier"),
              std::string::npos)
        << second.out;
    EXPECT_EQ(namesIn("out/run 1"), expectedNames(1));
    for (const std::string& name : others)
        EXPECT_EQ(ReadFileBytes(program.file("out/run 1/" + name)), "keep") << name;

    const Outcome o =
        program.run({"send", "--db", "people.csv", "--mail", "mail.txt", "--dry-run", "out/run 1"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("3 messages written"), std::string::npos) << o.out;
    for (std::size_t i = 0; i < kExpected.size(); ++i) {
        const Expected& e = kExpected[i];
        SCOPED_TRACE(e.address);
        const std::string path = program.file("out/run 1/" + e.file);
        const std::string bytes = ReadFileBytes(path);
        // Wire form: CR LF after every line, no bare line feed, not yet dot-stuffed.
        EXPECT_TRUE(bytes.ends_with("\r\n"));
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'),
                  std::count(bytes.begin(), bytes.end(), '\r'));
        if (bytes.find("quoted-printable") == std::string::npos) {
            EXPECT_NE(bytes.find("\r\n.a line that needs"), std::string::npos);
        }

        const std::string read = PythonReading(path);
        EXPECT_NE(read.find("defects: none"), std::string::npos) << read;
        EXPECT_NE(read.find("subject: News for " + e.name + "\n"), std::string::npos) << read;
        EXPECT_NE(read.find("to: " + e.name + " | " + e.address + "\n"), std::string::npos) << read;
        EXPECT_NE(read.find("body: Dear " + e.name + ",\\nyou live in " + e.city + ".\\n"),
                  std::string::npos)
            << read;
    }
    // Nothing was sent, so there is nothing to log.
    EXPECT_FALSE(fs::exists(program.file("Tandrel.snt")));
    EXPECT_FALSE(fs::exists(program.file("Tandrel.log")));
}

// A dry run with warnings only (an address used twice) still writes its files, and
// never writes through links planted under its files' names: the links' targets stay.
TEST_F(CommandLine, DryRunWritesDespiteWarningsAndNeverThroughLinks) {
    program.settings(std::to_string(tandrel::test::UnusedLoopbackPort()));
    WriteFileBytes(program.file("twice.csv"), "name,email,City\r\nAnn,ann@example.test,X\r\n"
                                              "Ann,ann@example.test,Y\r\n");
    fs::create_directories(program.file("out"));
    WriteFileBytes(program.file("precious"), "keep me");
    for (const char* name : {"00001-ann@example.test.eml", ".tandrel-dry-run"})
        fs::create_symlink(program.file("precious"), program.file(std::string("out/") + name));
    fs::create_symlink(program.file("precious"), program.file("out/00002-ann@example.test.eml"));

    const Outcome o =
        program.run({"send", "--db", "twice.csv", "--mail", "mail.txt", "--dry-run", "out"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("warning:"), std::string::npos) << o.err;
    EXPECT_NE(o.out.find("2 messages written"), std::string::npos) << o.out;
    EXPECT_EQ(ReadFileBytes(program.file("precious")), "keep me");
    for (const char* name : {"00001-ann@example.test.eml", "00002-ann@example.test.eml"}) {
        const fs::path path = program.file(std::string("out/") + name);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << name;
        EXPECT_NE(PythonReading(path.string()).find("defects: none"), std::string::npos) << name;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(program.file("out/.tandrel-dry-run"))));

    // A folder under a message's name stops the run, naming it; the send itself still
    // refuses the warnings without --force.
    fs::remove(program.file("out/.tandrel-dry-run"));
    fs::remove(program.file("out/00001-ann@example.test.eml"));
    fs::create_directories(program.file("out/00001-ann@example.test.eml"));
    const Outcome blocked =
        program.run({"send", "--db", "twice.csv", "--mail", "mail.txt", "--dry-run", "out"});
    EXPECT_EQ(blocked.status, 2);
    EXPECT_NE(blocked.err.find("00001-ann@example.test.eml: it is not a regular file"),
              std::string::npos)
        << blocked.err;
    const Outcome send = program.run({"send", "--db", "twice.csv", "--mail", "mail.txt"});
    EXPECT_EQ(send.status, 2) << send.err;
    EXPECT_NE(send.err.find("--force sends anyway"), std::string::npos) << send.err;
}

TEST_F(CommandLine, RefusedPersonFailsTheRunButTheOthersGetTheDryRunBytes) {
    tandrel::test::AiosmtpdOptions options;
    options.refused = {"bob@example.test"};
    tandrel::test::AiosmtpdServer server(options);
    program.settings(server.portText());
    WriteFileBytes(program.file("Tandrel.snt"), "earlier run\r\n");

    const Outcome sent = program.run({"send", "--db", "people.csv", "--mail", "mail.txt"});
    EXPECT_EQ(sent.status, 1) << sent.err;
    EXPECT_NE(sent.out.find("2 of 3 messages accepted"), std::string::npos) << sent.out;
    // The refusal and the server's reason, as lines of their own; none of the dialogue
    // around them, which stays in the run log.
    EXPECT_EQ(sent.err, "Error, illegal receipient \"bob@example.test\", resuming:\n"
                        "550 5.1.1 <bob@example.test>: Recipient address rejected\n");

    const Outcome dry =
        program.run({"send", "--db=people.csv", "--mail=mail.txt", "--dry-run=out"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    const std::vector<tandrel::test::StoredMessage> got = server.messages();
    ASSERT_EQ(got.size(), 2u);
    for (const auto& [message, expected] :
         {std::pair{got[0], kExpected[0]}, {got[1], kExpected[2]}}) {
        EXPECT_EQ(message.rcptTo, std::vector<std::string>{expected.address});
        EXPECT_EQ(message.mailFrom, "club@sender.test");
        EXPECT_EQ(WithoutDateAndId(message.data),
                  WithoutDateAndId(ReadFileBytes(program.file("out/" + expected.file))));
    }

    // This run's lines are added to both logs; what they held before stays.
    const std::string sentLog = ReadFileBytes(program.file("Tandrel.snt"));
    EXPECT_TRUE(sentLog.starts_with("earlier run\r\nMailing started ")) << sentLog;
    EXPECT_NE(sentLog.find("Subject: News for [name]\r\n"), std::string::npos);
    EXPECT_NE(sentLog.find("Mails sent to:\r\nanna@example.test\r\nchloe+news@example.test\r\n"),
              std::string::npos)
        << sentLog;
    EXPECT_EQ(sentLog.find("bob@"), std::string::npos);
    const std::string runLog = ReadFileBytes(program.file("Tandrel.log"));
    EXPECT_NE(runLog.find("bob@example.test"), std::string::npos) << runLog;
    EXPECT_NE(runLog.find("MAIL FROM:<club@sender.test>"), std::string::npos) << runLog;
}

// Ctrl-C, or a scheduler's SIGTERM, in the middle of a slow run: what was accepted is in
// the sent log and the run log as after any run, and the rest is left for another.
TEST_F(CommandLine, StopSignalEndsTheRunAndStillWritesItsLogs) {
    std::string people = "name,email,City\r\n";
    for (int i = 1; i <= 20; ++i)
        people += "P" + std::to_string(i) + ",p" + std::to_string(i) + "@example.test,X\r\n";
    WriteFileBytes(program.file("many.csv"), people);
    for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
        SCOPED_TRACE(name);
        for (const char* log : {"Tandrel.snt", "Tandrel.log", "Tandrel.run"})
            fs::remove(program.file(log));
        tandrel::test::AiosmtpdServer server;
        program.settings(server.portText());
        // One message every ten seconds: the signal comes in the wait after the first.
        WriteFileBytes(program.file("Tandrel.ini"),
                       ReadFileBytes(program.file("Tandrel.ini")) + "rate=6\r\n");
        auto acceptedSoFar = [&] {
            const auto results = tandrel::ReadRunResults(program.file("Tandrel.run"));
            return std::count_if(results.begin(), results.end(), [](const auto& r) {
                return r.outcome == tandrel::Outcome::Accepted;
            });
        };
        const Outcome o =
            program.run({"send", "--db", "many.csv", "--mail", "mail.txt"}, [&](QProcess& p) {
                // Accepted as the program knows it: its results file has the outcome.
                const QDeadlineTimer patience(60000);
                while (acceptedSoFar() == 0 && !p.waitForFinished(50) && !patience.hasExpired()) {
                }
                ::kill(static_cast<pid_t>(p.processId()), signal);
            });
        EXPECT_EQ(o.status, 1) << o.err;
        const std::vector<tandrel::test::StoredMessage> got = server.messages();
        ASSERT_FALSE(got.empty());
        ASSERT_LT(got.size(), 20u);
        EXPECT_EQ(acceptedSoFar(), static_cast<std::ptrdiff_t>(got.size()));
        EXPECT_NE(o.out.find(std::to_string(got.size()) + " of 20 messages accepted"),
                  std::string::npos)
            << o.out;
        EXPECT_EQ(o.err, "tandrel: stopped by " + std::string(name) + ".\n");

        std::string sentTo = "Mails sent to:\r\n";
        for (const auto& message : got) {
            ASSERT_EQ(message.rcptTo.size(), 1u);
            sentTo += message.rcptTo.front() + "\r\n";
        }
        const std::string sentLog = ReadFileBytes(program.file("Tandrel.snt"));
        EXPECT_TRUE(sentLog.starts_with("Mailing started ")) << sentLog;
        EXPECT_TRUE(sentLog.ends_with(sentTo + "\r\n\r\n")) << sentLog;
        const std::string runLog = ReadFileBytes(program.file("Tandrel.log"));
        EXPECT_NE(runLog.find("Mail was sent to: \"p1@example.test\""), std::string::npos)
            << runLog;
        EXPECT_NE(runLog.find("Stopped by " + std::string(name)), std::string::npos) << runLog;
    }
}

// A stop signal while the password is typed unseen ends the program as that signal does,
// and the terminal has its echo back: a shell that does not restore it would otherwise
// show nothing typed from then on. The terminal is a pseudo-terminal Python opens, which
// reads its settings while the question waits and after the program ended.
TEST_F(CommandLine, AStopSignalAtThePasswordQuestionGivesTheTerminalItsEchoBack) {
    program.settings("1");
    WriteFileBytes(program.file("Tandrel.ini"), ReadFileBytes(program.file("Tandrel.ini")) +
                                                    "security=starttls\r\nuser=ann\r\n");
    WriteFileBytes(program.file("mail.txt"), "Subject: hi\r\n\r\nHello [name]\r\n");
    const char* const driver = R"PY(
import os, pty, select, sys, termios, time
program, sig, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
pid, fd = pty.fork()
if pid == 0:
    os.chdir(folder)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TANDREL_PASSWORD",
                        "DBUS_SESSION_BUS_ADDRESS")}
    env.update(HOME=folder, XDG_CONFIG_HOME=folder + "/config")
    os.execve(program, [program, "send", "--db", "people.csv", "--mail", "mail.txt"], env)
seen, deadline = b"", time.time() + 60
while b"Password for ann" not in seen and time.time() < deadline:
    if select.select([fd], [], [], 0.2)[0]:
        try:
            seen += os.read(fd, 4096)
        except OSError:
            break
echo = lambda: int(bool(termios.tcgetattr(fd)[3] & termios.ECHO))
while echo() and time.time() < deadline:
    time.sleep(0.02)
print("hidden", 1 - echo())
os.kill(pid, sig)
_, status = os.waitpid(pid, 0)
print("ended by", os.WTERMSIG(status) if os.WIFSIGNALED(status) else -1)
print("echo", echo())
)PY";
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        QProcess py;
        py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        py.start("/usr/bin/python3",
                 {"-c", driver, QString::fromStdString(program.file("tandrel")),
                  QString::number(signal), QString::fromStdString(program.folder())});
        ASSERT_TRUE(py.waitForFinished(90000));
        EXPECT_EQ(py.readAllStandardOutput().toStdString(),
                  "hidden 1\nended by " + std::to_string(signal) + "\necho 1\n");
    }
}

// Three connections, two of them cut off at their first MAIL FROM: the third delivers
// every message, once, so the run succeeded whatever went wrong on the way.
TEST_F(CommandLine, ConnectionsLostOnTheWayDoNotFailARunThatDeliveredEverything) {
    std::string people = "name,email,City\r\n";
    std::vector<std::string> addresses;
    for (int i = 1; i <= 20; ++i) {
        addresses.push_back("p" + std::to_string(i) + "@example.test");
        people += "P" + std::to_string(i) + "," + addresses.back() + ",X\r\n";
    }
    WriteFileBytes(program.file("many.csv"), people);
    tandrel::test::AiosmtpdOptions options;
    options.dropAtMail = {2, 3};
    tandrel::test::AiosmtpdServer server(options);
    program.settings(server.portText());
    WriteFileBytes(program.file("Tandrel.ini"),
                   ReadFileBytes(program.file("Tandrel.ini")) + "connections=3\r\n");

    const Outcome o = program.run({"send", "--db", "many.csv", "--mail", "mail.txt"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("20 of 20 messages accepted"), std::string::npos) << o.out;
    std::vector<std::string> got;
    for (const auto& message : server.messages()) {
        EXPECT_EQ(message.connection, 1);
        got.insert(got.end(), message.rcptTo.begin(), message.rcptTo.end());
    }
    std::sort(got.begin(), got.end());
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(got, addresses);
}

// The server takes Anna's whole message and never answers its end of data: it may have
// stored it, so the run counts it as unknown, says so, and does not offer it again.
TEST_F(CommandLine, AnUnansweredEndOfDataCountsAsMaybeDelivered) {
    tandrel::test::FakeSmtpServer server;
    tandrel::test::ScriptUnansweredMessage(server, "club@sender.test", "anna@example.test");
    server.start();
    program.settings(server.portText());
    WriteFileBytes(program.file("Tandrel.ini"),
                   ReadFileBytes(program.file("Tandrel.ini")) + "timeout=1\r\n");

    const Outcome o = program.run({"send", "--db", "people.csv", "--mail", "mail.txt"});
    ASSERT_TRUE(server.waitDone());
    EXPECT_TRUE(server.received().ends_with("\r\n.\r\n")) << "the mark went out";
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("0 of 3 messages accepted"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("1 message may have been delivered: anna@example.test"),
              std::string::npos)
        << o.out;

    const auto results = tandrel::ReadRunResults(program.file("Tandrel.run"));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].outcome, tandrel::Outcome::MaybeDelivered);
    EXPECT_EQ(results[1].outcome, tandrel::Outcome::NotAttempted);
    EXPECT_EQ(results[2].outcome, tandrel::Outcome::NotAttempted);
    tandrel::AppState later;
    later.newDatabase();
    for (const auto& r : results) {
        tandrel::Person& entry = later.db->appendEntry();
        entry.setName(r.person.name);
        entry.setEmail(r.person.email);
    }
    const std::vector<tandrel::Person*> notReached{later.db->entries[1].get(),
                                                      later.db->entries[2].get()};
    EXPECT_EQ(tandrel::RecipientsNotReached(*later.db, program.file("Tandrel.run")), notReached);
}

// A server that takes the connection and never speaks (a port that expects encryption
// from the first byte, another service) keeps the run waiting for its greeting; meanwhile
// stderr names the server and port that have not answered, and the run log keeps it.
TEST_F(CommandLine, AServerThatNeverSpeaksIsNamedWhileTheRunWaits) {
    tandrel::test::FakeSmtpServer server;
    server.setStepTimeout(120000);
    server.expectClose(); // nothing sent either way until the client gives up
    server.start();
    program.settings(server.portText());
    const std::string named = "127.0.0.1 has not answered on port " + server.portText();
    std::string said;
    qint64 namedAfterMs = -1;
    const Outcome o =
        program.run({"send", "--db", "people.csv", "--mail", "mail.txt"}, [&](QProcess& p) {
            QElapsedTimer clock;
            clock.start();
            while (namedAfterMs < 0 && clock.elapsed() < 60000 && !p.waitForFinished(100)) {
                said += p.readAllStandardError().toStdString();
                if (said.find(named) != std::string::npos) namedAfterMs = clock.elapsed();
            }
            ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        });
    ASSERT_TRUE(server.waitDone(30000));
    said += o.err;
    ASSERT_GE(namedAfterMs, 0) << "never named within a minute: " << said;
    EXPECT_GE(namedAfterMs, 5000) << "a moment's silence is no news: " << said;
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(o.status, 1) << said;
    EXPECT_NE(said.find("SSL/TLS"), std::string::npos) << "no likely cause given: " << said;
    EXPECT_TRUE(said.ends_with("tandrel: stopped by SIGTERM.\n")) << said;
    EXPECT_NE(ReadFileBytes(program.file("Tandrel.log")).find(named), std::string::npos);
    EXPECT_NE(o.out.find("0 of 3 messages accepted"), std::string::npos) << o.out;
}

TEST_F(CommandLine, UsageAndFileErrorsExitWithTwoAndSendNothing) {
    tandrel::test::AiosmtpdServer server;
    program.settings(server.portText());
    WriteFileBytes(program.file("people.dat"), "Ann;ann@example.test\r\n");
    WriteFileBytes(program.file("unclosed.csv"), "name,email\r\n\"Ann,ann@example.test\r\n");
    // A value that would take an invoice path to another folder, where a file waits.
    WriteFileBytes(program.file("invoices.csv"),
                   "name,email,invoice\r\nAnn,ann@example.test,../secret/passport\r\n");
    fs::create_directories(program.file("invoices"));
    fs::create_directories(program.file("secret"));
    WriteFileBytes(program.file("secret/passport.pdf"), "%PDF private");
    // Values naming each other's placeholders, doubling the mail at each of 40 levels.
    std::string header = "name,email", row = "[f1][f1],ann@example.test";
    for (int level = 1; level <= 40; ++level) {
        header += ",f" + std::to_string(level);
        row += ",[f" + std::to_string(level + 1) + "][f" + std::to_string(level + 1) + "]";
    }
    WriteFileBytes(program.file("growing.csv"), header + "\r\n" + row + "\r\n");
    // An image source that shows a picture and would open a key.
    fs::create_directories(program.file(".ssh"));
    WriteFileBytes(program.file(".ssh/id_rsa"), "PRIVATE KEY");
    WriteFileBytes(program.file("key.txt"), "From: <club@sender.test>\r\nTo: <[email]>\r\n"
                                            "Subject: Hi\r\nContent-type: text/markdown\r\n"
                                            "\r\n![](.ssh/id_rsa%00.png)\r\n");
    const struct {
        QStringList args;
        std::string says;
    } cases[] = {
        {{"send"}, "the database is missing"},
        {{"send", "--db", "people.csv"}, "the mail is missing"},
        {{"send", "--db", "people.csv", "--mail"}, "--mail needs a value"},
        {{"send", "--db", "people.csv", "--db", "x.csv", "--mail", "mail.txt"}, "given twice"},
        {{"send", "--db", "people.csv", "--mail", "mail.txt", "--bcc", "x"},
         "unknown option --bcc"},
        {{"send", "--db", "people.dat", "--mail", "mail.txt"}, "needs --fields"},
        {{"send", "--db", "missing.csv", "--mail", "mail.txt"}, "missing.csv"},
        {{"send", "--db", "unclosed.csv", "--mail", "mail.txt"}, "unclosed.csv"},
        {{"send", "--db", "people.csv", "--mail", "missing.txt"}, "missing.txt"},
        // A missing file stops the run even with --force: it could not be prepared.
        {{"send", "--db", "people.csv", "--mail", "mail.txt", "--attach", "[City].pdf", "--force"},
         "does not exist"},
        {{"send", "--db", "invoices.csv", "--mail", "mail.txt", "--attach",
          "invoices/[invoice].pdf"},
         "Ann: the value \"../secret/passport\" would lead the attachment path "
         "invoices/[invoice].pdf out of its folder"},
        {{"send", "--db", "invoices.csv", "--mail", "mail.txt", "--attach",
          "invoices/[invoice].pdf", "--force"},
         "../secret/passport"},
        {{"send", "--db", "growing.csv", "--mail", "mail.txt", "--force"},
         "The merged mail for [f1][f1] grows beyond 64 MB; its values refer to each other"},
        {{"send", "--db", "people.csv", "--mail", "key.txt", "--force"},
         "The image source \".ssh/id_rsa%00.png\""},
        {{"sned"}, "unknown command 'sned'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome o = program.run(c.args);
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }
    // Settings the run cannot honour stop it before any password is asked for.
    const std::string settings = ReadFileBytes(program.file("Tandrel.ini"));
    const std::pair<std::string, std::string> badSettings[] = {
        {"security=ssl", "security=ssl is not a known value; use none, starttls or tls"},
        {"auth=kerberos", "auth=kerberos is not a known value; use password or oauth2"},
        {"oauthprovider=yahoo", "oauthprovider=yahoo is not a known value"},
        {"ehlo=true", "ehlo=true is not a known value; use no or yes"},
        {"user=ann", "A login needs encryption"},
    };
    for (const auto& [line, says] : badSettings) {
        SCOPED_TRACE(line);
        WriteFileBytes(program.file("Tandrel.ini"), settings + line + "\r\n");
        const Outcome o =
            program.run({"send", "--db", "people.csv", "--mail", "mail.txt", "--force"});
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find(says), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("Password for"), std::string::npos) << o.err;
    }
    WriteFileBytes(program.file("Tandrel.ini"), settings);
    EXPECT_TRUE(server.messages().empty());
    EXPECT_FALSE(fs::exists(program.file("Tandrel.snt")));

    const Outcome help = program.run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("tandrel send --db FILE --mail FILE"), std::string::npos);
    EXPECT_NE(help.out.find(program.folder()), std::string::npos) << "names the data folder";
    const Outcome sendHelp = program.run({"send", "--help"});
    EXPECT_EQ(sendHelp.status, 0);
    for (const char* option : {"--db", "--fields", "--mail", "--attach", "--dry-run", "--force"})
        EXPECT_NE(sendHelp.out.find(option), std::string::npos) << option;
}

// "display name | address" of each To address of the messages in `dir`, one line each,
// in the order of the files, as Python's e-mail parser reads them.
std::string RecipientsIn(const std::string& dir) {
    const char* const reader = R"PY(
import email, email.policy, os, sys
d = sys.argv[1]
for n in sorted(os.listdir(d)) if os.path.isdir(d) else []:
    if n.endswith(".eml"):
        m = email.message_from_bytes(open(os.path.join(d, n), "rb").read(),
                                     policy=email.policy.default)
        for a in m["To"].addresses:
            print(a.display_name + " | " + a.addr_spec)
)PY";
    QProcess py;
    py.start("/usr/bin/python3", {"-c", reader, QString::fromStdString(dir)});
    py.waitForFinished(30000);
    return py.readAllStandardOutput().toStdString() + py.readAllStandardError().toStdString();
}

// Spreadsheets and address books export their people with a header row whose column of
// addresses is seldom called just "email". The header names the fields and is never
// sent to; who is sent to is read back from the dry run's messages.
TEST_F(CommandLine, ExportedCsvFilesFindTheirAddressColumnAndNeverSendTheHeaderRow) {
    program.settings(std::to_string(tandrel::test::UnusedLoopbackPort()));
    WriteFileBytes(program.file("hello.txt"), "From: \"Club\" <club@sender.test>\r\n"
                                              "To: \"[name|Friend]\" <[email]>\r\n"
                                              "Subject: Hello\r\n\r\nHi [name|Friend]\r\n");
    WriteFileBytes(program.file("fields.txt"), "name\r\nemail\r\nCompany\r\n");
    const std::string contacts = "Name,Contact,Company\r\nAnn Lee,ann@example.test,Acme\r\n";
    const std::string people = "Ann Lee;ann@example.test;Acme\r\nBob Roe;bob@example.test;\r\n";
    const struct {
        const char* what;
        std::string csv;
        QStringList more; // arguments after --db, --mail and --dry-run
        int status;
        std::string sentTo; // as RecipientsIn reads them
        std::string says;   // on stderr; empty: stderr is empty
    } cases[] = {
        {"spreadsheet: byte order mark, E-mail",
         "\xEF\xBB\xBFName,E-mail,Company\r\nAnn Lee,ann@example.test,Acme\r\n"
         "Bob Roe,bob@example.test,\r\n",
         {},
         0,
         "Ann Lee | ann@example.test\nBob Roe | bob@example.test\n",
         "\"E-mail\""},
        {"address book: the first of several addresses",
         "Name,Given Name,E-mail 1 - Type,E-mail 1 - Value,E-mail 2 - Value\r\n"
         "Ann Lee,Ann,* Home,ann@example.test,ann@work.test\r\n",
         {},
         0,
         "Ann Lee | ann@example.test\n",
         "\"E-mail 1 - Value\""},
        {"semicolons, full names",
         "Full Name;EMAIL ADDRESS;City\r\n\"Lee, Ann\";ann@example.test;Rome\r\n",
         {},
         0,
         "Lee, Ann | ann@example.test\n",
         "\"Full Name\""},
        {"addresses only",
         "mail\r\nann@example.test\r\n",
         {},
         0,
         "Friend | ann@example.test\n",
         "\"mail\""},
        {"a column called email says nothing",
         "name,EMail\r\nAnn,ann@example.test\r\n",
         {},
         0,
         "Ann | ann@example.test\n",
         ""},
        {"no column by a usual name", contacts, {}, 2, "", "--email-column NAME"},
        {"the column named",
         contacts,
         {"--email-column", "contact"},
         0,
         "Ann Lee | ann@example.test\n",
         "\"Contact\""},
        {"a column named that is not there",
         contacts,
         {"--email-column", "Phone"},
         2,
         "",
         "no column \"Phone\"; the columns are \"Name\", \"Contact\", \"Company\""},
        {"first row a person, with its field list",
         people,
         {"--fields", "fields.txt"},
         0,
         "Ann Lee | ann@example.test\nBob Roe | bob@example.test\n",
         ""},
        {"first row a person, no field list", people, {}, 2, "", "needs --fields FILE"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = "out" + std::to_string(++n);
        WriteFileBytes(program.file("people.csv"), c.csv);
        const Outcome o =
            program.run(QStringList{"send", "--db", "people.csv", "--mail", "hello.txt",
                                    "--dry-run", QString::fromStdString(dir)} +
                        c.more);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(RecipientsIn(program.file(dir)), c.sentTo);
        if (c.says.empty())
            EXPECT_EQ(o.err, "");
        else
            EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }
}

// A misspelt placeholder names the fields it was likely meant as, or all of them.
TEST_F(CommandLine, MisspeltPlaceholdersSuggestTheNearestFields) {
    program.settings(std::to_string(tandrel::test::UnusedLoopbackPort()));
    const struct {
        const char* placeholder;
        const char* says;
    } cases[] = {
        {"[nmae]", "[nmae] in the body names no field (did you mean [name]?)"},
        {"[Ctiy|there]", "[Ctiy|there] in the body names no field (did you mean [City]?)"},
        {"[EMail]", "[EMail] in the body names no field (did you mean [email]?)"},
        {"[town]", "[town] in the body names no field (the fields are [name], [email], [City])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.placeholder);
        WriteFileBytes(program.file("typo.txt"),
                       std::string("Subject: Hi\r\n\r\nDear ") + c.placeholder + "\r\n");
        const Outcome o = program.run({"send", "--db", "people.csv", "--mail", "typo.txt"});
        EXPECT_EQ(o.status, 2) << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    }
}

// A relay that is not listening: the error names the server and port tried, and where
// they are set.
TEST_F(CommandLine, AClosedPortIsNamedWithWhereItIsSet) {
    const std::string port = std::to_string(tandrel::test::UnusedLoopbackPort());
    program.settings(port);
    const Outcome o = program.run({"send", "--db", "people.csv", "--mail", "mail.txt"});
    EXPECT_EQ(o.status, 1) << o.err;
    for (const std::string& part :
         {std::string("Connection refused"),
          "127.0.0.1 did not accept a connection on port " + port + ".", std::string("Preferences"),
          std::string("port= under [Network] in Tandrel.ini")})
        EXPECT_NE(o.err.find(part), std::string::npos) << part << "\n" << o.err;
}

// A plain-ASCII mail keeps its form on the wire: a long line is wrapped at a blank, not
// encoded; and a person's own file that reports no size (as those under /proc do) is
// read to its end. The server's copy is read back by Python's e-mail parser.
TEST_F(CommandLine, LongAsciiLinesAreWrappedAndFilesWithoutASizeAreSentWhole) {
    const std::string source = "/proc/sys/kernel/ostype";
    if (::access(source.c_str(), R_OK) != 0) GTEST_SKIP() << "no " << source;
    std::string words;
    for (int i = 0; i < 239; ++i)
        words += "word ";
    words += "last"; // 1,199 characters with a blank at every fifth
    WriteFileBytes(program.file("long.txt"), "From: \"Club\" <club@sender.test>\r\n"
                                             "To: \"[name]\" <[email]>\r\n"
                                             "Subject: Hello\r\n"
                                             "\r\n" +
                                                 words + "\r\n");
    WriteFileBytes(program.file("files.csv"),
                   "name,email,file\r\nAnn,ann@example.test," + source + "\r\n");
    tandrel::test::AiosmtpdServer server;
    program.settings(server.portText());
    // The value picks a file outside the folders of the mail and the database: the check
    // names it, and --force sends it.
    const Outcome o = program.run(
        {"send", "--db", "files.csv", "--mail", "long.txt", "--attach", "[file]", "--force"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto got = server.messages();
    ASSERT_EQ(got.size(), 1u);
    const std::string& data = got[0].data;
    // Cut before the blank at position 995, which begins the next line.
    EXPECT_NE(data.find("\r\n" + words.substr(0, 994) + "\r\n" + words.substr(994) + "\r\n"),
              std::string::npos)
        << data.substr(0, 2000);
    EXPECT_EQ(data.find("quoted-printable"), std::string::npos);
    EXPECT_EQ(data.find("charset"), std::string::npos);
    const std::string stored = program.file("stored.eml");
    WriteFileBytes(stored, data);
    const std::string read = PythonReading(stored, {QString::fromStdString("ostype=" + source)});
    EXPECT_NE(read.find("defects: none"), std::string::npos) << read;
    EXPECT_NE(read.find("body: " + words.substr(0, 994) + "\\n" + words.substr(994)),
              std::string::npos)
        << read;
    EXPECT_NE(read.find("attachment: application/octet-stream ostype same"), std::string::npos)
        << read;
}

// A session bus of the test's own with an unlocked keyring daemon on it, made current for
// this process and the programs it starts. Nothing of the user's desktop is touched.
class PrivateKeyring {
public:
    PrivateKeyring() {
        for (const char* tool :
             {"/usr/bin/dbus-daemon", "/usr/bin/dbus-send", "/usr/bin/gnome-keyring-daemon"})
            if (::access(tool, X_OK) != 0) {
                missing_ = tool;
                return;
            }
        fs::create_directories(dir_.file("run"));
        fs::permissions(dir_.file("run"), fs::perms::owner_all);
        // No service directories: the standard session bus would start a locked keyring
        // daemon of its own on the first request, before ours had taken the name.
        WriteFileBytes(dir_.file("bus.conf"),
                       "<busconfig><type>session</type><listen>unix:dir=" + dir_.path() +
                           "</listen><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        bus_.start("/usr/bin/dbus-daemon",
                   {"--nofork", "--print-address=1",
                    QString::fromStdString("--config-file=" + dir_.file("bus.conf"))});
        if (!bus_.waitForReadyRead(10000)) return;
        const std::string address = bus_.readLine().trimmed().toStdString();
        busEnv_ = std::make_unique<tandrel::test::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address);
        runtimeEnv_ =
            std::make_unique<tandrel::test::ScopedEnv>("XDG_RUNTIME_DIR", dir_.file("run"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(dir_.path()));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir_.file("data")));
        daemon_.setProcessEnvironment(env);
        // --unlock creates the login keyring with the password read from stdin; an empty
        // one creates none.
        daemon_.start("/usr/bin/gnome-keyring-daemon",
                      {"--foreground", "--unlock", "--components=secrets"});
        if (!daemon_.waitForStarted(10000)) return;
        daemon_.write("keyring-of-the-test");
        daemon_.closeWriteChannel();
        // QProcess writes only from the event loop, which the waits below do not run.
        daemon_.waitForBytesWritten(10000);
        started_ = true;
    }
    ~PrivateKeyring() {
        for (QProcess* p : {&daemon_, &bus_}) {
            p->terminate();
            if (!p->waitForFinished(5000)) p->kill();
        }
    }
    // Empty when the keyring is running.
    std::string missing() const { return started_ ? "" : missing_.empty() ? "no bus" : missing_; }
    // Stores as the window's password prompt does, once the daemon has made its login
    // keyring the default: asked earlier, it would wait for a prompt nobody can answer.
    bool store(const std::string& account, const std::string& password) {
        if (!started_) return false;
        for (int attempt = 0;; ++attempt) {
            QProcess probe;
            probe.start("/usr/bin/dbus-send",
                        {"--session", "--print-reply", "--reply-timeout=2000",
                         "--dest=org.freedesktop.secrets",
                         "/org/freedesktop/secrets/aliases/default",
                         "org.freedesktop.DBus.Properties.Get",
                         "string:org.freedesktop.Secret.Collection", "string:Label"});
            if (probe.waitForFinished(5000) && probe.exitCode() == 0) break;
            if (attempt == 100) return false;
            QThread::msleep(100);
        }
        return tandrel::MakeDesktopKeyring()->store(account, password);
    }

private:
    TempDir dir_;
    std::string missing_;
    bool started_ = false;
    QProcess bus_, daemon_;
    std::unique_ptr<tandrel::test::ScopedEnv> busEnv_, runtimeEnv_;
};

TEST_F(CommandLine, LogsInWithThePasswordTheWindowRememberedUnlessTheVariableGivesOne) {
    PrivateKeyring keyring;
    if (!keyring.missing().empty())
        GTEST_SKIP() << "no keyring to test with: " << keyring.missing();
    tandrel::test::TestCertificates certs;
    tandrel::test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    tandrel::test::AiosmtpdOptions options;
    options.tls = tandrel::test::AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.user = "club";
    options.password = "s3cret \xC3\xA9 pass";
    options.authRequired = true;
    tandrel::test::AiosmtpdServer server(options);
    program.settings(server.portText());
    WriteFileBytes(program.file("Tandrel.ini"), ReadFileBytes(program.file("Tandrel.ini")) +
                                                    "security=starttls\r\nuser=club\r\n");
    ASSERT_TRUE(keyring.store("club@127.0.0.1", options.password));
    ::unsetenv("TANDREL_PASSWORD");

    const QStringList send = {"send", "--db", "people.csv", "--mail", "mail.txt"};
    const Outcome remembered = program.run(send);
    EXPECT_EQ(remembered.status, 0) << remembered.err;
    EXPECT_EQ(server.messages().size(), 3u);

    // A script that sets the variable means it, even when the keyring knows better.
    tandrel::test::ScopedEnv wrong("TANDREL_PASSWORD", "guess");
    const Outcome refused = program.run(send);
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("login refused"), std::string::npos) << refused.err;
    EXPECT_EQ(server.messages().size(), 3u);
}

// The token command's token logs in with AUTH XOAUTH2 after STARTTLS. The valid token is
// long enough that it goes after the server's empty challenge instead of on the AUTH
// line. A wrong token is refused after the error challenge was answered: nothing is sent.
// Neither token is written to any file of the program or of HOME.
TEST_F(CommandLine, TokenCommandLogsInAndAWrongTokenSendsNothing) {
    TempDir tokens;
    const std::string valid = "tok" + std::string(599, '0') + "7"; // as printf writes it
    WriteFileBytes(tokens.file("valid"), valid + "\n");
    tandrel::test::TestCertificates certs;
    tandrel::test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    tandrel::test::ScopedEnv tmp("TMPDIR", program.folder());
    tandrel::test::AiosmtpdOptions options;
    options.tls = tandrel::test::AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.user = "club";
    options.oauthTokensFile = tokens.file("valid");
    options.oauthOnly = true;
    options.withoutOAuthBearer = true;
    tandrel::test::AiosmtpdServer server(options);
    program.settings(server.portText());
    const std::string ini = ReadFileBytes(program.file("Tandrel.ini")) +
                            "security=starttls\r\nuser=club\r\nauth=oauth2\r\n";
    const QStringList send = {"send", "--db", "people.csv", "--mail", "mail.txt"};

    // The settings hold the command, not the token it prints.
    WriteFileBytes(program.file("Tandrel.ini"), ini + "oauthcommand=printf 'tok%0600d\\n' 7\r\n");
    const Outcome sent = program.run(send);
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(server.messages().size(), 3u);

    const std::string wrong = "tok-" + std::string(40, 'w');
    WriteFileBytes(program.file("Tandrel.ini"), ini + "oauthcommand=printf 'tok-%040d' 0 | tr 0 w\r\n");
    const Outcome refused = program.run(send);
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("Error, login refused by server: "), std::string::npos)
        << refused.err;
    EXPECT_EQ(server.messages().size(), 3u);

    const std::vector<std::string> logins = server.authLog();
    ASSERT_GE(logins.size(), 2u);
    EXPECT_NE(logins.front().find("token=valid"), std::string::npos) << logins.front();
    for (std::size_t i = 1; i < logins.size(); ++i)
        EXPECT_NE(logins[i].find("token=invalid answer=ok"), std::string::npos) << logins[i];
    const std::string runLog = ReadFileBytes(program.file("Tandrel.log"));
    EXPECT_NE(runLog.find("AUTH XOAUTH2\r\n"), std::string::npos);
    EXPECT_NE(runLog.find("AUTH XOAUTH2 ****\r\n"), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(program.folder())) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = ReadFileBytes(entry.path().string());
        EXPECT_EQ(bytes.find(valid), std::string::npos) << entry.path();
        EXPECT_EQ(bytes.find(wrong), std::string::npos) << entry.path();
    }
}

// The control bytes of `text` as \xHH, other than tab and LF, and the CR of a CR LF
// where those are the file's line ends.
std::string ControlBytesIn(const std::string& text, bool crLf) {
    std::string found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        const bool lineEnd = c == '\n' || (crLf && c == '\r' && next == '\n');
        if ((c < 0x20 && c != '\t' && !lineEnd) || c == 0x7f ||
            (c == 0xc2 && next >= 0x80 && next < 0xa0))
            found += QString::asprintf("\\x%02x at %zu ", c, i).toStdString();
    }
    return found;
}

// Words from outside the program (a token command's error output, a server's reply, an
// identity provider's refusal) reach the terminal and the run log as text: each control
// character is written out, so none recolours or rewrites what the user reads, and a
// reply of several lines keeps them.
TEST_F(CommandLine, OutsideWordsReachTheTerminalAndTheRunLogAsText) {
    // Red, a line that pretends to be another, a bell, and a CSI in its UTF-8 form.
    const std::string hostile = "\x1b[31mRED\r\nFake line\a \xc2\x9b"
                                "2J";
    const std::string oneLine = "\\x1b[31mRED\\x0d\\x0aFake line\\x07 \\xc2\\x9b2J";
    const std::string network = "[Network]\r\nsmtp=127.0.0.1\r\nname=Club\r\n"
                                "fromaddy=club@sender.test\r\n";
    const std::string oauth = "security=starttls\r\nuser=club\r\nauth=oauth2\r\n";
    const auto provider = [&](tandrel::test::IdentityProviderOptions options) {
        options.errorDescription = hostile;
        return [=](std::shared_ptr<void>& keep) {
            auto idp = std::make_shared<tandrel::test::IdentityProvider>(options);
            keep = idp;
            return "port=" + std::to_string(tandrel::test::UnusedLoopbackPort()) + "\r\n" + oauth +
                   "oauthprovider=custom\r\noauthclientid=tandrel-test\r\n" +
                   "oauthauthurl=" + idp->authorizeUrl() + "\r\noauthtokenurl=" + idp->tokenUrl() +
                   "\r\noauthscope=smtp\r\n";
        };
    };
    tandrel::test::IdentityProviderOptions denying, refusing;
    denying.denySignIn = true;
    refusing.refuseTokens = true;
    struct Case {
        const char* what;
        // Starts what the run talks to (kept alive by `keep`); gives the rest of [Network].
        std::function<std::string(std::shared_ptr<void>& keep)> start;
        int status;
        std::string shown;               // on stderr
        std::vector<std::string> logged; // in the run log
    };
    const Case cases[] = {
        {"token command",
         [&](std::shared_ptr<void>&) {
             return "port=" + std::to_string(tandrel::test::UnusedLoopbackPort()) + "\r\n" + oauth +
                    "oauthcommand=printf '\\033[31mRED\\r\\nFake line\\a \\302\\2332J' >&2; "
                    "exit 1\r\n";
         },
         2,
         "\\x1b[31mRED\nFake line\\x07 \\xc2\\x9b2J\n",
         {}},
        {"server reply",
         [&](std::shared_ptr<void>& keep) {
             auto server = std::make_shared<tandrel::test::FakeSmtpServer>();
             keep = server;
             server->reply("220 fake ready").expect("helo [127.0.0.1]").reply("250 fake");
             server->expect("MAIL FROM:<club@sender.test>")
                 .send("550-5.7.1 \x1b[31mRED\a\r\n550 5.7.1 fake\rline \xc2\x9b"
                       "2J\r\n")
                 .expectClose();
             server->start();
             return "port=" + server->portText() + "\r\n";
         },
         1,
         "550-5.7.1 \\x1b[31mRED\\x07\n550 5.7.1 fake\\x0dline \\xc2\\x9b2J\n",
         // An ordinary reply as it came; a hostile one keeps its lines.
         {"\r\n220 fake ready\r\n",
          "\r\n550-5.7.1 \\x1b[31mRED\\x07\r\n550 5.7.1 fake\\x0dline \\xc2\\x9b2J\r\n"}},
        {"sign-in refused", provider(denying), 2, "access_denied (" + oneLine + ")", {}},
        {"token request refused", provider(refusing), 2, "invalid_request (" + oneLine + ")", {}},
    };
    tandrel::test::ScopedEnv browser(
        "BROWSER", "/usr/bin/python3 \"" + tandrel::test::IdentityProvider::browserScript() + "\"");
    // No desktop keyring with a refresh token in it: the sign-in goes through the browser.
    tandrel::test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + program.file("no-bus"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(program.file("Tandrel.log"));
        std::shared_ptr<void> keep;
        WriteFileBytes(program.file("Tandrel.ini"), network + c.start(keep));
        const Outcome o = program.run({"send", "--db", "people.csv", "--mail", "mail.txt"});
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(ControlBytesIn(o.err, false), "") << o.err;
        EXPECT_NE(o.err.find(c.shown), std::string::npos) << o.err;
        const std::string runLog = ReadFileBytes(program.file("Tandrel.log"));
        EXPECT_EQ(ControlBytesIn(runLog, true), "") << runLog;
        for (const std::string& part : c.logged)
            EXPECT_NE(runLog.find(part), std::string::npos) << part << "\nin\n" << runLog;
    }
}

} // namespace

// A mail as people write it now, sent for real: the Cc and Bcc addresses are envelope
// recipients beside To, the Bcc line never arrives, header lines are merged, the Markdown
// goes as text and HTML with values that stay text, and an empty name takes its fallback.
// A refused Cc address is told but fails nothing. A name with a comma in the Cc line is
// sent quoted, and the check reads it so: the run needs no --force.
TEST_F(CommandLine, CopiesHeaderLinesMarkdownAndFallbacksArriveAsWritten) {
    WriteFileBytes(program.file("modern.txt"),
                   "From: \"Club\" <club@sender.test>\r\n"
                   "To: <[email]>\r\n"
                   "Subject: Hello [name|friend]\r\n"
                   "Cc: [bossname] <[manager]>\r\n"
                   "Bcc: audit@archive.test\r\n"
                   "Reply-To: desk@club.test\r\n"
                   "List-Unsubscribe: <mailto:off@club.test?subject=[id]>\r\n"
                   "Content-type: text/markdown\r\n"
                   "\r\n"
                   "Dear **[name|friend]**,\r\n"
                   "\r\n"
                   "* your number is [id]\r\n");
    WriteFileBytes(program.file("modern.csv"),
                   "name,email,manager,id,bossname\r\n"
                   "Tom & <Jerry>,tom@example.test,boss@example.test,17,\"Smith, John\"\r\n"
                   ",nameless@example.test,gone@example.test,18,\r\n");
    tandrel::test::AiosmtpdOptions options;
    options.refused = {"gone@example.test"};
    tandrel::test::AiosmtpdServer server(options);
    program.settings(server.portText());
    const Outcome o = program.run({"send", "--db", "modern.csv", "--mail", "modern.txt"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find("gone@example.test"), std::string::npos) << o.err;

    const auto got = server.messages();
    ASSERT_EQ(got.size(), 2u);
    const std::vector<std::vector<std::string>> envelopes = {
        {"tom@example.test", "boss@example.test", "audit@archive.test"},
        {"nameless@example.test", "audit@archive.test"}};
    const char* const reader = R"PY(
import email, email.policy, sys
m = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=email.policy.default)
print("bcc:", m["Bcc"])
print("cc:", m["Cc"])
print("reply-to:", m["Reply-To"])
print("unsubscribe:", m["List-Unsubscribe"])
print("subject:", m["Subject"])
print("type:", m.get_content_type())
for part in m.walk():
    if part.get_content_type() in ("text/plain", "text/html"):
        print(part.get_content_type() + ":", part.get_content().replace("\n", "|"))
)PY";
    const struct {
        const char* expected;
    } tom[] = {{"bcc: None"},
               {"cc: \"Smith, John\" <boss@example.test>"},
               {"reply-to: desk@club.test"},
               {"unsubscribe: <mailto:off@club.test?subject=17>"},
               {"subject: Hello Tom & <Jerry>"},
               {"type: multipart/alternative"},
               {"text/plain: Dear **Tom & <Jerry>**,"},
               {"<strong>Tom &amp; &lt;Jerry&gt;</strong>"}};
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].rcptTo, envelopes[i]);
        EXPECT_EQ(got[i].data.find("\nBcc:"), std::string::npos);
        const std::string stored = program.file("got" + std::to_string(i) + ".eml");
        WriteFileBytes(stored, got[i].data);
        QProcess py;
        py.start("/usr/bin/python3", {"-c", reader, QString::fromStdString(stored)});
        ASSERT_TRUE(py.waitForFinished(30000));
        const std::string read = py.readAllStandardOutput().toStdString() +
                                 py.readAllStandardError().toStdString();
        if (i == 0) {
            for (const auto& row : tom)
                EXPECT_NE(read.find(row.expected), std::string::npos) << row.expected << "\n" << read;
        } else {
            EXPECT_NE(read.find("subject: Hello friend"), std::string::npos) << read;
            EXPECT_NE(read.find("<strong>friend</strong>"), std::string::npos) << read;
        }
    }
    // The sent log lists the To addresses only.
    const std::string sentLog = ReadFileBytes(program.file("Tandrel.snt"));
    EXPECT_NE(sentLog.find("tom@example.test\r\nnameless@example.test\r\n"), std::string::npos)
        << sentLog;
    EXPECT_EQ(sentLog.find("audit@"), std::string::npos);
}
