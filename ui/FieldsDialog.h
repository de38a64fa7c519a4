// "Fields": appends and renames fields.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QListWidget;
class QPushButton;

class FieldsDialog : public QDialog {
    Q_OBJECT
public:
    FieldsDialog(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                 QWidget* parent = nullptr);

    // One line per field name, in field order.
    void fillFieldList();
    // Empties the list and the name edit (only a new database does this).
    void clear();

    // Handlers of the controls, callable directly.
    void onFieldLineClicked();
    void appendField();
    void renameField();
    void finishEditing();

private:
    void pickLine(bool takeFocus);

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QLineEdit* nameEdit = nullptr;
    QPushButton* changeButton = nullptr;
    QPushButton* newButton = nullptr;
    QPushButton* doneButton = nullptr;
    QListWidget* fieldList = nullptr;
};
