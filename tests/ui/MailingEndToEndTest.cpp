// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program as a user drives it: start in a directory of its own, move every
// person to "Receipients", press "Send", close the delivery window, leave. Real SMTP
// servers on loopback receive the mail.
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "tests/support/FakeKeyring.h"
#include "tests/support/IdentityProvider.h"
#include "tests/ui/MailingTestKit.h"
#include "tests/ui/MainWindowFixture.h"
#include "model/TextFile.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

class MailingEndToEnd : public MainWindowTest {
protected:
    // Settings pointing at the server, and the field, database and mail files.
    void prepare(const std::string& smtp, const std::string& port,
                 const std::map<std::string, std::string>& moreNetwork = {}) {
        writeData("name\r\nemail\r\ntown\r\n", "Ann Archer;ann@example.org;Lisbon\r\n"
                                               "Bob Baker;bob@example.org;Oslo\r\n"
                                               "Cleo Carter;cleo@example.net;Porto\r\n");
        WriteFileBytes(dir.file("mail.txt"), "From: \"Demo Sender\" <demo@example.org>\r\n"
                                             "To: \"[name]\" <[email]>\r\n"
                                             "Subject: Greetings to [town]\r\n"
                                             "\r\n"
                                             "Dear [name],\r\n"
                                             ".\r\n"
                                             "you live in [town].\r\n");
        std::map<std::string, std::string> network = moreNetwork;
        network.insert({{"smtp", smtp},
                        {"port", port},
                        {"fromaddy", "demo@example.org"},
                        {"name", "Demo Sender"}});
        writeIni({{"Network", network},
                  {"User",
                   {{"lastmail", dir.file("mail.txt")},
                    {"lastfields", dir.file("fields.txt")},
                    {"lastdb", dir.file("people.txt")}}}});
    }

    void moveEverybodyAndSend() {
        find<QPushButton>("Button3")->click(); // "->>"
        ASSERT_EQ(w->recipientRows().size(), 3u);
        find<QPushButton>("SendBut")->click(); // the modal windows run inside
    }

    DeliveryWindow& deliveryWindow() { return *app->deliveryWindow(); }
    bool memoHas(const QString& line) {
        return deliveryWindow().reportMemo->toPlainText().split(QLatin1Char('\n')).contains(line);
    }
    std::vector<std::string> fileLines(const char* name) {
        return SplitTextLines(ReadFileBytes(dir.file(name)));
    }
};

const char* kAddresses[] = {"ann@example.org", "bob@example.org", "cleo@example.net"};

} // namespace

