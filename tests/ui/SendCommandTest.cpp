// SPDX-License-Identifier: GPL-3.0-or-later
// The Send command from preparation to the sent log, with the real preparation and
// delivery windows and real SMTP servers on loopback.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QTcpServer>
#include <filesystem>
#include <gtest/gtest.h>

#include "tests/support/FakeKeyring.h"
#include "model/MailFile.h"
#include "mailing/MailingRun.h"
#include "tests/ui/MailingTestKit.h"
#include "ui/mailing/PasswordPrompt.h"
#include "merge/Preparation.h"
#include "model/RunResults.h"
#include "ui/mailing/SendLauncher.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

struct Mailing : RunRig {
    TempDir dir;
    Mailing() {
        AppState& st = main.st;
        st.programDir = dir.path();
        st.computerName = "testhost";
        st.prefs.smtp = "127.0.0.1";
        st.prefs.name = "Sender";
        st.prefs.fromAddress = "sender@example.org";
        main.rows = {&main.addPerson("Ann", "ann@example.org", "Lisbon"),
                     &main.addPerson("Bob", "bob@example.org", "Oslo"),
                     &main.addPerson("Cleo", "cleo@example.org", "Porto")};
        main.eds = {"\"Sender\" <sender@example.org>",
                    "\"[name]\" <[email]>",
                    "Hello [name]",
                    {"Dear [name],", "you live in [town]."}};
    }
    void useServer(const std::string& port) { main.st.prefs.port = port; }
    std::vector<std::string> snt() const {
        return SplitTextLines(ReadFileBytes(main.st.sentLogPath()));
    }
    bool memoHas(const QString& line) const {
        return delivery->reportMemo->toPlainText().split(QLatin1Char('\n')).contains(line);
    }
};

// The lines of one sent-log block after its date line.
std::vector<std::string> BlockAfterDate(const std::string& subject,
                                        const std::vector<std::string>& addresses) {
    std::vector<std::string> out{"", "Subject: " + subject, "", "Mails sent to:"};
    out.insert(out.end(), addresses.begin(), addresses.end());
    out.push_back("");
    out.push_back("");
    return out;
}

bool IsDateLine(const std::string& line) {
    static const QRegularExpression re(QStringLiteral(
        R"(^Mailing started (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}$)"));
    return re.match(QString::fromStdString(line)).hasMatch();
}

// Checks that `lines` from `at` on hold one block; returns the index after it.
std::size_t ExpectBlock(const std::vector<std::string>& lines, std::size_t at,
                        const std::string& subject, const std::vector<std::string>& addresses) {
    const auto rest = BlockAfterDate(subject, addresses);
    EXPECT_LT(at + rest.size(), lines.size() + 1);
    if (at + rest.size() >= lines.size() + 1) return lines.size();
    EXPECT_TRUE(IsDateLine(lines[at])) << lines[at];
    EXPECT_EQ(
        std::vector<std::string>(lines.begin() + at + 1, lines.begin() + at + 1 + rest.size()),
        rest);
    return at + 1 + rest.size();
}

const std::vector<std::string> kAll{"ann@example.org", "bob@example.org", "cleo@example.org"};

} // namespace

