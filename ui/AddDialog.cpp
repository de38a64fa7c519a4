#include "AddDialog.h"

TaddForm::TaddForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setWindowTitle(QStringLiteral("Add Receipient"));
}
