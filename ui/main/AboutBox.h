// SPDX-License-Identifier: GPL-3.0-or-later
// "About Tandrel".
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <string>

class QLabel;
class QPushButton;

namespace tandrel {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    // `programDir` names the folder of the settings and logs; it is read when shown.
    explicit AboutBox(const std::string& programDir, QWidget* parent = nullptr);
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
    const std::string& programDir_;
    QLabel* iconLabel_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* creditsLabel_ = nullptr;
    QLabel* folderLabel_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

} // namespace tandrel