TEST(SendCommand, DoesNothingWithoutDatabaseOrRecipients) {
    for (bool withDb : {false, true}) {
        Mailing m;
        m.main.rows.clear();
        if (!withDb) m.main.st.freeDatabase();
        ModalDriver driver;
        m.send();
        EXPECT_TRUE(driver.boxes.empty());
        EXPECT_TRUE(m.main.st.sentLog.empty());
        EXPECT_FALSE(FileExists(m.main.st.sentLogPath()));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST(SendCommand, EachRecipientGetsTheirOwnMergedMessageWithAttachments) {
    AiosmtpdServer server;
    Mailing m;
    m.useServer(server.portText());
    // A text attachment chosen per person and one binary file for everybody.
    for (const char* name : {"Ann", "Bob", "Cleo"})
        WriteFileBytes(m.dir.file(std::string(name) + ".txt"),
                       std::string("Notes for ") + name + "\r\nline two\r\n");
    std::string gif = "GIF89a";
    for (int i = 0; i < 200; ++i)
        gif.push_back(static_cast<char>(i * 7));
    WriteFileBytes(m.dir.file("photo.gif"), gif);
    m.main.st.attachments = {MakeAttachment(m.dir.file("[name].txt")),
                             MakeAttachment(m.dir.file("photo.gif"))};

    ModalDriver driver;
    m.send();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.boxes.empty());
    EXPECT_EQ(driver.wrapWindowsSeen, 1);
    EXPECT_TRUE(driver.hourglassWhilePreparing);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(m.preparation->isVisible());
    EXPECT_EQ(m.preparation->gauge->value(), 100);

    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), 3);
    const auto msgs = ParseMessages(files);
    ASSERT_EQ(msgs.size(), 3u);
    const char* towns[] = {"Lisbon", "Oslo", "Porto"};
    const char* names[] = {"Ann", "Bob", "Cleo"};
    for (int i = 0; i < 3; ++i) {
        const ParsedMessage& msg = msgs[i];
        const QString name = QString::fromLatin1(names[i]);
        EXPECT_EQ(StoredRecipients(files[i]).value(0), QString::fromStdString(kAll[i]));
        EXPECT_EQ(msg.to, QStringLiteral("\"%1\" <%2>").arg(name, QString::fromStdString(kAll[i])));
        EXPECT_EQ(msg.subject, "Hello " + name);
        EXPECT_EQ(msg.from, "\"Sender\" <sender@example.org>");
        EXPECT_EQ(msg.mailer, "Tandrel 1.1");
        EXPECT_TRUE(msg.defects.isEmpty()) << msg.defects.join(' ').toStdString();
        ASSERT_TRUE(msg.multipart);
        ASSERT_EQ(msg.parts.size(), 3u);
        // The line end before the next part's delimiter belongs to the delimiter.
        EXPECT_EQ(msg.body, ("Dear " + name + ",\r\nyou live in " + towns[i] + ".").toLatin1());
        EXPECT_EQ(msg.parts[1].fileName, name + ".txt");
        EXPECT_EQ(msg.parts[1].contentType, "text/plain");
        EXPECT_TRUE(
            msg.parts[1].data.startsWith(("Notes for " + name + "\r\nline two").toLatin1()));
        EXPECT_EQ(msg.parts[2].fileName, "photo.gif");
        EXPECT_EQ(msg.parts[2].contentType, "image/gif");
        EXPECT_EQ(msg.parts[2].data, QByteArray::fromStdString(gif));
    }
    const auto lines = m.snt();
    EXPECT_EQ(ExpectBlock(lines, 0, "Hello [name]", kAll), lines.size());
    EXPECT_EQ(lines, m.main.st.sentLog);
}

