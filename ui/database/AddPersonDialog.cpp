// SPDX-License-Identifier: GPL-3.0-or-later
// The "Add Receipient" dialog: a name and an e-mail become a new database entry.
#include "ui/database/AddPersonDialog.h"

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

#include "model/DatabaseEditing.h"
#include "ui/DialogHelp.h"
#include "ui/TextBridge.h"
#include "ui/WidgetHelpers.h"

namespace tandrel {

AddPersonDialog::AddPersonDialog(DatabaseDocument& database, QWidget* parent)
    : QDialog(parent), database_(database) {
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
    nameEdit_ = MakeEdit("Edit1", QStringLiteral("Name:"));
    emailEdit_ = MakeEdit("Edit2", QStringLiteral("Mail:"));
    nameLabel->setBuddy(nameEdit_);
    mailLabel->setBuddy(emailEdit_);
    // The bevel fills the window above the buttons; the two edits stay together in its
    // middle rather than drifting apart when the window grows.
    grid->setRowStretch(0, 1);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(nameEdit_, 1, 1);
    grid->addWidget(mailLabel, 2, 0);
    grid->addWidget(emailEdit_, 2, 1);
    grid->setRowStretch(3, 1);

    okButton_ = MakeButton("Button1", QStringLiteral("OK"));
    okButton_->setDefault(true);
    cancelButton_ = MakeButton("Button2", QStringLiteral("Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    GiveDialogHelp(*this, GuidePage("database-editor.html#people"), *buttons);

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(bevel, 1);
    outer->addLayout(buttons);

    setTabOrder(nameEdit_, emailEdit_);
    setTabOrder(emailEdit_, okButton_);
    setTabOrder(okButton_, cancelButton_);

    connect(okButton_, &QPushButton::clicked, this, [this] { acceptPerson(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelAdding(); });
}

void AddPersonDialog::clear() {
    nameEdit_->clear();
    emailEdit_->clear();
}

void AddPersonDialog::acceptPerson() {
    Database* db = database_.database();
    if (!db || nameEdit_->text().isEmpty()) return;
    const std::string name = DatabaseBytes(database_, nameEdit_->text());
    const std::string email = DatabaseBytes(database_, emailEdit_->text());
    Person& entry = AddPerson(*db, name, email);
    emit personAdded(&entry);
    accept();
}

void AddPersonDialog::cancelAdding() {
    reject();
}

} // namespace tandrel
