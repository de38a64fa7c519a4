// "File test result": can every attachment be found and read?
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TfileTForm : public QDialog {
    Q_OBJECT
public:
    TfileTForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
               QWidget* parent = nullptr);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
