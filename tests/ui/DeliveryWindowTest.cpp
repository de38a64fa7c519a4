// The delivery window: its controls, what the dialogue's reports do to them, and whole
// runs against real SMTP servers on loopback.
#include <QAccessible>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>

#include "MailingTestKit.h"
#include "TestSupport.h"
#include "TextFile.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

// Records what the dialogue reports while still showing it.
class RecordingSendWin : public DeliveryWindow {
public:
    using DeliveryWindow::DeliveryWindow;
    std::vector<std::string> statuses;
    std::vector<int> gauges;
    void setStatus(const std::string& text) override {
        statuses.push_back(text);
        DeliveryWindow::setStatus(text);
    }
    void setGauge(int value) override {
        gauges.push_back(value);
        DeliveryWindow::setGauge(value);
    }
    std::vector<std::string> memo; // as reported since the last memoClear
    void memoClear() override {
        memo.clear();
        DeliveryWindow::memoClear();
    }
    void memoAppend(const std::string& line) override {
        memo.push_back(line);
        DeliveryWindow::memoAppend(line);
    }
};

struct SendRig {
    TestMain main;
    Forms forms;
    TempDir dir;
    RecordingSendWin* win;
    SendRig() {
        win = new RecordingSendWin(main.st, main, forms, &main.widget);
        forms.deliveryWindow = win;
        main.st.ProgramDir = dir.path();
        main.st.LocalComputerName = "testhost";
        main.st.prefs.smtp = "127.0.0.1";
        main.st.prefs.fromaddy = "sender@example.org";
    }
    void addMessage(const std::string& to, const std::vector<std::string>& lines) {
        main.st.outgoing.push_back(MailNode{to, MessageLines(lines)});
        main.st.RecipientCount = static_cast<int>(main.st.outgoing.size());
    }
    std::vector<std::string> memoLines() const {
        std::vector<std::string> out;
        for (const QString& l : win->reportMemo->toPlainText().split(QLatin1Char('\n')))
            out.push_back(l.toStdString());
        return out;
    }
    bool memoHas(const std::string& line) const {
        const auto lines = memoLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // One run as the Send command does it: show, wait for the end, close the socket.
    void deliver() {
        win->deliver();
        win->closeConnection();
    }
};

std::vector<std::string> Message(const std::string& to, const std::string& subject,
                                 std::vector<std::string> body) {
    std::vector<std::string> lines{"Date: Tue, 05 Jan 1999 09:07:03 +0100",
                                   "From: \"Sender\" <sender@example.org>",
                                   "To: " + to,
                                   "Subject: " + subject,
                                   "MIME-Version: 1.0",
                                   "Content-type: text/plain",
                                   "X-Mailer: Tandrel 1.1",
                                   ""};
    lines.insert(lines.end(), body.begin(), body.end());
    return lines;
}

QString AccessibleName(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

} // namespace

TEST(DeliveryWindow, ShowsItsControlsAsDesigned) {
    SendRig rig;
    DeliveryWindow& w = *rig.win;
    EXPECT_EQ(w.windowTitle(), "Sending mails");
    EXPECT_TRUE(w.isModal());
    const Qt::WindowFlags f = w.windowFlags();
    EXPECT_TRUE(f.testFlag(Qt::WindowStaysOnTopHint));
    for (Qt::WindowType button : {Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                  Qt::WindowMaximizeButtonHint, Qt::WindowSystemMenuHint})
        EXPECT_FALSE(f.testFlag(button)) << button;

    // Controls are found by their names, as a screen reader or test would.
    ASSERT_EQ(w.findChild<QLabel*>("Label1"), w.statusLabel);
    ASSERT_EQ(w.findChild<QProgressBar*>("Gauge1"), w.gauge);
    ASSERT_EQ(w.findChild<QPlainTextEdit*>("Memo1"), w.reportMemo);
    ASSERT_EQ(w.findChild<QPushButton*>("CloseBut"), w.closeButton);
    ASSERT_EQ(w.findChild<QPushButton*>("cancelBut"), w.cancelButton);
    ASSERT_NE(w.findChild<QWidget*>("Panel1"), nullptr);
    EXPECT_EQ(w.statusLabel->parentWidget(), w.statusPanel);

    EXPECT_EQ(w.statusLabel->text(), "Preparing to send...");
    EXPECT_EQ(w.gauge->value(), 0);
    EXPECT_TRUE(w.reportMemo->isReadOnly());
    EXPECT_EQ(w.closeButton->text(), "C&lose");
    EXPECT_FALSE(w.closeButton->isEnabled());
    EXPECT_EQ(w.cancelButton->text(), "C&ancel");
    EXPECT_TRUE(w.cancelButton->isEnabled());

    // A screen reader announces the buttons without the accelerator mark, and every
    // control that carries information has a name.
    EXPECT_EQ(AccessibleName(w.closeButton), "Close");
    EXPECT_EQ(AccessibleName(w.cancelButton), "Cancel");
    EXPECT_FALSE(AccessibleName(w.gauge).isEmpty());
    EXPECT_FALSE(AccessibleName(w.reportMemo).isEmpty());
    EXPECT_EQ(AccessibleName(w.statusLabel), "Preparing to send...");

    // Tab order: cancelButton, statusPanel, reportMemo, closeButton, and round again.
    std::vector<QWidget*> chain;
    QWidget* x = w.cancelButton;
    while (chain.size() < 4) {
        x = x->nextInFocusChain();
        if (x->focusPolicy() & Qt::TabFocus) chain.push_back(x);
    }
    EXPECT_EQ(chain,
              (std::vector<QWidget*>{w.statusPanel, w.reportMemo, w.closeButton, w.cancelButton}));
}

TEST(DeliveryWindow, EscapeAndCloseRequestsDoNotEndARun) {
    SendRig rig;
    DeliveryWindow& w = *rig.win;
    w.show();
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible());
    w.close();
    EXPECT_TRUE(w.isVisible());
    w.closeButton->setEnabled(true);
    w.closeButton->click();
    EXPECT_FALSE(w.isVisible());
}

