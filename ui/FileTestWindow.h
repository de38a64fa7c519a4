// "File test result": can every attachment be found and read?
#pragma once

#include <QDialog>

#include "Forms.h"
#include "MainHooks.h"

class QLabel;
class QListWidget;
class QPushButton;

class FileTestWindow : public QDialog {
    Q_OBJECT
public:
    FileTestWindow(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                   QWidget* parent = nullptr);

    // Rebuilds the test lines from the attachment list and the database.
    void rebuildLines();

protected:
    void showEvent(QShowEvent* event) override;

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QLabel* summaryLabel = nullptr;
    QListWidget* resultList = nullptr;
    QPushButton* okButton = nullptr;
};
