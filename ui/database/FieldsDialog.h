// SPDX-License-Identifier: GPL-3.0-or-later
// "Fields": appends and renames fields.
#pragma once

#include <QDialog>

#include "model/DatabaseDocument.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tandrel {

class FieldsDialog : public QDialog {
    Q_OBJECT
public:
    explicit FieldsDialog(DatabaseDocument& database, QWidget* parent = nullptr);

    // One line per field name, in field order.
    void fillFieldList();
    // Empties the list and the name edit (only a new database does this).
    void clear();

    // Handlers of the controls, callable directly.
    void onFieldLineClicked();
    void appendField();
    void renameField();
    void finishEditing();

signals:
    // "Done": the fields as they are now should be shown (the close box only closes).
    void editingDone();

private:
    void pickLine(bool takeFocus);

    DatabaseDocument& database_;

    QLineEdit* nameEdit_ = nullptr;
    QPushButton* changeButton_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QListWidget* fieldList_ = nullptr;
};

} // namespace tandrel