TEST(DeliveryWindow, ReportsOfTheDialogueReachTheControls) {
    SendRig rig;
    DeliveryWindow& w = *rig.win;

    struct GaugeCase {
        int given, shown;
        const char* text;
    };
    for (const GaugeCase& c :
         {GaugeCase{-4, 0, "0%"}, GaugeCase{0, 0, "0%"}, GaugeCase{57, 57, "57%"},
          GaugeCase{100, 100, "100%"}, GaugeCase{250, 100, "100%"}}) {
        w.setGauge(c.given);
        w.flushUpdates();
        EXPECT_EQ(w.gauge->value(), c.shown) << c.given;
        EXPECT_EQ(w.gauge->text(), c.text) << c.given;
    }

    w.setStatus("Sending 2 of 7");
    w.flushUpdates();
    EXPECT_EQ(w.statusLabel->text(), "Sending 2 of 7");
    EXPECT_EQ(AccessibleName(w.statusLabel), "Sending 2 of 7");

    // Server replies arrive with their line ends; each shows as its own lines.
    struct MemoCase {
        std::string appended;
        QString shownAtEnd;
    };
    w.memoClear();
    for (const MemoCase& c :
         {MemoCase{"Error, illegal receipient \"b@example.org\", resuming:",
                   "Error, illegal receipient \"b@example.org\", resuming:"},
          MemoCase{"550 5.1.1 rejected\r\n", "550 5.1.1 rejected"}, MemoCase{"", ""},
          MemoCase{"421-first\r\n421 second\r\n", "421-first\n421 second"}}) {
        w.memoAppend(c.appended);
        w.flushUpdates();
        EXPECT_TRUE(w.reportMemo->toPlainText().endsWith(c.shownAtEnd)) << c.appended;
    }
    EXPECT_EQ(w.reportMemo->toPlainText().count(QLatin1Char('\n')), 4);
    w.memoClear();
    EXPECT_TRUE(w.reportMemo->toPlainText().isEmpty());

    // A run log that could not be saved keeps Cancel as the only way out.
    w.deliveryEnded(false);
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_FALSE(w.closeButton->isEnabled());
    w.deliveryEnded(true);
    EXPECT_FALSE(w.cancelButton->isEnabled());
    EXPECT_TRUE(w.closeButton->isEnabled());
}

