#include "SendWindow.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

#include "SendCommand.h"
#include "WidgetHelpers.h"

namespace {

// Replies and reports may carry their own line ends (a reply normally ends in CR LF);
// the memo shows them as lines without an extra empty one at the end.
QString MemoText(const std::string& line) {
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return QString::fromLocal8Bit(out.data(), static_cast<qsizetype>(out.size()));
}

QString StripAmpersand(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

} // namespace

TsendWin::TsendWin(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("sendWin"));
    setWindowTitle(QStringLiteral("Sending mails"));
    setModal(true);
    // 354 x 357 outside, of which the frame takes 8 across and the title bar the rest.
    setFixedSize(346, 330);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setGeometry(56, 32, 217, 57);
    // A stop in the tab order, so a keyboard user reaches the status line; its
    // description carries the current status for a screen reader.
    Panel1->setFocusPolicy(Qt::TabFocus);
    Panel1->setAccessibleName(QStringLiteral("Status"));

    Label1 = new QLabel(QStringLiteral("Preparing to send..."), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setPixelSize(19);
    Label1->setFont(big);
    Label1->move(24, 17);
    Label1->resize(217 - 24 - 4, 24);
    // No fixed accessible name: a screen reader reads the current status text.
    Panel1->setAccessibleDescription(Label1->text());

    Gauge1 = tandrel::MakeGauge(this, QRect(48, 112, 233, 25));
    // Blue on white, as the delivery window's gauge is drawn.
    QPalette pal = Gauge1->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    Gauge1->setPalette(pal);

    CloseBut = new QPushButton(QStringLiteral("C&lose"), this);
    CloseBut->setObjectName(QStringLiteral("CloseBut"));
    CloseBut->setGeometry(176, 152, 75, 25);
    CloseBut->setEnabled(false);
    CloseBut->setAccessibleName(StripAmpersand(CloseBut->text()));

    cancelBut = new QPushButton(QStringLiteral("C&ancel"), this);
    cancelBut->setObjectName(QStringLiteral("cancelBut"));
    cancelBut->setGeometry(264, 152, 75, 25);
    cancelBut->setAccessibleName(StripAmpersand(cancelBut->text()));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, height() - 146, 346, 146);
    Memo1->setReadOnly(true);
    // Read-only, but a keyboard user can still move through and select the report.
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Memo1->setAccessibleName(QStringLiteral("Report"));

    QWidget::setTabOrder(cancelBut, Panel1);
    QWidget::setTabOrder(Panel1, Memo1);
    QWidget::setTabOrder(Memo1, CloseBut);

    connect(cancelBut, &QPushButton::clicked, this, &TsendWin::cancelButClick);
    connect(CloseBut, &QPushButton::clicked, this, &TsendWin::CloseButClick);

    dialogue_ = std::make_unique<tandrel::SmtpDialogue>(*this, st_.RunLog, st_.SentLog);
}

TsendWin::~TsendWin() = default;

void TsendWin::Deliver() {
    connectError_ = nullptr;
    tandrel::CentreOnScreen(*this);
    exec();
    if (connectError_) {
        std::exception_ptr e = connectError_;
        connectError_ = nullptr;
        std::rethrow_exception(e);
    }
}

void TsendWin::CloseConnection() {
    dialogue_->closeConnection();
}

void TsendWin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TsendWin::FormShow() {
    CloseBut->setEnabled(false);
    cancelBut->setEnabled(true);
    cancelBut->setFocus();
    Gauge1->setValue(0);
    const tandrel::DeliveryConfig config{st_.prefs.smtp, st_.prefs.port, st_.prefs.fromaddy,
                                         st_.LocalComputerName, st_.runLogPath()};
    try {
        dialogue_->start(st_.outgoing, st_.RecipientCount, config);
    } catch (...) {
        // The run ends before it began: the window closes again as soon as its modal
        // loop runs, and Deliver() hands the error to the caller.
        connectError_ = std::current_exception();
        QTimer::singleShot(0, this, [this] { done(1); });
    }
}

void TsendWin::cancelButClick() {
    dialogue_->cancel();
    done(1);
}

void TsendWin::CloseButClick() {
    done(1);
}

void TsendWin::memoClear() {
    Memo1->clear();
}

void TsendWin::memoAppend(const std::string& line) {
    Memo1->appendPlainText(MemoText(line));
}

void TsendWin::setStatus(const std::string& text) {
    Label1->setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    Panel1->setAccessibleDescription(Label1->text());
}

void TsendWin::setGauge(int value) {
    Gauge1->setValue(std::clamp(value, 0, 100));
}

void TsendWin::deliveryEnded(bool logSaved) {
    // Without a saved run log the run is not over for the user: Cancel stays the way out.
    if (!logSaved) return;
    CloseBut->setEnabled(true);
    cancelBut->setEnabled(false);
    CloseBut->setFocus();
}
