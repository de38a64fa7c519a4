#include "AddDialog.h"

#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "DatabaseEditing.h"
#include "DatabaseEditor.h"
#include "WidgetHelpers.h"

using tandrel::MakeBoldLabel;
using tandrel::MakeButton;
using tandrel::MakeEdit;

TaddForm::TaddForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                   QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TaddForm"));
    setWindowTitle(QStringLiteral("Add Receipient"));
    // No system menu, so no close box: the dialog ends through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(333, 185);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    auto* bevel = new QFrame;
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* grid = new QGridLayout(bevel);
    auto* nameLabel = MakeBoldLabel("Label1", QStringLiteral("Name:"));
    auto* mailLabel = MakeBoldLabel("Label2", QStringLiteral("Mail:"));
    Edit1 = MakeEdit("Edit1", QStringLiteral("Name:"));
    Edit2 = MakeEdit("Edit2", QStringLiteral("Mail:"));
    nameLabel->setBuddy(Edit1);
    mailLabel->setBuddy(Edit2);
    // The bevel fills the window above the buttons; the two edits stay together in its
    // middle rather than drifting apart when the window grows.
    grid->setRowStretch(0, 1);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(Edit1, 1, 1);
    grid->addWidget(mailLabel, 2, 0);
    grid->addWidget(Edit2, 2, 1);
    grid->setRowStretch(3, 1);

    Button1 = MakeButton("Button1", QStringLiteral("OK"));
    Button1->setDefault(true);
    Button2 = MakeButton("Button2", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(bevel, 1);
    outer->addLayout(buttons);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TaddForm::Clear() {
    Edit1->clear();
    Edit2->clear();
}

void TaddForm::Button1Click() {
    if (!st_.db || Edit1->text().isEmpty()) return;
    tandrel::ReceipData& entry =
        tandrel::AddPerson(*st_.db, Edit1->text().toLocal8Bit().toStdString(),
                           Edit2->text().toLocal8Bit().toStdString());
    if (forms_.dBaseEntry) forms_.dBaseEntry->AppendEntryLine(&entry);
    accept();
}

void TaddForm::Button2Click() {
    reject();
}
