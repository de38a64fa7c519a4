// SPDX-License-Identifier: GPL-3.0-or-later
// The delivery window: its controls, what a run's reports do to them, and how it shows
// a whole run and a run that could not start.
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

#include "tests/support/FakeSmtpServer.h"
#include "mailing/MailingRun.h"
#include "ui/mailing/SendLauncher.h"
#include "tests/ui/MailingTestKit.h"
#include "model/MessageSource.h"
#include "tests/support/TestSupport.h"
#include "model/TextFile.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

// Records what the run reports while still showing it.
class RecordingSendWin : public DeliveryWindow {
public:
    using DeliveryWindow::DeliveryWindow;
    std::vector<std::string> statuses;
    std::vector<int> gauges;
    int accepted = 0;
    void statusChanged(const std::string& text) override {
        statuses.push_back(text);
        DeliveryWindow::statusChanged(text);
    }
    void deliveryProgress(int value) override {
        gauges.push_back(value);
        DeliveryWindow::deliveryProgress(value);
    }
    std::vector<std::string> memo; // as reported since the report was last cleared
    void reportCleared() override {
        memo.clear();
        DeliveryWindow::reportCleared();
    }
    void reportLine(const std::string& line) override {
        memo.push_back(line);
        DeliveryWindow::reportLine(line);
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        accepted = summary.accepted;
        DeliveryWindow::deliveryEnded(summary);
    }
};

DeliverySummary Ended(bool runLogSaved) {
    DeliverySummary summary;
    summary.runLogSaved = runLogSaved;
    return summary;
}

