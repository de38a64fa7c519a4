// "Attachments": the attachment list, with each file's type and size.
#pragma once

#include <QDialog>
#include <string>

#include "Forms.h"
#include "MainHooks.h"

class QFileDialog;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class TAttachForm : public QDialog {
    Q_OBJECT
public:
    TAttachForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                QWidget* parent = nullptr);

    // The path as a row of the list holds it, byte for byte.
    static std::string RowPath(const class QTreeWidgetItem* row);

public slots:
    void BrowseButClick();
    void AddButtClick();
    void Button1Click();
    void TestButClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormClose();
    std::string decimalSeparator() const;

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QTreeWidget* ListView1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BrowseBut = nullptr;
    QPushButton* AddButt = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* TestBut = nullptr;
    QPushButton* DoneBut = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
};
