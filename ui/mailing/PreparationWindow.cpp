// SPDX-License-Identifier: GPL-3.0-or-later
// The "Preparing Mails" window: builds one message per recipient while it is shown.
#include "ui/mailing/PreparationWindow.h"

#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "ui/DialogHelp.h"
#include "mailing/MailingRun.h"
#include "ui/WidgetHelpers.h"
#include "ui/WindowPlacement.h"

PreparationWindow::PreparationWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("TMailWrapForm"));
    setWindowTitle(QStringLiteral("Preparing Mails"));
    setModal(true);
    setFixedSize(330, 114);

    statusLabel = new QLabel(QStringLiteral("Preparing Mails..."), this);
    statusLabel->setObjectName(QStringLiteral("Label1"));
    statusLabel->move(16, 16);

    gauge = tandrel::MakeGauge(this, QRect(24, 56, 273, 25));
    // No Help button: the window takes no input while it works, and then it is gone.
    tandrel::AnswerF1(*this, tandrel::GuidePage("sending.html#delivery"));

    startTimer = new QTimer(this);
    startTimer->setObjectName(QStringLiteral("Timer1"));
    startTimer->setInterval(250);
    startTimer->setSingleShot(true);
    connect(startTimer, &QTimer::timeout, this, &PreparationWindow::prepareAll);
}

std::optional<std::string> PreparationWindow::prepare(tandrel::MailingRun& run) {
    error_.reset();
    run_ = &run;
    tandrel::CentreOnScreen(*this);
    exec();
    run_ = nullptr;
    return error_;
}

void PreparationWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) startTimer->start();
}

void PreparationWindow::preparationProgress(int value) {
    // Preparation holds the event loop, so nothing is painted by the loop meanwhile. The
    // gauge paints itself at once whenever its shown value changes (and tells the
    // accessibility bridge), the only part of the window that changes. Each paint is an
    // upload to the display, so the gauge moves at most every few tens of milliseconds:
    // a quick preparation is not slowed down by a hundred of them. The end always shows.
    value = std::clamp(value, 0, 100);
    if (value < 100 && sinceGauge_.isValid() && sinceGauge_.elapsed() < kGaugeIntervalMs) return;
    sinceGauge_.start();
    gauge->setValue(value);
}

void PreparationWindow::prepareAll() {
    startTimer->stop();
    gauge->setValue(0);
    sinceGauge_.invalidate();
    if (run_) {
        run_->setObserver(this);
        try {
            run_->prepare();
        } catch (const std::exception& e) {
            error_ = e.what();
        }
        run_->setObserver(nullptr);
    }
    done(1);
}
