#include "AboutForm.h"

TaboutForm::TaboutForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setWindowTitle(QStringLiteral("About Tandrel"));
}

QString TaboutForm::CreditText() { return QString(); }
void TaboutForm::setTexts(const QString&, const QString&) {}
