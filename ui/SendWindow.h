// "Sending mails": the delivery window.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TsendWin : public QDialog {
    Q_OBJECT
public:
    TsendWin(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
             QWidget* parent = nullptr);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
