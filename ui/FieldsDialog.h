// "Fields": appends and renames fields.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QListWidget;
class QPushButton;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    TForm4(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
           QWidget* parent = nullptr);

    // One line per field name, in field order.
    void FillFieldList();
    // Empties the list and the name edit (only a new database does this).
    void Clear();

    // Handlers of the controls, callable directly.
    void ListBox1Click();
    void newButClick();
    void changeButClick();
    void DoneClick();

private:
    void pickLine(bool takeFocus);

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QLineEdit* Edit1 = nullptr;
    QPushButton* changeBut = nullptr;
    QPushButton* newBut = nullptr;
    QPushButton* Done = nullptr;
    QListWidget* ListBox1 = nullptr;
};