TEST(DeliveryWindow, DeliversEveryMessageToARealServer) {
    AiosmtpdServer server;
    SendRig rig;
    rig.main.st.prefs.port = server.portText();
    // Earlier runs are in the file, never in memory: this run's lines are appended.
    WriteFileBytes(rig.main.st.runLogPath(), "an earlier run\r\n");
    rig.addMessage("ann@example.org", Message("Ann <ann@example.org>", "One", {"Hello Ann", "."}));
    rig.addMessage("bob@example.org", Message("Bob <bob@example.org>", "Two", {"..", ""}));
    rig.addMessage("cleo@example.org", Message("Cleo <cleo@example.org>", "Three", {"Bye"}));
    rig.win->reportMemo->setPlainText("left over from the last run");

    ModalDriver driver;
    rig.deliver();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_FALSE(rig.win->isVisible());

    EXPECT_EQ(rig.win->statuses,
              (std::vector<std::string>{"Connecting...", "Connected to Host", "Sending 1 of 3",
                                        "Sending 2 of 3", "Sending 3 of 3", "Disconnected"}));
    EXPECT_EQ(rig.win->gauge->value(), 100);
    const auto& g = rig.win->gauges;
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    for (int step : {33, 66, 100})
        EXPECT_NE(std::find(g.begin(), g.end(), step), g.end());

    EXPECT_FALSE(rig.memoHas("left over from the last run"));
    for (const char* a : {"ann@example.org", "bob@example.org", "cleo@example.org"})
        EXPECT_TRUE(rig.memoHas(std::string("Mail was sent to: \"") + a + "\"")) << a;
    EXPECT_TRUE(rig.memoHas("All letters have been sent"));
    EXPECT_FALSE(rig.memoHas("Some errors occurred!"));
    EXPECT_EQ(rig.main.st.SentLog,
              (std::vector<std::string>{"ann@example.org", "bob@example.org", "cleo@example.org"}));

    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(StoredRecipients(files[1]).value(0), "bob@example.org");
    EXPECT_EQ(StoredSender(files[1]), "sender@example.org");
    // Dot lines arrive unstuffed; the end-of-data mark adds one empty line (the server
    // joins the received lines with CR LF, so the last one has no line end).
    EXPECT_EQ(ReadFileBytes(files[1].toStdString()),
              "Date: Tue, 05 Jan 1999 09:07:03 +0100\r\nFrom: \"Sender\" <sender@example.org>\r\n"
              "To: Bob <bob@example.org>\r\nSubject: Two\r\nMIME-Version: 1.0\r\n"
              "Content-type: text/plain\r\nX-Mailer: Tandrel 1.1\r\n\r\n..\r\n\r\n");

    const std::string log = ReadFileBytes(rig.main.st.runLogPath());
    EXPECT_EQ(log.rfind("an earlier run\r\n\r\n\r\nConnected to server - session initiated\r\n", 0),
              0u);
    EXPECT_NE(log.find("helo [127.0.0.1]\r\n"), std::string::npos);
    EXPECT_NE(log.find("RCPT TO:<cleo@example.org>\r\n"), std::string::npos);
    EXPECT_NE(log.find("Mail was sent to: \"cleo@example.org\"\r\n"), std::string::npos);
}

TEST(DeliveryWindow, RefusedRecipientIsReportedAndTheOthersStillGo) {
    RefusingAiosmtpdServer server({"bob@example.org"});
    SendRig rig;
    rig.main.st.prefs.port = server.portText();
    for (const char* a : {"ann@example.org", "bob@example.org", "cleo@example.org"})
        rig.addMessage(a, Message(a, "Hi", {"Body"}));

    ModalDriver driver;
    rig.deliver();
    EXPECT_FALSE(driver.timedOut);

    EXPECT_TRUE(rig.memoHas("Error, illegal receipient \"bob@example.org\", resuming:"));
    EXPECT_TRUE(rig.memoHas("550 5.1.1 <bob@example.org>: Recipient address rejected"));
    EXPECT_TRUE(rig.memoHas("Some errors occurred!"));
    EXPECT_FALSE(rig.memoHas("Mail was sent to: \"bob@example.org\""));
    EXPECT_EQ(rig.main.st.SentLog,
              (std::vector<std::string>{"ann@example.org", "cleo@example.org"}));
    // The refused message did not count, so the next one is announced as number 2 again.
    const auto& s = rig.win->statuses;
    EXPECT_EQ(std::count(s.begin(), s.end(), "Sending 2 of 3"), 2);
    const QStringList files = StoredFiles(server.storeDir());
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(StoredRecipients(files[1]), QStringList{"cleo@example.org"});
}

