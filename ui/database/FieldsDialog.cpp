// SPDX-License-Identifier: GPL-3.0-or-later
// The "Fields" dialog: appends fields to the database and renames them.
#include "ui/database/FieldsDialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "model/DatabaseEditing.h"
#include "ui/DialogHelp.h"
#include "ui/TextBridge.h"
#include "ui/WidgetHelpers.h"

namespace tandrel {

FieldsDialog::FieldsDialog(DatabaseDocument& database, QWidget* parent)
    : QDialog(parent), database_(database) {
    setObjectName(QStringLiteral("TForm4"));
    setWindowTitle(QStringLiteral("Fields"));
    // A fixed dialog whose only border icon is the system menu with its close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(340, 112);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    nameEdit_ = new QLineEdit;
    nameEdit_->setObjectName(QStringLiteral("Edit1"));
    nameEdit_->setAccessibleName(QStringLiteral("Field name"));
    changeButton_ = MakeButton("changeBut", QStringLiteral("Change"));
    newButton_ = MakeButton("newBut", QStringLiteral("New"));
    newButton_->setDefault(true);
    doneButton_ = MakeButton("Done", QStringLiteral("Done"));
    left->addWidget(nameEdit_);
    left->addWidget(changeButton_);
    left->addWidget(newButton_);
    // Help beside Done: the fixed window has no room for a button more below it.
    auto* doneRow = new QHBoxLayout;
    doneRow->addWidget(doneButton_);
    GiveDialogHelp(*this, GuidePage("database-editor.html#fields"), *doneRow);
    left->addLayout(doneRow);
    left->addStretch(1);
    fieldList_ = new QListWidget;
    fieldList_->setObjectName(QStringLiteral("ListBox1"));
    fieldList_->setAccessibleName(QStringLiteral("Fields"));
    fieldList_->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addLayout(left);
    outer->addWidget(fieldList_, 1);

    setTabOrder(nameEdit_, changeButton_);
    setTabOrder(changeButton_, newButton_);
    setTabOrder(newButton_, doneButton_);
    setTabOrder(doneButton_, fieldList_);

    connect(fieldList_, &QListWidget::itemClicked, this, [this] { onFieldLineClicked(); });
    // Keyboard moves through the list copy each name but leave the focus in the list.
    connect(fieldList_, &QListWidget::itemSelectionChanged, this, [this] {
        pickLine(false);
        // Enter renames the selected field, or adds one when none is selected.
        const bool picked = !fieldList_->selectedItems().isEmpty();
        changeButton_->setDefault(picked);
        newButton_->setDefault(!picked);
    });
    connect(changeButton_, &QPushButton::clicked, this, [this] { renameField(); });
    connect(newButton_, &QPushButton::clicked, this, [this] { appendField(); });
    connect(doneButton_, &QPushButton::clicked, this, [this] { finishEditing(); });
}

void FieldsDialog::fillFieldList() {
    const QSignalBlocker block(fieldList_);
    fieldList_->clear();
    const Database* db = database_.database();
    if (!db) return;
    for (const auto& f : db->fields)
        fieldList_->addItem(DatabaseString(db, f.name));
}

void FieldsDialog::clear() {
    const QSignalBlocker block(fieldList_);
    fieldList_->clear();
    nameEdit_->clear();
}

void FieldsDialog::onFieldLineClicked() {
    pickLine(true);
}

void FieldsDialog::pickLine(bool takeFocus) {
    const QList<QListWidgetItem*> items = fieldList_->selectedItems();
    if (items.isEmpty()) return;
    nameEdit_->setText(items.first()->text());
    if (takeFocus) nameEdit_->setFocus();
}

void FieldsDialog::appendField() {
    if (!database_.database()) return;
    const QString text = nameEdit_->text();
    const std::string name = DatabaseBytes(database_, text);
    if (!AppendField(*database_.database(), name)) return;
    fieldList_->addItem(text);
}

void FieldsDialog::renameField() {
    if (!database_.database()) return;
    const QList<QListWidgetItem*> items = fieldList_->selectedItems();
    if (items.isEmpty()) return;
    QListWidgetItem* item = items.first();
    // Line k stands for field k, so with repeated names the chosen one is renamed.
    const int k = fieldList_->row(item);
    if (k < 0) return;
    const QString text = nameEdit_->text();
    if (!RenameField(*database_.database(), static_cast<std::size_t>(k),
                     DatabaseBytes(database_, text)))
        return;
    item->setText(text);
}

void FieldsDialog::finishEditing() {
    emit editingDone();
    accept();
}

} // namespace tandrel