TEST_F(MailingEndToEnd, EveryPersonGetsTheirMergedMailAndTheLogsRecordTheRun) {
    AiosmtpdServer server;
    prepare("127.0.0.1", server.portText());
    WriteFileBytes(dir.file("Tandrel.snt"), "an earlier run\r\n");
    WriteFileBytes(dir.file("Tandrel.log"), "earlier dialogue\r\n");
    // Attachments: a text file per person and one image for all.
    for (const char* n : {"Ann Archer", "Bob Baker", "Cleo Carter"})
        WriteFileBytes(dir.file(std::string(n) + ".txt"), std::string("About ") + n + "\r\n");
    const std::string image = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '\x07');
    WriteFileBytes(dir.file("logo.png"), image);
    start();
    w->show();
    w->state().attachments = {MakeAttachment(dir.file("[name].txt")),
                              MakeAttachment(dir.file("logo.png"))};

    ModalDriver driver;
    moveEverybodyAndSend();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.boxes.empty());
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_FALSE(deliveryWindow().isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    for (const char* a : kAddresses)
        EXPECT_TRUE(memoHas(QStringLiteral("Mail was sent to: \"%1\"").arg(a)));
    EXPECT_TRUE(memoHas("All letters have been sent"));

    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), 3);
    const auto msgs = ParseMessages(files);
    ASSERT_EQ(msgs.size(), 3u);
    const char* names[] = {"Ann Archer", "Bob Baker", "Cleo Carter"};
    const char* towns[] = {"Lisbon", "Oslo", "Porto"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        const ParsedMessage& m = msgs[i];
        EXPECT_EQ(StoredRecipients(files[i]).value(0), kAddresses[i]);
        EXPECT_EQ(StoredSender(files[i]), "demo@example.org");
        EXPECT_EQ(m.to, QStringLiteral("\"%1\" <%2>").arg(names[i], kAddresses[i]));
        EXPECT_EQ(m.subject, QStringLiteral("Greetings to %1").arg(towns[i]));
        EXPECT_EQ(m.from, "\"Demo Sender\" <demo@example.org>");
        EXPECT_EQ(m.mime, "1.0");
        EXPECT_TRUE(m.defects.isEmpty()) << m.defects.join(' ').toStdString();
        ASSERT_EQ(m.parts.size(), 3u);
        // A line of one full stop survives the dot-stuffing of the wire.
        EXPECT_EQ(
            m.body,
            QStringLiteral("Dear %1,\r\n.\r\nyou live in %2.").arg(names[i], towns[i]).toLatin1());
        EXPECT_EQ(m.parts[1].fileName, QString::fromLatin1(names[i]) + ".txt");
        EXPECT_TRUE(m.parts[1].data.startsWith(("About " + std::string(names[i])).c_str()));
        EXPECT_EQ(m.parts[2].fileName, "logo.png");
        EXPECT_EQ(m.parts[2].contentType, "application/octet-stream");
        EXPECT_EQ(m.parts[2].data, QByteArray::fromStdString(image));
    }

    w->close();
    const auto snt = fileLines("Tandrel.snt");
    ASSERT_EQ(snt.size(), 1u + 1 + 4 + 3 + 2);
    EXPECT_EQ(snt[0], "an earlier run");
    EXPECT_EQ(snt[1].rfind("Mailing started ", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(snt.begin() + 2, snt.end()),
              (std::vector<std::string>{"", "Subject: Greetings to [town]", "", "Mails sent to:",
                                        kAddresses[0], kAddresses[1], kAddresses[2], "", ""}));

    const auto log = fileLines("Tandrel.log");
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"earlier dialogue", "", "",
                                        "Connected to server - session initiated"}));
    const std::string logText = ReadFileBytes(dir.file("Tandrel.log"));
    const std::string& host = w->state().computerName;
    const std::string helo = host.find('.') != std::string::npos ? host : "[127.0.0.1]";
    EXPECT_NE(logText.find("helo " + helo + "\r\n"), std::string::npos);
    for (const char* a : kAddresses) {
        EXPECT_NE(logText.find(std::string("RCPT TO:<") + a + ">\r\n"), std::string::npos);
        EXPECT_NE(logText.find(std::string("Mail was sent to: \"") + a + "\""), std::string::npos);
    }
    EXPECT_NE(logText.find("MAIL FROM:<demo@example.org>\r\n"), std::string::npos);
}

TEST_F(MailingEndToEnd, ARefusedRecipientIsReportedAndLeftOutOfTheSentLog) {
    AiosmtpdServer server(RefusingAt({"bob@example.org"}));
    prepare("127.0.0.1", server.portText());
    start();
    w->show();
    ModalDriver driver;
    moveEverybodyAndSend();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(memoHas("Error, illegal receipient \"bob@example.org\", resuming:"));
    EXPECT_TRUE(memoHas("Some errors occurred!"));
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 2);
    const auto msgs = ParseMessages(StoredFiles(server.storeDir()));
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].to, "\"Cleo Carter\" <cleo@example.net>");

    w->close();
    const auto snt = fileLines("Tandrel.snt");
    ASSERT_EQ(snt.size(), 1u + 4 + 2 + 2);
    EXPECT_EQ(std::vector<std::string>(snt.begin() + 4, snt.end()),
              (std::vector<std::string>{"Mails sent to:", kAddresses[0], kAddresses[2], "", ""}));
    const std::string logText = ReadFileBytes(dir.file("Tandrel.log"));
    EXPECT_NE(logText.find("Error, illegal receipient \"bob@example.org\", resuming:\r\n"),
              std::string::npos);
    EXPECT_NE(logText.find("<bob@example.org>: Recipient address rejected"), std::string::npos);
}

