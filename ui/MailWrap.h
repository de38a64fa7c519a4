// "Preparing Mails": the preparation window.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TMailWrapForm : public QDialog {
    Q_OBJECT
public:
    TMailWrapForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                  QWidget* parent = nullptr);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
