// SPDX-License-Identifier: GPL-3.0-or-later
// The "About Tandrel" box: its layout, the credit text and the program icon drawn in code.
#include "ui/main/AboutBox.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/DialogHelp.h"
#include "model/Version.h"
#include "ui/TextBridge.h"

namespace tandrel {

namespace {

QLabel* BoldLabel(const QString& objectName, int pixelSize, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    QFont font = label->font();
    font.setBold(true);
    font.setPixelSize(pixelSize);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void DrawEnvelope(QPainter& p, const QRectF& r, const QColor& paper, const QColor& line) {
    p.setPen(QPen(line, 1.2));
    p.setBrush(paper);
    p.drawRoundedRect(r, 1.5, 1.5);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

} // namespace

AboutBox::AboutBox(const std::string& programDir, QWidget* parent)
    : QDialog(parent), programDir_(programDir) {
    setObjectName(QStringLiteral("TaboutForm"));
    setWindowTitle(QStringLiteral("About Tandrel"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(298, 237);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::NoFrame);

    iconLabel_ = new QLabel(panel);
    iconLabel_->setObjectName(QStringLiteral("Image1"));
    iconLabel_->setPixmap(programIcon(devicePixelRatioF()));
    iconLabel_->setFixedSize(32, 32);
    iconLabel_->setAccessibleName(QStringLiteral("Tandrel icon"));

    titleLabel_ = BoldLabel(QStringLiteral("Label1"), 19, panel);
    creditsLabel_ = BoldLabel(QStringLiteral("Label2"), 11, panel);
    creditsLabel_->setWordWrap(false);

    // Where Tandrel.ini and the logs are: beside the program, or the per-user folder of
    // an installed one. A long path is shortened in the middle; the tooltip has it whole.
    folderLabel_ = new QLabel(panel);
    folderLabel_->setObjectName(QStringLiteral("FolderLabel"));
    folderLabel_->setAlignment(Qt::AlignCenter);
    folderLabel_->setTextFormat(Qt::PlainText);
    folderLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    okButton_ = new QPushButton(QStringLiteral("OK"), panel);
    okButton_->setObjectName(QStringLiteral("OKButton"));
    okButton_->setAccessibleName(QStringLiteral("OK"));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(iconLabel_, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(titleLabel_, 0, 1);
    grid->addWidget(creditsLabel_, 1, 0, 1, 2);
    grid->addWidget(folderLabel_, 2, 0, 1, 2);
    grid->addWidget(okButton_, 3, 0, 1, 2, Qt::AlignHCenter);
    // Help beside the centred OK, at the end where the platform's dialogs have it: the
    // topic of the files kept in the folder the box names.
    AnswerF1(*this, GuidePage("logs.html"));
    grid->addWidget(MakeHelpButton(*this, GuidePage("logs.html")), 3, 0, 1, 2,
                    HelpButtonSide(*this));
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel);

    setTexts(QLatin1StringView(kProgramAndVersion), creditText());
}

QString AboutBox::creditText() {
    return QStringLiteral("Written by the Tandrel developers.\n"
                          "Updates are published in the\n"
                          "Tandrel project repository.");
}

QString AboutBox::folderText(const QString& folder) {
    return QStringLiteral("Settings and logs are kept in\n") + folder;
}

void AboutBox::setTexts(const QString& title, const QString& credits) {
    titleLabel_->setText(title);
    titleLabel_->setAccessibleName(title);
    creditsLabel_->setText(credits);
    creditsLabel_->setAccessibleName(QString(credits).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    titleLabel_->adjustSize();
    creditsLabel_->adjustSize();
}

QPixmap AboutBox::programIcon(qreal devicePixelRatio) {
    const int side = qRound(32 * devicePixelRatio);
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // One letter many times: a second envelope behind the first, and a merge mark.
    DrawEnvelope(p, QRectF(8.5, 3.5, 22, 15), QColor(0xd8, 0xe4, 0xf2), QColor(0x3a, 0x5f, 0x8f));
    DrawEnvelope(p, QRectF(1.5, 11.5, 22, 15), QColor(0xff, 0xfb, 0xee), QColor(0x2b, 0x3f, 0x5c));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0x6a, 0x1c));
    p.drawEllipse(QPointF(24.5, 25.5), 5.5, 5.5);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(21.8, 25.5), QPointF(27.2, 25.5));
    p.drawLine(QPointF(24.5, 22.8), QPointF(24.5, 28.2));
    return pixmap;
}

void AboutBox::showEvent(QShowEvent* event) {
    // Centred on the screen rather than over the main window.
    if (!event->spontaneous()) {
        const QString folder = PathText(programDir_);
        const QString shown = folderLabel_->fontMetrics().elidedText(folder, Qt::ElideMiddle, 270);
        folderLabel_->setText(folderText(shown));
        folderLabel_->setToolTip(folder);
        folderLabel_->setAccessibleName(
            folderText(folder).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QDialog::showEvent(event);
}

} // namespace tandrel