TEST_F(MailingEndToEnd, FailedRunsLeaveTheMainWindowWorking) {
    AiosmtpdServer server;
    prepare("no-such-host.invalid", server.portText());
    start();
    w->show();
    ModalDriver driver;

    // A text attachment that cannot be read: one box, nothing sent, no sent-log block.
    w->state().attachments = {MakeAttachment(dir.file("missing.txt"))};
    moveEverybodyAndSend();
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_TRUE(driver.boxes[0].contains("missing.txt"));
    EXPECT_EQ(driver.sendWindowsSeen, 0);
    EXPECT_TRUE(w->state().sentLog.empty());

    // A host that cannot be resolved: the socket's text in one box.
    w->state().attachments.clear();
    find<QPushButton>("SendBut")->click();
    ASSERT_EQ(driver.boxes.size(), 2u);
    EXPECT_EQ(driver.boxes[1].toStdString(),
              "Cannot find the server \"no-such-host.invalid\". Check the server name in "
              "Preferences (smtp= under [Network] in Tandrel.ini).\n\n"
              "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'");
    EXPECT_FALSE(deliveryWindow().isVisible());
    EXPECT_TRUE(StoredFiles(server.storeDir()).isEmpty());

    // The main window still works, and Send goes through once the host is right.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(find<QPushButton>("SendBut")->isEnabled());
    w->state().prefs.smtp = "127.0.0.1";
    find<QPushButton>("SendBut")->click();
    EXPECT_EQ(driver.boxes.size(), 2u);
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 3);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MailingEndToEnd, TheFirstStartDemoMailsEveryDemoPerson) {
    AiosmtpdServer server;
    // The set-up that scripts/run.sh writes beside the program on a first start.
    ASSERT_EQ(QProcess::execute(QStringLiteral("bash"),
                                {QStringLiteral(TANDREL_SOURCE_DIR "/scripts/demo/setup.sh"),
                                 QString::fromStdString(dir.path()),
                                 QString::fromStdString(server.portText())}),
              0);
    start();
    w->show();
    ModalDriver driver;
    find<QPushButton>("Button3")->click();
    find<QPushButton>("SendBut")->click();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.boxes.empty());

    const auto people = SplitTextLines(ReadFileBytes(dir.file("demo/people.txt")));
    ASSERT_GE(people.size(), 3u);
    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), static_cast<qsizetype>(people.size()));
    const auto msgs = ParseMessages(files);
    ASSERT_EQ(msgs.size(), people.size());
    for (std::size_t i = 0; i < people.size(); ++i) {
        const QStringList v = QString::fromStdString(people[i]).split(QLatin1Char(';'));
        ASSERT_EQ(v.size(), 3);
        SCOPED_TRACE(v[0].toStdString());
        EXPECT_TRUE(v[1].section('@', 1).startsWith("example.")); // reserved for examples
        EXPECT_EQ(StoredRecipients(files[i]), QStringList{v[1]});
        EXPECT_EQ(msgs[i].to, QStringLiteral("\"%1\" <%2>").arg(v[0], v[1]));
        EXPECT_EQ(msgs[i].subject, QStringLiteral("Greetings to %1, %2").arg(v[2], v[0]));
        EXPECT_EQ(msgs[i].from, "\"Tandrel Demo\" <demo@example.org>");
        EXPECT_TRUE(msgs[i].body.startsWith(("Dear " + v[0] + ",").toUtf8()));
        EXPECT_FALSE(msgs[i].body.contains('['));
    }
}

