// SPDX-License-Identifier: GPL-3.0-or-later
// "File test result": can every attachment be found and read?
#pragma once

#include <QDialog>

#include "model/AppState.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace tandrel {

class FileTestWindow : public QDialog {
    Q_OBJECT
public:
    // Tests the attachments of `st` against its database each time it is shown.
    explicit FileTestWindow(const AppState& st, QWidget* parent = nullptr);

    // Rebuilds the test lines from the attachment list and the database.
    void rebuildLines();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const AppState& st_;

    QLabel* summaryLabel_ = nullptr;
    QListWidget* resultList_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

} // namespace tandrel
