// "About Tandrel".
#pragma once

#include <QDialog>
#include <QString>

#include "Forms.h"
#include "MainHooks.h"

class QLabel;

class TaboutForm : public QDialog {
    Q_OBJECT
public:
    TaboutForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
               QWidget* parent = nullptr);
    // The credit text shown under the program's name.
    static QString CreditText();
    // Help3Click sets both labels, then shows the box modally.
    void setTexts(const QString& title, const QString& credits);

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
};
