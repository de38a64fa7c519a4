// "Add Receipient": adds one person.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QPushButton;

class AddPersonDialog : public QDialog {
    Q_OBJECT
public:
    AddPersonDialog(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                    QWidget* parent = nullptr);

    // Empties both edits (only a new database does this; otherwise they keep their text).
    void clear();

    // Handlers of the controls, callable directly.
    void acceptPerson();
    void cancelAdding();

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QLineEdit* nameEdit = nullptr;
    QLineEdit* emailEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
