// SPDX-License-Identifier: GPL-3.0-or-later
// "Attachments": the attachment list, with each file's type and size.
#pragma once

#include <QDialog>
#include <string>

#include "model/AppState.h"

class QFileDialog;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tandrel {

class FileTestWindow;

class AttachmentsWindow : public QDialog {
    Q_OBJECT
public:
    // Edits the attachment list of `st`; its file test window is made here, a window of
    // `parent` like this one (or released with this one when it has no parent).
    explicit AttachmentsWindow(AppState& st, QWidget* parent = nullptr);
    ~AttachmentsWindow() override;

    FileTestWindow* fileTestWindow() const { return fileTest_; }

    // The path as a row of the list holds it, byte for byte.
    static std::string rowPath(const QTreeWidgetItem* row);

public slots:
    void browse();
    void addAttachment();
    void removeSelectedAttachments();
    void testFiles();

signals:
    // The window was closed: the attachment count may have changed.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onClosed();
    std::string decimalSeparator() const;

    AppState& st_;
    FileTestWindow* fileTest_ = nullptr;

    QTreeWidget* attachmentList_ = nullptr;
    QLineEdit* pathEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
    bool browsed_ = false;
};

} // namespace tandrel
