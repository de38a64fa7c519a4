// SPDX-License-Identifier: GPL-3.0-or-later
// The "Sending mails" window: shows the SMTP dialogue's progress and report of one run.
#include "ui/mailing/DeliveryWindow.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "mailing/MailingRun.h"
#include "mailing/RunWords.h"
#include "model/VisibleText.h"
#include "ui/DialogHelp.h"
#include "ui/WidgetHelpers.h"
#include "ui/WindowPlacement.h"
#include "ui/TextBridge.h"

namespace tandrel {

namespace {

// The shortest time between two refreshes of the window while reports stream in.
constexpr int kFlushIntervalMs = 50;

// Replies and reports may carry their own line ends (a reply normally ends in CR LF);
// the memo shows them as lines without an extra empty one at the end. Any other
// control character, a CR inside a line too, is shown written out.
QString MemoText(const std::string& line) {
    std::string_view s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    const std::string out = VisibleLines(s, LineEnds::Lf);
    return WordsText(out);
}

QString StripAmpersand(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

} // namespace

DeliveryWindow::DeliveryWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("sendWin"));
    setWindowTitle(QStringLiteral("Sending mails"));
    setModal(true);
    // 354 x 357 outside, of which the frame takes 8 across and the title bar the rest.
    setFixedSize(346, 330);

    statusPanel = new QFrame(this);
    statusPanel->setObjectName(QStringLiteral("Panel1"));
    statusPanel->setFrameShape(QFrame::Panel);
    statusPanel->setFrameShadow(QFrame::Raised);
    statusPanel->setGeometry(56, 32, 217, 57);
    // A stop in the tab order, so a keyboard user reaches the status line; its
    // description carries the current status for a screen reader.
    statusPanel->setFocusPolicy(Qt::TabFocus);
    statusPanel->setAccessibleName(QStringLiteral("Status"));

    statusLabel = new QLabel(QStringLiteral("Preparing to send..."), statusPanel);
    statusLabel->setObjectName(QStringLiteral("Label1"));
    QFont big = statusLabel->font();
    big.setPixelSize(19);
    statusLabel->setFont(big);
    statusLabel->move(24, 17);
    statusLabel->resize(217 - 24 - 4, 24);
    // No fixed accessible name: a screen reader reads the current status text.
    statusPanel->setAccessibleDescription(statusLabel->text());

    gauge = MakeGauge(this, QRect(48, 112, 233, 25));
    // Blue on white, as the delivery window's gauge is drawn.
    QPalette pal = gauge->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    gauge->setPalette(pal);

    closeButton = new QPushButton(QStringLiteral("C&lose"), this);
    closeButton->setObjectName(QStringLiteral("CloseBut"));
    closeButton->setGeometry(176, 152, 75, 25);
    closeButton->setEnabled(false);
    closeButton->setAccessibleName(StripAmpersand(closeButton->text()));

    cancelButton = new QPushButton(QStringLiteral("C&ancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelBut"));
    cancelButton->setGeometry(264, 152, 75, 25);
    cancelButton->setAccessibleName(StripAmpersand(cancelButton->text()));

    // Help at the start of the row of buttons, under the gauge's left end.
    AnswerF1(*this, GuidePage("sending.html#delivery"));
    QDialogButtonBox* help = MakeHelpButton(*this, GuidePage("sending.html#delivery"));
    help->setGeometry(48, 152, 75, 25);

    reportMemo = new QPlainTextEdit(this);
    reportMemo->setObjectName(QStringLiteral("Memo1"));
    reportMemo->setGeometry(0, height() - 146, 346, 146);
    reportMemo->setReadOnly(true);
    // Read-only, but a keyboard user can still move through and select the report.
    reportMemo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    reportMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reportMemo->setTabChangesFocus(true);
    reportMemo->setAccessibleName(QStringLiteral("Report"));

    QWidget::setTabOrder(cancelButton, statusPanel);
    QWidget::setTabOrder(statusPanel, reportMemo);
    QWidget::setTabOrder(reportMemo, closeButton);

