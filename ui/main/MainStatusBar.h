// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's status bar: the hint (panel 0), the receipients selected (1), the
// attachments (2) and a status panel (3).
#pragma once

#include <QStatusBar>

class QLabel;

namespace tandrel {

class MainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit MainStatusBar(QWidget* parent);

    void setText(int panel, const QString& text);
    QString text(int panel) const;

private:
    QLabel* panels_[4] = {};
};

} // namespace tandrel
