// SPDX-License-Identifier: GPL-3.0-or-later
// The "Preparing Mails" window: the gauge of the preparation of one message per recipient.
#include "ui/mailing/PreparationWindow.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "ui/DialogHelp.h"
#include "ui/WidgetHelpers.h"
#include "ui/WindowPlacement.h"

namespace tandrel {

PreparationWindow::PreparationWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("TMailWrapForm"));
    setWindowTitle(QStringLiteral("Preparing Mails"));
    setModal(true);
    setFixedSize(330, 114);

    statusLabel = new QLabel(QStringLiteral("Preparing Mails..."), this);
    statusLabel->setObjectName(QStringLiteral("Label1"));
    statusLabel->move(16, 16);

    gauge = MakeGauge(this, QRect(24, 56, 273, 25));
    // No Help button: the window takes no input while it works, and then it is gone.
    AnswerF1(*this, GuidePage("sending.html#delivery"));
}

void PreparationWindow::showPreparing() {
    gauge->setValue(0);
    sinceGauge_.invalidate();
    CentreOnScreen(*this);
    show();
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

} // namespace tandrel