struct SendRig {
    TestMain main;
    TempDir dir;
    RecordingSendWin* win;
    SendRig() {
        win = new RecordingSendWin(&main.widget);
        main.st.programDir = dir.path();
        main.st.computerName = "testhost";
        main.st.prefs.smtp = "127.0.0.1";
        main.st.prefs.fromAddress = "sender@example.org";
    }
    OutgoingList messages; // the next run's, handed over by deliver()
    void addMessage(const std::string& to, const std::vector<std::string>& lines) {
        messages.push_back(OutgoingMessage{to, MessageLines(lines)});
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
    // One run of the prepared messages: show, wait for the end, close the socket.
    void deliver() {
        MailingRun run(main.st, {}, "", MailingKind::TestMail);
        run.useMessages(std::make_shared<ListedMessages>(std::move(messages)));
        messages.clear();
        const MailingSummary summary = RunInWindows({&main.widget, nullptr, win}, run, {});
        if (!summary.startError.empty()) throw std::runtime_error(summary.startError);
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

    // Tab order: cancelButton, statusPanel, reportMemo, closeButton, Help, and round again.
    auto* help = w.findChild<QPushButton*>(QStringLiteral("HelpBut"));
    ASSERT_NE(help, nullptr);
    std::vector<QWidget*> chain;
    QWidget* x = w.cancelButton;
    while (chain.size() < 5) {
        x = x->nextInFocusChain();
        if (x->focusPolicy() & Qt::TabFocus) chain.push_back(x);
    }
    EXPECT_EQ(chain, (std::vector<QWidget*>{w.statusPanel, w.reportMemo, w.closeButton, help,
                                            w.cancelButton}));
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
        w.deliveryProgress(c.given);
        w.flushUpdates();
        EXPECT_EQ(w.gauge->value(), c.shown) << c.given;
        EXPECT_EQ(w.gauge->text(), c.text) << c.given;
    }

    w.statusChanged("Sending 2 of 7");
    w.flushUpdates();
    EXPECT_EQ(w.statusLabel->text(), "Sending 2 of 7");
    EXPECT_EQ(AccessibleName(w.statusLabel), "Sending 2 of 7");

    // Server replies arrive with their line ends; each shows as its own lines, with any
    // other control character written out.
    struct MemoCase {
        std::string appended;
        QString shownAtEnd;
    };
    w.reportCleared();
    for (const MemoCase& c :
         {MemoCase{"Error, illegal receipient \"b@example.org\", resuming:",
                   "Error, illegal receipient \"b@example.org\", resuming:"},
          MemoCase{"550 5.1.1 rejected\r\n", "550 5.1.1 rejected"}, MemoCase{"", ""},
          MemoCase{"421-first\r\n421 second\r\n", "421-first\n421 second"},
          MemoCase{"550-\x1b[31mred\a\r\n550 fake\rline",
                   "550-\\x1b[31mred\\x07\n550 fake\\x0dline"}}) {
        w.reportLine(c.appended);
        w.flushUpdates();
        EXPECT_TRUE(w.reportMemo->toPlainText().endsWith(c.shownAtEnd)) << c.appended;
    }
    EXPECT_EQ(w.reportMemo->toPlainText().count(QLatin1Char('\n')), 6);
    w.reportCleared();
    EXPECT_TRUE(w.reportMemo->toPlainText().isEmpty());

    // A run log that could not be saved keeps Cancel as the only way out.
    w.deliveryEnded(Ended(false));
    EXPECT_TRUE(w.cancelButton->isEnabled());
    EXPECT_FALSE(w.closeButton->isEnabled());
    w.deliveryEnded(Ended(true));
    EXPECT_FALSE(w.cancelButton->isEnabled());
    EXPECT_TRUE(w.closeButton->isEnabled());
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
    ModalDriver driver;
    for (const Case& c : cases) {
        rig.addMessage("ann@example.org", Message("ann@example.org", "Hi", {"Body"}));
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
        EXPECT_TRUE(rig.main.st.runLog.empty()) << c.error;
    }
    EXPECT_FALSE(driver.timedOut);
    EXPECT_TRUE(driver.boxes.empty());

    // And the window works again afterwards.
    AiosmtpdServer server;
    rig.main.st.prefs.smtp = "127.0.0.1";
    rig.main.st.prefs.port = server.portText();
    rig.addMessage("ann@example.org", Message("ann@example.org", "Hi", {"Body"}));
    rig.deliver();
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_EQ(StoredFiles(server.storeDir()).size(), 1);
}

// A big run shows exactly what was reported (every memo line, the last status and gauge)
// while painting a small fraction of the times a window updated per report would, and
// each refresh is one pass over the window (on a desktop, one upload to the display).
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
    struct PassCounter : QObject {
        int passes = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::UpdateRequest) ++passes;
            return false;
        }
    } window;
    rig.win->installEventFilter(&window);
    int refreshes = 0; // the memo takes each refresh's lines in one block
    QObject::connect(rig.win->reportMemo, &QPlainTextEdit::textChanged, [&] { ++refreshes; });
    ModalDriver driver;
    rig.deliver();
    EXPECT_FALSE(driver.timedOut);
    EXPECT_EQ(rig.win->accepted, kMessages);

    EXPECT_EQ(rig.memoLines(), rig.win->memo);
    EXPECT_EQ(rig.win->statusLabel->text().toStdString(), rig.win->statuses.back());
    EXPECT_EQ(rig.win->gauge->value(), 100);
    // Per report the window would paint several times per message.
    EXPECT_GE(rig.win->memo.size() + rig.win->statuses.size(), std::size_t{2 * kMessages});
    EXPECT_LT(counter.paints, kMessages / 4) << counter.paints;
    // Beside the refreshes: the window's first paint and the one after the run.
    EXPECT_LE(window.passes, refreshes + 3) << refreshes << " refreshes";
}

// The whole message reached the server, whose answer never came: the memo says it may
// have been delivered and does not point to Recipients Not Reached for it.
TEST(DeliveryWindow, AnUnansweredEndOfDataIsReportedAsMaybeDelivered) {
    tandrel::test::FakeSmtpServer server;
    tandrel::test::ScriptUnansweredMessage(server, "sender@example.org", "ann@example.org");
    server.start();
    SendRig rig;
    rig.main.st.prefs.port = server.portText();
    rig.main.st.prefs.timeoutSeconds = 1;
    rig.addMessage("ann@example.org", Message("ann@example.org", "Hi", {"Body"}));
    ModalDriver driver;
    rig.deliver();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(driver.sendWindowsClosed, 1);
    EXPECT_TRUE(rig.memoHas("1 message may have been delivered: sender@example.org"));
    EXPECT_FALSE(rig.memoHas("To send to the people not reached, use Edit, Recipients Not Reached."));
}
