// SPDX-License-Identifier: GPL-3.0-or-later
// "Check before sending": lists the problems of a mailing, blocking ones first.
#include "ui/mailing/SendCheckDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/DialogHelp.h"
#include "ui/WidgetHelpers.h"
#include "ui/TextBridge.h"

namespace tandrel {

SendCheckDialog::SendCheckDialog(const std::vector<SendProblem>& problems, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SendCheckForm"));
    setWindowTitle(QStringLiteral("Check before sending"));
    setAccessibleName(windowTitle());
    setModal(true);
    const bool blocked = HasBlockingProblem(problems);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(blocked ? QStringLiteral("The mails cannot be sent as they are:")
                                     : QStringLiteral("Please look at these before sending:"));
    intro->setObjectName(QStringLiteral("SendCheckLabel"));
    intro->setAccessibleName(intro->text());
    layout->addWidget(intro);

    problemList = new QPlainTextEdit;
    problemList->setObjectName(QStringLiteral("SendCheckMemo"));
    problemList->setAccessibleName(QStringLiteral("Problems"));
    problemList->setReadOnly(true);
    problemList->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QString text;
    for (auto severity : {CheckSeverity::Blocking, CheckSeverity::Warning})
        for (const SendProblem& p : problems) {
            if (p.severity != severity) continue;
            if (!text.isEmpty()) text += QLatin1Char('\n');
            text += WordsText(p.text);
        }
    problemList->setPlainText(text);
    layout->addWidget(problemList, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (!blocked) {
        sendAnywayButton = MakeButton("SendAnywayBut", QStringLiteral("Send Anyway"));
        sendAnywayButton->setAutoDefault(false);
        connect(sendAnywayButton, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(sendAnywayButton);
    }
    cancelButton = MakeButton("CancelBut", QStringLiteral("Cancel"));
    // Enter must not send by accident: the safe answer is the default.
    cancelButton->setDefault(true);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancelButton);
    GiveDialogHelp(*this, GuidePage("sending.html#check"), *buttons);
    layout->addLayout(buttons);
    resize(460, 280);
}

} // namespace tandrel
