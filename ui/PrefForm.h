// "Preferences": relay, sender and delimiter.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TPrefForm : public QDialog {
    Q_OBJECT
public:
    TPrefForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
              QWidget* parent = nullptr);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
