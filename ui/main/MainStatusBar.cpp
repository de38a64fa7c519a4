// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's status bar and its four panels.
#include "ui/main/MainStatusBar.h"

#include <QLabel>

namespace tandrel {

MainStatusBar::MainStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBar1"));
    setFixedHeight(19);
    setSizeGripEnabled(true);
    setAccessibleName(QStringLiteral("Status bar"));
    const int widths[4] = {300, 170, 100, 50};
    const char* const designed[4] = {"", "xxx of xxx receipients selected", "xx attachments", ""};
    const char* const accessible[4] = {"Hint", "Receipients selected", "Attachments", "Status"};
    for (int i = 0; i < 4; ++i) {
        auto* l = new QLabel(QString::fromLatin1(designed[i]));
        l->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        // The counters keep their designed width but grow when the font needs more for
        // their text ("1200 of 10000 receipients selected"), rather than cutting it off.
        // The hint panel stays put, so the others do not jump while the mouse moves.
        if (i == 1 || i == 2)
            l->setMinimumWidth(widths[i]);
        else
            l->setFixedWidth(widths[i]);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setContentsMargins(2, 0, 2, 0);
        // The text itself is what a screen reader reads, kept up to date as it changes.
        l->setAccessibleDescription(QString::fromLatin1(accessible[i]));
        addWidget(l);
        panels_[i] = l;
    }
}

void MainStatusBar::setText(int panel, const QString& text) {
    if (panel >= 0 && panel < 4) panels_[panel]->setText(text);
}

QString MainStatusBar::text(int panel) const {
    return panel >= 0 && panel < 4 ? panels_[panel]->text() : QString();
}

} // namespace tandrel