TEST_F(MailingEndToEnd, TheCheckBeforeSendingStopsOrLetsThroughTheRun) {
    AiosmtpdServer server;
    prepare("127.0.0.1", server.portText());
    start();
    w->show();
    w->setEditorTexts({"\"Demo Sender\" <demo@example.org>",
                       "\"[name]\" <[email]>",
                       "Hello from [cty]",
                       {"Dear [name],", "greetings to [cty]."}});

    // Cancel: no preparation, no delivery, no sent-log block, no results of a run.
    ModalDriver driver;
    driver.cancelChecks = true;
    moveEverybodyAndSend();
    ASSERT_EQ(driver.checkWindowsSeen, 1);
    EXPECT_TRUE(driver.sendAnywayOffered);
    EXPECT_TRUE(driver.boxes.back().contains("[cty]"));
    EXPECT_EQ(driver.wrapWindowsSeen + driver.sendWindowsSeen, 0);
    EXPECT_TRUE(w->state().sentLog.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(w->state().runResultsPath())));
    EXPECT_FALSE(server.waitForMessages(1, 500));

    // Send Anyway: every person gets the mail, the unknown placeholder left as written.
    driver.cancelChecks = false;
    find<QPushButton>("SendBut")->click();
    EXPECT_EQ(driver.checkWindowsSeen, 2);
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    ASSERT_TRUE(server.waitForMessages(3));
    const auto msgs = ParseMessages(StoredFiles(server.storeDir()));
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].subject, "Hello from [cty]");

    // A per-person file missing for one person blocks: only Cancel is offered.
    WriteFileBytes(dir.file("Ann Archer.txt"), "for Ann\r\n");
    WriteFileBytes(dir.file("Bob Baker.txt"), "for Bob\r\n");
    w->state().attachments = {MakeAttachment(dir.file("[name].txt"))};
    find<QPushButton>("SendBut")->click();
    EXPECT_EQ(driver.checkWindowsSeen, 3);
    EXPECT_FALSE(driver.sendAnywayOffered);
    EXPECT_TRUE(driver.boxes.back().contains("Cleo Carter.txt"));
    EXPECT_EQ(driver.sendWindowsSeen, 1);
    EXPECT_FALSE(server.waitForMessages(4, 500));
}

TEST_F(MailingEndToEnd, RecipientsNotReachedSurviveARestartAndATestMail) {
    AiosmtpdServer server(RefusingAt({"bob@example.org", "cleo@example.net=451"}));
    prepare("127.0.0.1", server.portText());
    start();
    w->show();
    QAction* notReached = action("EditNotReached");
    EXPECT_FALSE(notReached->isEnabled());
    ModalDriver driver;
    moveEverybodyAndSend();
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 1);
    EXPECT_TRUE(notReached->isEnabled());

    // A test mail for Bob goes to the sender alone and leaves the run's results alone.
    selectRows(receipients(), {1});
    action("EditTestMail")->trigger();
    EXPECT_EQ(driver.sendWindowsClosed, 2);
    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(StoredRecipients(files[1]), QStringList{"demo@example.org"});
    const auto test = ParseMessages({files[1]});
    ASSERT_EQ(test.size(), 1u);
    EXPECT_EQ(test[0].subject, "[Test] Greetings to Oslo");
    // The person's own message, To line included; only the envelope names the sender.
    EXPECT_EQ(test[0].to, "\"Bob Baker\" <bob@example.org>");
    EXPECT_TRUE(test[0].body.startsWith("Dear Bob Baker,")) << test[0].body.toStdString();
    EXPECT_TRUE(test[0].body.contains("you live in Oslo.")) << test[0].body.toStdString();
    EXPECT_EQ(w->state().sentLog.size(), 5u + 1 + 2); // the real run's block only

    w->close();
    app.reset();
    start();
    w->show();
    notReached = action("EditNotReached");
    ASSERT_TRUE(notReached->isEnabled());
    notReached->trigger();
    EXPECT_EQ(column(receipients(), 0), (std::vector<std::string>{"Bob Baker", "Cleo Carter"}));
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"", "*", "*"}));
}

