// "Add Receipient": adds one person.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QPushButton;

class TaddForm : public QDialog {
    Q_OBJECT
public:
    TaddForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
             QWidget* parent = nullptr);

    // Empties both edits (only a new database does this; otherwise they keep their text).
    void Clear();

    // Handlers of the controls, callable directly.
    void Button1Click();
    void Button2Click();

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
};