TEST(SendCommand, APreparationFailureSendsNothingAndTheNextSendWorks) {
    struct Case {
        const char* what;
        std::function<void(Mailing&)> spoil;
        std::string boxMentions;
        bool caughtByCheck = false; // stopped by the check before sending, not by preparation
    };
    const Case cases[] = {
        {"unreadable text attachment",
         [](Mailing& m) { m.main.st.attachments = {MakeAttachment("/nonexistent-dir/notes.txt")}; },
         "notes.txt", true},
        {"attachment on a mail without header block",
         [](Mailing& m) {
             WriteFileBytes(m.dir.file("a.txt"), "text\r\n");
             m.main.st.attachments = {MakeAttachment(m.dir.file("a.txt"))};
             m.main.eds.from = m.main.eds.to = m.main.eds.subject = "";
             m.main.st.mailText.hasHeader = false;
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AiosmtpdServer server;
        Mailing m;
        m.useServer(server.portText());
        c.spoil(m);
        ModalDriver driver;
        m.send();
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_TRUE(driver.boxes[0].contains(QString::fromStdString(c.boxMentions)));
        EXPECT_EQ(driver.checkWindowsSeen, c.caughtByCheck ? 1 : 0);
        if (c.caughtByCheck)
            EXPECT_FALSE(driver.sendAnywayOffered);
        else
            EXPECT_TRUE(driver.boxes[0].contains("No mail has been sent"));
        EXPECT_EQ(driver.sendWindowsSeen, 0);
        EXPECT_FALSE(m.preparation->isVisible());
        EXPECT_TRUE(m.main.st.sentLog.empty());
        EXPECT_FALSE(FileExists(m.main.st.sentLogPath()));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(StoredFiles(server.storeDir()).isEmpty());

        m.main.st.attachments.clear();
        m.send();
        EXPECT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(StoredFiles(server.storeDir()).size(), 3);
    }
}

TEST(SendCommand, ImmediateConnectErrorsAreShownAfterTheCleanUp) {
    struct Case {
        std::string smtp, port, error;
    };
    const Case cases[] = {
        {"", "25", "Connect: No IP Address Specified"},
        {"no-such-host.invalid", "25",
         "Cannot find the server \"no-such-host.invalid\". Check the server name in "
         "Preferences (smtp= under [Network] in Tandrel.ini).\n\n"
         "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
        {"127.0.0.1", "no-such-service",
         "connect: WSocketResolvePort: Cannot convert port 'no-such-service'"},
    };
    AiosmtpdServer server;
    Mailing m;
    ModalDriver driver;
    std::size_t blocks = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        m.main.st.prefs.smtp = c.smtp;
        m.main.st.prefs.port = c.port;
        driver.boxes.clear();
        m.send();
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0].toStdString(), c.error);
        EXPECT_FALSE(m.delivery->isVisible());
        EXPECT_TRUE(m.main.st.runLog.empty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        // The run started, so its block is written, without any address.
        const auto lines = m.snt();
        std::size_t at = 0;
        for (std::size_t i = 0; i <= blocks; ++i)
            at = ExpectBlock(lines, at, "Hello [name]", {});
        EXPECT_EQ(at, lines.size());
        ++blocks;
    }
    m.main.st.prefs.smtp = "127.0.0.1";
    m.useServer(server.portText());
    driver.boxes.clear();
    m.send();
    EXPECT_TRUE(driver.boxes.empty());
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 3);
}

TEST(SendCommand, ASentLogThatCannotBeWrittenIsReported) {
    AiosmtpdServer server;
    Mailing m;
    m.useServer(server.portText());
    std::filesystem::create_directory(m.main.st.sentLogPath()); // a file cannot go there
    ModalDriver driver;
    m.send();
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].toStdString(),
              "Cannot create file " + m.main.st.sentLogPath() + ": Is a directory");
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 3);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(SendCommand, WithThePreviewShownTheTemplateFromItsStartIsSent) {
    for (bool preview : {false, true}) {
        SCOPED_TRACE(preview);
        AiosmtpdServer server;
        Mailing m;
        m.useServer(server.portText());
        m.main.rows.resize(1);
        // The template as it was when the preview began ...
        MailEditors atPreview = m.main.eds;
        atPreview.subject = "Template [town]";
        BuildMailText(m.main.st, atPreview);
        // ... and the editors now showing the merged text.
        m.main.eds.subject = "Hello Ann";
        m.main.preview = preview;

        ModalDriver driver;
        m.send();
        const auto msgs = ParseMessages(StoredFiles(server.storeDir()));
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].subject, preview ? "Template Lisbon" : "Hello Ann");
        EXPECT_EQ(m.snt().at(2), "Subject: Hello Ann");
    }
}

