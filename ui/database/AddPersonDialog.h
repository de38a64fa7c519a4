// SPDX-License-Identifier: GPL-3.0-or-later
// "Add Receipient": adds one person.
#pragma once

#include <QDialog>

#include "model/DatabaseDocument.h"

class QLineEdit;
class QPushButton;

namespace tandrel {

class AddPersonDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddPersonDialog(DatabaseDocument& database, QWidget* parent = nullptr);

    // Empties both edits (only a new database does this; otherwise they keep their text).
    void clear();

    // Handlers of the controls, callable directly.
    void acceptPerson();
    void cancelAdding();

signals:
    // A person was appended to the database.
    void personAdded(Person* entry);

private:
    DatabaseDocument& database_;

    QLineEdit* nameEdit_ = nullptr;
    QLineEdit* emailEdit_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace tandrel
