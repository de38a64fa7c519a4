#include "FieldsDialog.h"

TForm4::TForm4(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setWindowTitle(QStringLiteral("Fields"));
}