// "Send Test to Me" for a person whose mail has Cc and Bcc lines, with the editors and
// with the preview shown: the sender alone gets it, and sees the person's own To and Cc
// lines (the Bcc line is never sent). The template stays as it was.
TEST(SendCommand, ATestMailGoesToTheSenderAloneAndShowsThePersonsCcLine) {
    for (bool preview : {false, true}) {
        SCOPED_TRACE(preview);
        AiosmtpdServer server;
        Mailing m;
        m.useServer(server.portText());
        m.main.eds.headerLines = {{"Cc", "boss-[town]@example.net"}, {"Bcc", "audit@example.net"}};
        if (preview) {
            // The template as it was when the preview began, the editors showing Ann's.
            BuildMailText(m.main.st, m.main.eds);
            m.main.eds.subject = "Hello Ann";
            m.main.eds.headerLines = {{"Cc", "boss-Lisbon@example.net"},
                                      {"Bcc", "audit@example.net"}};
            m.main.preview = true;
        }
        const MailText before = m.main.st.mailText;

        ModalDriver driver;
        m.sendTest(*m.main.rows[1]);
        EXPECT_TRUE(driver.boxes.empty());
        EXPECT_EQ(driver.sendWindowsClosed, 1);
        const QStringList files = StoredFiles(server.storeDir());
        ASSERT_EQ(files.size(), 1);
        EXPECT_EQ(StoredRecipients(files[0]).join(" ").toStdString(), "sender@example.org");
        const auto msgs = ParseMessages(files);
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].subject, "[Test] Hello Bob");
        EXPECT_EQ(msgs[0].to, "\"Bob\" <bob@example.org>");
        EXPECT_EQ(msgs[0].cc, "boss-Oslo@example.net");
        EXPECT_FALSE(msgs[0].hasBcc);
        EXPECT_TRUE(msgs[0].defects.isEmpty()) << msgs[0].defects.join(' ').toStdString();
        EXPECT_EQ(m.main.st.mailText.lines, before.lines);
        EXPECT_TRUE(m.main.st.sentLog.empty());
    }
}

// The gauge moves while the messages are prepared, but paints (each an upload to the
// display and an event for the accessibility bridge) neither per message nor per percent.
TEST(SendCommand, ThePreparationWindowPaintsWhenItsGaugeMovesNotPerMessage) {
    Mailing m;
    m.main.rows.clear();
    for (int i = 0; i < 3000; ++i)
        m.main.rows.push_back(&m.main.addPerson("P" + std::to_string(i),
                                                "p" + std::to_string(i) + "@example.org", "X"));
    PaintCounter counter;
    m.preparation->gauge->installEventFilter(&counter);
    BuildMailText(m.main.st, m.main.eds);
    MailingRun run(m.main.st, m.main.rows, m.main.eds.subject);
    QElapsedTimer clock;
    clock.start();
    RunOptions prepareOnly;
    prepareOnly.prepareOnly = true;
    const MailingSummary summary = RunInWindows(m.windows(), run, std::move(prepareOnly));
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(summary.ending, RunEnding::Prepared);
    ASSERT_NE(run.prepared(), nullptr);
    ASSERT_EQ(run.prepared()->count(), 3000u);
    EXPECT_EQ(run.prepared()->address(0), "p0@example.org");
    EXPECT_EQ(run.prepared()->address(2999), "p2999@example.org");
    EXPECT_EQ(m.preparation->gauge->value(), 100);
    EXPECT_GE(counter.paints, std::min<qint64>(10, 2 + ms / 100)) << ms << " ms";
    EXPECT_LE(counter.paints, 3 + ms / 25) << ms << " ms"; // under 40 a second
    EXPECT_FALSE(m.preparation->isVisible());
}

TEST(SendCommand, ItsWindowsComeUpInTheMiddleOfTheScreenWhereverTheMainWindowIs) {
    AiosmtpdServer server;
    Mailing m;
    m.useServer(server.portText());
    // A main window in a corner of the screen, which the windows must not follow.
    m.main.widget.setGeometry(0, 0, 220, 160);
    m.main.widget.show();
    const QPoint middle = m.main.widget.screen()->availableGeometry().center();
    ModalDriver driver;
    for (int run = 0; run < 2; ++run) { // the second showing too, with its frame known
        SCOPED_TRACE(run);
        driver.wrapFrame = driver.sendFrame = QRect();
        m.send();
        ASSERT_FALSE(driver.wrapFrame.isNull());
        ASSERT_FALSE(driver.sendFrame.isNull());
        for (const QRect& frame : {driver.wrapFrame, driver.sendFrame}) {
            EXPECT_LE(std::abs(frame.center().x() - middle.x()), 1) << frame.center().x();
            EXPECT_LE(std::abs(frame.center().y() - middle.y()), 1) << frame.center().y();
        }
    }
    EXPECT_EQ(driver.sendWindowsClosed, 2);
}