TEST(DeliveryWindow, CancelAbandonsTheRunAndTheNextRunStartsAfresh) {
    // A server that accepts the connection and never greets.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    SendRig rig;
    rig.main.st.prefs.port = std::to_string(silent.serverPort());
    rig.addMessage("ann@example.org", Message("ann@example.org", "Hi", {"Body"}));

    ModalDriver driver;
    driver.onSendWindow = [](DeliveryWindow& w) {
        if (w.statusLabel->text() != "Connected to Host") return false;
        w.cancelButton->click();
        return true;
    };
    rig.deliver();
    driver.onSendWindow = nullptr;
    EXPECT_FALSE(driver.timedOut);
    EXPECT_EQ(driver.sendWindowsClosed, 0);
    EXPECT_FALSE(rig.win->isVisible());
    EXPECT_FALSE(rig.memoHas("All letters have been sent"));
    // The abandoned run's log items wait in memory for the next run that saves.
    EXPECT_FALSE(FileExists(rig.main.st.runLogPath()));
    EXPECT_EQ(rig.main.st.RunLog.back(), "Connected to server - session initiated");

    AiosmtpdServer server;
    rig.main.st.prefs.port = server.portText();
    rig.deliver();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 1);
    const std::string log = ReadFileBytes(rig.main.st.runLogPath());
    const std::string start = "\r\n\r\nConnected to server - session initiated\r\n";
    const auto first = log.find(start);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(start, first + 1), std::string::npos);
}

TEST(DeliveryWindow, ImmediateConnectErrorsLeaveTheWindowHidden) {
    struct Case {
        std::string smtp, port, error;
    };
    const Case cases[] = {
        {"", "25", "Connect: No IP Address Specified"},
        {"127.0.0.1", "", "Connect: No Port Specified"},
        {"no-such-host.invalid", "25",
         "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
        {"127.0.0.1", "no-such-service",
         "connect: WSocketResolvePort: Cannot convert port 'no-such-service'"},
    };
    SendRig rig;
    rig.addMessage("ann@example.org", Message("ann@example.org", "Hi", {"Body"}));
    ModalDriver driver;
    for (const Case& c : cases) {
        rig.main.st.prefs.smtp = c.smtp;
        rig.main.st.prefs.port = c.port;
        rig.win->reportMemo->setPlainText("from before");
        std::string error;
        try {
            rig.deliver();
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(rig.win->isVisible()) << c.error;
        EXPECT_EQ(rig.win->reportMemo->toPlainText(), "from before") << c.error;
        EXPECT_TRUE(rig.main.st.RunLog.empty()) << c.error;
    }
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.boxes.empty());

    // And the window works again afterwards.
    AiosmtpdServer server;
    rig.main.st.prefs.smtp = "127.0.0.1";
    rig.main.st.prefs.port = server.portText();
    rig.deliver();
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 1);
}

// A big run shows exactly what was reported (every memo line, the last status and gauge)
// while painting a small fraction of the times a window updated per report would.
TEST(DeliveryWindow, ABigRunShowsEveryReportWithFewRepaints) {
    SmtpSinkServer sink;
    SendRig rig;
    rig.main.st.prefs.port = sink.portText();
    constexpr int kMessages = 600;
    for (int i = 0; i < kMessages; ++i) {
        const std::string to = "p" + std::to_string(i) + "@example.org";
        rig.addMessage(to, Message(to, "Hi", {"Body"}));
    }
    PaintCounter counter;
    for (QWidget* w : std::initializer_list<QWidget*>{rig.win->gauge, rig.win->statusLabel,
                                                      rig.win->reportMemo->viewport()})
        w->installEventFilter(&counter);
    ModalDriver driver;
    rig.deliver();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_EQ(rig.win->dialogue().acceptedCount(), kMessages);

    EXPECT_EQ(rig.memoLines(), rig.win->memo);
    EXPECT_EQ(rig.win->statusLabel->text().toStdString(), rig.win->statuses.back());
    EXPECT_EQ(rig.win->gauge->value(), 100);
    // Per report the window would paint several times per message.
    EXPECT_GE(rig.win->memo.size() + rig.win->statuses.size(), std::size_t{2 * kMessages});
    EXPECT_LT(counter.paints, kMessages / 4) << counter.paints;
}
