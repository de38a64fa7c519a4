// SPDX-License-Identifier: GPL-3.0-or-later
// "Check before sending": the problems found in a mailing before it is prepared, with
// the choice to send anyway (warnings only) or to stop.
#pragma once

#include <QDialog>
#include <vector>

#include "merge/SendCheck.h"

class QPlainTextEdit;
class QPushButton;

namespace tandrel {

// Accepted ("Send Anyway", offered only when no problem blocks the run) or rejected.
class SendCheckDialog : public QDialog {
    Q_OBJECT
public:
    SendCheckDialog(const std::vector<SendProblem>& problems, QWidget* parent);

    QPlainTextEdit* problemList = nullptr;
    QPushButton* sendAnywayButton = nullptr; // absent when a problem blocks the run
    QPushButton* cancelButton = nullptr;
};

} // namespace tandrel
