// "About Tandrel".
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

#include "Forms.h"
#include "MainHooks.h"

class QLabel;
class QPushButton;

class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
             QWidget* parent = nullptr);
    // The credit text shown under the program's name.
    static QString creditText();
    // showAbout sets both labels, then shows the box modally.
    void setTexts(const QString& title, const QString& credits);
    // The program's 32 by 32 icon, drawn in code: an envelope in front of a second one.
    static QPixmap programIcon(qreal devicePixelRatio = 1.0);
    // The line that names the folder holding the settings and logs.
    static QString folderText(const QString& folder);

protected:
    void showEvent(QShowEvent* event) override;

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
    QLabel* iconLabel = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* creditsLabel = nullptr;
    QLabel* folderLabel = nullptr;
    QPushButton* okButton = nullptr;
};
