// SPDX-License-Identifier: GPL-3.0-or-later
// "Check before sending": the problems found in a mailing before it is prepared, with
// the choice to send anyway (warnings only) or to stop.
#pragma once

#include <QDialog>
#include <vector>

#include "merge/SendCheck.h"

class QPlainTextEdit;
class QPushButton;

class SendCheckDialog : public QDialog {
    Q_OBJECT
public:
    SendCheckDialog(const std::vector<tandrel::SendProblem>& problems, QWidget* parent);

    QPlainTextEdit* problemList = nullptr;
    QPushButton* sendAnywayButton = nullptr; // absent when a problem blocks the run
    QPushButton* cancelButton = nullptr;
};

namespace tandrel {

// True when the mailing may go on: no problems (and no window), or only warnings and
// the user chose "Send Anyway".
bool ConfirmSendCheck(const std::vector<SendProblem>& problems, QWidget* parent);

} // namespace tandrel
