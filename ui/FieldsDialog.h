// "Fields": appends and renames fields.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TForm4 : public QDialog {
    Q_OBJECT
public:
    TForm4(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
           QWidget* parent = nullptr);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
