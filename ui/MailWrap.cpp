#include "MailWrap.h"

#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "MailFile.h"
#include "MailingRun.h"
#include "SendCommand.h"
#include "WidgetHelpers.h"

TMailWrapForm::TMailWrapForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), st_(st),
      main_(main), forms_(forms) {
    setObjectName(QStringLiteral("MailWrapForm"));
    setWindowTitle(QStringLiteral("Preparing Mails"));
    setModal(true);
    setFixedSize(330, 114);

    Label1 = new QLabel(QStringLiteral("Preparing Mails..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(16, 16);

    Gauge1 = tandrel::MakeGauge(this, QRect(24, 56, 273, 25));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(250);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &TMailWrapForm::Timer1Timer);
}

std::optional<std::string> TMailWrapForm::Prepare() {
    error_.reset();
    tandrel::CentreOnScreen(*this);
    exec();
    return error_;
}

void TMailWrapForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) Timer1->start(); // FormShow
}

void TMailWrapForm::SetGauge(int value) {
    // Preparation holds the event loop, so nothing is painted by the loop meanwhile. The
    // gauge paints itself at once whenever its shown value changes, which is the only
    // part of the window that changes; a run of many small messages therefore paints
    // about a hundred times, not once per message.
    Gauge1->setValue(std::clamp(value, 0, 100));
}

void TMailWrapForm::Timer1Timer() {
    Timer1->stop();
    Gauge1->setValue(0);
    try {
        if (!main_.previewShown()) tandrel::BuildMailText(st_, main_.editorTexts());
        tandrel::PrepareAllMails(st_, main_.recipientRows(), [this](int v) { SetGauge(v); });
    } catch (const std::exception& e) {
        st_.outgoing.clear();
        error_ = e.what();
    }
    done(1);
}