TEST_F(MailingEndToEnd, SearchNarrowsWhatTheMoveCommandsAndThePreviewStepsActOn) {
    AiosmtpdServer server;
    prepare("127.0.0.1", server.portText());
    start();
    w->show();
    QLineEdit* searchAvailable = edit("SearchAvailable");
    QLineEdit* searchReceipients = edit("SearchReceipients");

    searchAvailable->setText("EXAMPLE.NET"); // by address, any case
    EXPECT_EQ(column(available(), 0), std::vector<std::string>{"Cleo Carter"});
    find<QPushButton>("Button3")->click(); // "->>" moves only who is shown
    searchAvailable->setText("bob");
    selectRows(available(), {0}); // Bob, the second entry underneath
    find<QPushButton>("Button2")->click();
    EXPECT_EQ(column(receipients(), 0), (std::vector<std::string>{"Cleo Carter", "Bob Baker"}));
    searchReceipients->setText("cleo");
    find<QPushButton>("Button4")->click(); // "<<-" takes back only who is shown
    searchReceipients->clear();
    EXPECT_EQ(column(receipients(), 0), std::vector<std::string>{"Bob Baker"});
    searchAvailable->setText("*"); // the recipient mark is no name
    EXPECT_TRUE(column(available(), 0).empty());
    searchAvailable->clear();
    find<QPushButton>("Button3")->click();
    EXPECT_EQ(column(receipients(), 0),
              (std::vector<std::string>{"Bob Baker", "Ann Archer", "Cleo Carter"}));

    // Next and Previous start the preview and step it through the rows as shown.
    QAction* next = action("EditPreviewNext");
    QAction* previous = action("EditPreviewPrevious");
    EXPECT_EQ(next->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Right));
    EXPECT_EQ(previous->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Left));
    next->trigger();
    EXPECT_EQ(edit("SubEdit")->text(), "Greetings to Oslo");
    next->trigger();
    next->trigger();
    next->trigger();
    EXPECT_EQ(edit("SubEdit")->text(), "Greetings to Porto");
    previous->trigger();
    EXPECT_EQ(edit("SubEdit")->text(), "Greetings to Lisbon");
    find<QToolButton>("SpeedButton1")->setChecked(false);
    EXPECT_EQ(edit("SubEdit")->text(), "Greetings to [town]");
}

// The built-in sign-in from the main window's Send: the browser (the redirect-following
// script, as $BROWSER) is opened once; the same session's second run logs in without it,
// refreshing the token once when the server refuses the one it had.
// No access or refresh token reaches a file of the program, of HOME or of TMPDIR.
TEST_F(MailingEndToEnd, SignInOnceInTheBrowserDeliversEveryRunOfTheSession) {
    IdentityProvider provider;
    TempDir home;
    const std::string browserLog = home.file("browser.log");
    ScopedEnv homeVar("HOME", home.path()), tmp("TMPDIR", home.path());
    ScopedEnv browser("BROWSER", "/usr/bin/python3 \"" + IdentityProvider::browserScript() + "\"");
    ScopedEnv logVar("TANDREL_BROWSER_LOG", browserLog);
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    AiosmtpdOptions options;
    options.tls = AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.user = "demo@example.org";
    options.oauthTokensFile = provider.tokensFile();
    options.oauthOnly = true;
    options.withoutOAuthBearer = true;
    AiosmtpdServer server(options);
    prepare("127.0.0.1", server.portText(),
            {{"security", "starttls"},
             {"user", "demo@example.org"},
             {"auth", "oauth2"},
             {"oauthprovider", "custom"},
             {"oauthclientid", "tandrel-test"},
             {"oauthauthurl", provider.authorizeUrl()},
             {"oauthtokenurl", provider.tokenUrl()},
             {"oauthscope", "smtp offline_access"}});
    start();
    std::map<std::string, std::string> keyringEntries;
    w->state().keyring = std::make_unique<FakeKeyring>(keyringEntries);
    w->state().rememberTokenLogin = true;
    w->show();

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        ModalDriver driver;
        moveEverybodyAndSend();
        EXPECT_FALSE(driver.timedOut);
        EXPECT_TRUE(driver.boxes.empty()) << driver.boxes.front().toStdString();
        EXPECT_EQ(StoredFiles(server.storeDir()).size(), 3 * run);
        EXPECT_EQ(SplitTextLines(ReadFileBytes(browserLog)).size(), 1u);
        find<QPushButton>("Button4")->click(); // "<<-": the lists as they were
        // The server stops taking the token of the first run (as when it runs out early):
        // the second run's first login is refused, and a refreshed token logs in.
        WriteFileBytes(provider.tokensFile(), "");
    }
    const std::vector<std::string> logins = server.authLog();
    ASSERT_EQ(logins.size(), 3u);
    for (const std::string& line : logins)
        EXPECT_EQ(line.rfind("XOAUTH2 user=demo@example.org", 0), 0u) << line;
    EXPECT_NE(logins[0].find("token=valid"), std::string::npos) << logins[0];
    EXPECT_NE(logins[1].find("token=invalid answer=ok"), std::string::npos) << logins[1];
    EXPECT_NE(logins[2].find("token=valid"), std::string::npos) << logins[2];
    EXPECT_EQ(provider.stats().codeGrants, 1);
    EXPECT_EQ(provider.stats().refreshGrants, 1);
    const std::string logText = ReadFileBytes(dir.file("Tandrel.log"));
    EXPECT_NE(logText.find("AUTH XOAUTH2 ****\r\n"), std::string::npos);

    w->close();
    std::vector<std::string> secrets = provider.validAccessTokens();
    ASSERT_EQ(keyringEntries.size(), 1u); // the refresh token, remembered as asked
    secrets.push_back(keyringEntries.begin()->second);
    std::string written;
    for (const std::string& folder : {dir.path(), home.path()})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) written += ReadFileBytes(entry.path().string());
    for (const std::string& secret : secrets) {
        ASSERT_GE(secret.size(), 16u);
        EXPECT_EQ(written.find(secret), std::string::npos) << secret;
    }
}

