#include "FileTestForm.h"

TfileTForm::TfileTForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setWindowTitle(QStringLiteral("File test result"));
}