    connect(cancelButton, &QPushButton::clicked, this, &DeliveryWindow::cancelRun);
    connect(closeButton, &QPushButton::clicked, this, &DeliveryWindow::closeWindow);

    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    connect(flushTimer_, &QTimer::timeout, this, &DeliveryWindow::flushUpdates);
}

DeliveryWindow::~DeliveryWindow() = default;

void DeliveryWindow::showRun(MailingRun& run) {
    run_ = &run;
    closeButton->setEnabled(false);
    cancelButton->setEnabled(true);
    gauge->setValue(0);
    pendingLines_.clear();
    pendingStatus_.reset();
    pendingGauge_.reset();
    sinceFlush_.invalidate();
    CentreOnScreen(*this);
    show();
    cancelButton->setFocus();
}

void DeliveryWindow::endWithoutRun() {
    pendingLines_.clear();
    pendingStatus_.reset();
    pendingGauge_.reset();
    run_ = nullptr;
    done(1);
}

void DeliveryWindow::cancelRun() {
    if (run_) run_->cancel();
    flushUpdates();
    run_ = nullptr;
    done(1);
}

void DeliveryWindow::closeWindow() {
    flushUpdates();
    run_ = nullptr;
    done(1);
}

void DeliveryWindow::scheduleFlush() {
    if (!sinceFlush_.isValid() || sinceFlush_.elapsed() >= kFlushIntervalMs) {
        flushUpdates();
    } else if (!flushTimer_->isActive()) {
        flushTimer_->start(kFlushIntervalMs - static_cast<int>(sinceFlush_.elapsed()));
    }
}

void DeliveryWindow::flushUpdates() {
    flushTimer_->stop();
    sinceFlush_.start();
    if (!pendingLines_.isEmpty()) {
        // One block of lines: the memo lays out and scrolls once.
        reportMemo->appendPlainText(pendingLines_.join(QLatin1Char('\n')));
        pendingLines_.clear();
    }
    if (pendingStatus_) {
        statusLabel->setText(*pendingStatus_);
        statusPanel->setAccessibleDescription(*pendingStatus_);
        pendingStatus_.reset();
    }
    if (pendingGauge_) {
        // A progress bar paints itself at once when its value changes, which would be a
        // second pass over the window (and a second upload to the display) on every
        // refresh; with its updates held it joins the one paint of the memo and status.
        gauge->setUpdatesEnabled(false);
        gauge->setValue(*pendingGauge_);
        gauge->setUpdatesEnabled(true);
        pendingGauge_.reset();
    }
}

void DeliveryWindow::reportCleared() {
    pendingLines_.clear();
    reportMemo->clear();
}

void DeliveryWindow::reportLine(const std::string& line) {
    pendingLines_ << MemoText(line);
    scheduleFlush();
}

void DeliveryWindow::deliveryEvent(const DeliveryEvent& event) {
    // The socket's words for a connection not made get a plain sentence after them.
    if (!run_) return;
    const Preferences& prefs = run_->session().prefs;
    const std::string hint = ConnectionHint(event, prefs.smtp, prefs.port);
    if (hint.empty()) return;
    pendingLines_ << WordsText(hint);
    scheduleFlush();
}

void DeliveryWindow::statusChanged(const std::string& text) {
    pendingStatus_ = WordsText(text);
    scheduleFlush();
}

void DeliveryWindow::deliveryProgress(int value) {
    pendingGauge_ = std::clamp(value, 0, 100);
    scheduleFlush();
}

void DeliveryWindow::deliveryEnded(const DeliverySummary& summary) {
    const std::vector<std::string> maybeDelivered =
        run_ ? run_->maybeDelivered() : std::vector<std::string>();
    if (!maybeDelivered.empty()) reportLine(MaybeDeliveredLine(maybeDelivered));
    // Those that may have arrived are not offered again.
    if (static_cast<std::size_t>(summary.accepted) + maybeDelivered.size() < summary.messages)
        reportLine(kNotReachedHint);
    flushUpdates();
    // Without a saved run log the run is not over for the user: Cancel stays the way out.
    if (!summary.runLogSaved) return;
    closeButton->setEnabled(true);
    cancelButton->setEnabled(false);
    closeButton->setFocus();
}

} // namespace tandrel
