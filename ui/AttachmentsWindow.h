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

class AttachmentsWindow : public QDialog {
    Q_OBJECT
public:
    AttachmentsWindow(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                      QWidget* parent = nullptr);

    // The path as a row of the list holds it, byte for byte.
    static std::string rowPath(const class QTreeWidgetItem* row);

public slots:
    void browse();
    void addAttachment();
    void removeSelectedAttachments();
    void testFiles();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onClosed();
    std::string decimalSeparator() const;

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QTreeWidget* attachmentList = nullptr;
    QLineEdit* pathEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* removeButton = nullptr;
    QPushButton* testButton = nullptr;
    QPushButton* doneButton = nullptr;
    QFileDialog* openDialog = nullptr;
    bool browsed_ = false;
};