namespace {

// Answers the password question when it comes up: with a password, or with Cancel.
class PromptAnswer {
public:
    PromptAnswer(QString password, bool remember) : password_(std::move(password)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this, remember] {
            auto* p = qobject_cast<PasswordPrompt*>(QApplication::activeModalWidget());
            if (!p) return;
            ++asked;
            question = p->findChild<QLabel*>("PasswordLabel")->text();
            if (password_.isNull()) {
                p->reject();
                return;
            }
            p->passwordEdit->setText(password_);
            p->rememberCheck->setChecked(remember);
            p->accept();
        });
        timer_.start();
    }
    int asked = 0;
    QString question;

private:
    QString password_;
    QTimer timer_;
};

} // namespace

// A login name makes Send ask for the password before anything is prepared: Cancel
// abandons the Send; OK sends, keeps the password for the session and, when asked to,
// in the keyring, and no file of the program ever holds it.
TEST(SendCommand, ThePasswordIsAskedOnceAndNeverWritten) {
    const std::string secret = "Pa55-w\xc3\xb6rd";
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    AiosmtpdOptions options;
    options.tls = AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.requireStartTls = true;
    options.user = "ann";
    options.password = secret;
    options.authRequired = true;
    AiosmtpdServer server(options);
    Mailing m;
    m.useServer(server.portText());
    std::map<std::string, std::string> keyring;
    m.main.st.keyring = std::make_unique<FakeKeyring>(keyring);
    m.main.st.prefs.security = "starttls";
    m.main.st.prefs.user = "ann";
    ModalDriver driver;
    {
        PromptAnswer cancel(QString(), false);
        m.send();
        EXPECT_EQ(cancel.asked, 1);
        EXPECT_EQ(cancel.question, "Password for ann at 127.0.0.1");
    }
    EXPECT_EQ(driver.wrapWindowsSeen, 0);
    EXPECT_EQ(driver.sendWindowsSeen, 0);
    EXPECT_TRUE(m.main.st.sentLog.empty());
    EXPECT_FALSE(FileExists(m.main.st.sentLogPath()));
    EXPECT_TRUE(m.main.st.password.empty());

    {
        PromptAnswer ok(QString::fromUtf8(secret.c_str()), true);
        m.send();
        m.send();
        EXPECT_EQ(ok.asked, 1);
    }
    EXPECT_EQ(driver.sendWindowsClosed, 2);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 6);
    for (const StoredMessage& stored : server.messages()) {
        EXPECT_TRUE(stored.encrypted);
        EXPECT_EQ(stored.login, "ann");
    }
    EXPECT_EQ(m.main.st.password, secret);
    EXPECT_EQ(keyring, (std::map<std::string, std::string>{{"ann@127.0.0.1", secret}}));
    ASSERT_TRUE(FileExists(m.main.st.runResultsPath()));
    for (const auto& f : std::filesystem::recursive_directory_iterator(m.dir.path())) {
        if (f.is_regular_file()) {
            EXPECT_EQ(ReadFileBytes(f.path().string()).find("Pa55"), std::string::npos) << f.path();
        }
    }

    // A new session finds it in the keyring without asking.
    m.main.st.password.clear();
    m.main.st.passwordAccount.clear();
    PromptAnswer never(QString(), false);
    m.send();
    EXPECT_EQ(never.asked, 0);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 9);
    EXPECT_FALSE(driver.timedOut);
}