// A login by token waits for the sign-in in the browser (here a token command that takes
// its time): meanwhile a modal window keeps the people of the run from being changed
// under it, and its Cancel ends the run at once with nothing sent, no error, and the
// token command ended.
TEST_F(MailingEndToEnd, TheSignInIsWaitedForInAModalWindowWhoseCancelEndsIt) {
    WriteFileBytes(dir.file("token.sh"), "echo $$ > pid\nexec sleep 20\n");
    prepare("127.0.0.1", "1",
            {{"security", "starttls"},
             {"user", "demo@example.org"},
             {"auth", "oauth2"},
             {"oauthcommand", "cd '" + dir.path() + "' && . ./token.sh"}});
    start();
    w->show();

    // A click as the user makes it, through the main window, where a modal window blocks it.
    auto clickBackAll = [this] {
        QPushButton* button = find<QPushButton>("Button4"); // "<<-": off the recipients
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {},
                          button->mapTo(w->window(), button->rect().center()));
        QApplication::processEvents();
    };
    bool waitSeen = false;
    std::size_t rowsAfterClick = 0;
    QTimer user;
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (waitSeen || !modal || modal->objectName() != "SignInWaitBox" ||
            !FileExists(dir.file("pid")))
            return;
        waitSeen = true;
        clickBackAll();
        rowsAfterClick = w->recipientRows().size();
        QPushButton* cancel = modal->findChild<QPushButton*>("CancelBut");
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    user.start();
    ModalDriver driver;
    QElapsedTimer clock;
    clock.start();
    moveEverybodyAndSend();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(waitSeen);
    EXPECT_EQ(rowsAfterClick, 3u);
    EXPECT_TRUE(driver.boxes.empty()) << driver.boxes.front().toStdString();
    EXPECT_EQ(driver.sendWindowsSeen, 0);
    clickBackAll(); // the same click, with no run, does take everybody off
    EXPECT_EQ(w->recipientRows().size(), 0u);
    const std::string pid = ReadFileBytes(dir.file("pid"));
    const std::string stat = ReadFileBytes("/proc/" + pid.substr(0, pid.find('\n')) + "/stat");
    const std::size_t paren = stat.rfind(')');
    EXPECT_TRUE(paren == std::string::npos || stat.substr(paren + 2, 1) == "Z")
        << "the token command still runs";
}
