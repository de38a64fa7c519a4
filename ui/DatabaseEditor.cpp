#include "DatabaseEditor.h"

TdBaseEntry::TdBaseEntry(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setWindowTitle(QStringLiteral("Database Editor"));
}

void TdBaseEntry::StartNewDatabase() {}
void TdBaseEntry::FillEntryList() {}
void TdBaseEntry::ShowCurrentEntry() {}
