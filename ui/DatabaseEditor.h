// "Database Editor": the people and their values.
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class TdBaseEntry : public QDialog {
    Q_OBJECT
public:
    TdBaseEntry(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                QWidget* parent = nullptr);
    // Releases any database, creates one with "name" and "email", shows the editor modally.
    void StartNewDatabase();
    void FillEntryList();
    void ShowCurrentEntry();

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
};