// A password with a line break would end the login command it goes into: the window
// refuses it with the same words as `tandrel send`, sends nothing, and neither keeps nor
// remembers it, whether it was typed or found in the keyring.
TEST(SendCommand, APasswordWithALineBreakIsRefusedAndNotKept) {
    struct Row {
        const char* what;
        std::string kept; // in the keyring; "" types it in the prompt
        QString typed;
    };
    const Row rows[] = {{"typed", "", QStringLiteral("pass\nword")},
                        {"kept in the keyring", "pass\r\nword", QString()}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AiosmtpdServer server;
        Mailing m;
        m.useServer(server.portText());
        std::map<std::string, std::string> keyring;
        if (!row.kept.empty()) keyring["ann@127.0.0.1"] = row.kept;
        m.main.st.keyring = std::make_unique<FakeKeyring>(keyring);
        m.main.st.prefs.security = "starttls";
        m.main.st.prefs.user = "ann";
        ModalDriver driver;
        PromptAnswer answer(row.typed, true);
        m.send();
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0].toStdString(), PasswordFault(row.kept.empty()
                                                                    ? row.typed.toStdString()
                                                                    : row.kept) +
                                                     "\n\nNo mail has been sent.");
        EXPECT_EQ(driver.wrapWindowsSeen, 0);
        EXPECT_EQ(driver.sendWindowsSeen, 0);
        EXPECT_TRUE(m.main.st.password.empty());
        EXPECT_EQ(keyring.size(), row.kept.empty() ? 0u : 1u);
        EXPECT_TRUE(StoredFiles(server.storeDir()).isEmpty());
    }
}

// The results file names exactly the people a run did not reach, keeps two entries with
// the same name and address apart, and survives the end of the session; a refused
// connection says so in plain words and reaches nobody.
TEST(SendCommand, TheRecipientsNotReachedAreKeptBesideTheSettings) {
    AiosmtpdServer server(RefusingAt({"bob@example.org"}));
    Mailing m;
    m.useServer(server.portText());
    Person& ann2 = m.main.addPerson("Ann", "ann@example.org", "Faro");
    m.main.addPerson("Dan", "dan@example.org", "Braga"); // not in the run
    m.main.rows.push_back(&ann2);
    ModalDriver driver;
    m.send();
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    const std::vector<Person*> bob{m.main.rows[1]};
    EXPECT_EQ(RecipientsNotReached(m.main.st), bob);
    EXPECT_TRUE(m.memoHas("To send to the people not reached, use Edit, Recipients Not Reached."));

    const auto results = ReadRunResults(m.main.st.runResultsPath());
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].person, (PersonId{"Ann", "ann@example.org", 0}));
    EXPECT_EQ(results[3].person, (PersonId{"Ann", "ann@example.org", 1}));
    EXPECT_EQ(results[3].outcome, Outcome::Accepted);

    // Only the second Ann is sent to, to a port where nobody listens.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(closed.serverPort());
    closed.close();
    m.useServer(port);
    m.main.rows = {&ann2};
    m.send();
    // The line names the server and port tried, and where they are set.
    const QString memo = m.delivery->reportMemo->toPlainText();
    EXPECT_TRUE(memo.contains(QString::fromStdString(
        "The server 127.0.0.1 did not accept a connection on port " + port + ". ")))
        << memo.toStdString();
    EXPECT_TRUE(memo.contains("Preferences") && memo.contains("port= under [Network]"));
    EXPECT_TRUE(m.memoHas("Connection refused"));
    // The same database loaded again in a new session: found by name, address and place.
    AppState later;
    later.programDir = m.main.st.programDir;
    later.newDatabase();
    for (const auto& e : m.main.st.db->entries) {
        Person& copy = later.db->appendEntry();
        copy.setName(e->name());
        copy.setEmail(e->email());
    }
    const std::vector<Person*> secondAnn{later.db->entries[3].get()};
    EXPECT_EQ(RecipientsNotReached(later), secondAnn);
    EXPECT_FALSE(driver.timedOut);
}
