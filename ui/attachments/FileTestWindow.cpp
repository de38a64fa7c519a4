// SPDX-License-Identifier: GPL-3.0-or-later
// The "File test result" window: one line per attachment file tested.
#include "ui/attachments/FileTestWindow.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/DialogHelp.h"
#include "ui/TextBridge.h"
#include "ui/attachments/FileInfo.h"

namespace tandrel {

FileTestWindow::FileTestWindow(const AppState& st, QWidget* parent) : QDialog(parent), st_(st) {
    setObjectName(QStringLiteral("TfileTForm"));
    setWindowTitle(QStringLiteral("File test result"));
    resize(419, 252);

    summaryLabel_ = new QLabel(this);
    summaryLabel_->setObjectName(QStringLiteral("SummaryLabel"));
    summaryLabel_->setAccessibleName(QStringLiteral("File test summary"));

    resultList_ = new QListWidget(this);
    resultList_->setObjectName(QStringLiteral("ListBox1"));
    resultList_->setAccessibleName(QStringLiteral("File test result"));
    // Every line is as wide as the widest (see rebuildLines), and the list scrolls
    // sideways to the end of it.
    resultList_->setUniformItemSizes(true);
    resultList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    resultList_->setIconSize(QSize(small, small));

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    okButton_ = new QPushButton(QStringLiteral("OK"), panel);
    okButton_->setObjectName(QStringLiteral("OKBut"));
    okButton_->setAccessibleName(QStringLiteral("OK"));
    okButton_->setDefault(true);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addStretch(1);
    panelLayout->addWidget(okButton_);
    panelLayout->addStretch(1);
    GiveDialogHelp(*this, GuidePage("attachments.html#test"), *panelLayout);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel_);
    layout->addWidget(resultList_, 1);
    layout->addWidget(panel);
    setTabOrder(resultList_, okButton_);

    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
}

void FileTestWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) rebuildLines();
    QDialog::showEvent(event);
}

void FileTestWindow::rebuildLines() {
    resultList_->clear();
    const std::string separator = Utf8Bytes(QLocale().decimalPoint());
    const std::vector<FileTestRow> rows = FileTestRows(st_.attachments, st_.db.get(), separator);
    // The rows name files: their text is converted as the file names in it.
    auto text = [](const std::string& bytes) { return PathText(bytes); };
    // A file that cannot be sent stands out by colour and icon, not only by its wording;
    // the others carry an icon too, so that all the paths start in one column.
    const QIcon problemIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const QIcon foundIcon = style()->standardIcon(QStyle::SP_DialogApplyButton);
    const QColor problemColour(Qt::red);
    int problems = 0;
    int widest = -1;
    int widestWidth = -1;
    const QFontMetrics metrics(resultList_->font());
    // One line per person can mean many thousand lines: no layout until all are in.
    resultList_->setUpdatesEnabled(false);
    for (const FileTestRow& row : rows) {
        const QString line = row.person.empty() ? text(row.line)
                                                : DatabaseString(st_.db.get(), row.person) +
                                                      QStringLiteral(": ") + text(row.line);
        auto* item = new QListWidgetItem(row.usable ? foundIcon : problemIcon, line);
        item->setToolTip(line);
        if (!row.usable) {
            ++problems;
            item->setForeground(problemColour);
        }
        resultList_->addItem(item);
        if (const int width = metrics.horizontalAdvance(line); width > widestWidth) {
            widestWidth = width;
            widest = resultList_->count() - 1;
        }
    }
    // The list gives every line the size of its last one, which need not be the widest:
    // the last takes the size of the widest, so no line is cut off.
    if (widest >= 0) {
        const QSize size = resultList_->sizeHintForIndex(resultList_->model()->index(widest, 0));
        resultList_->item(resultList_->count() - 1)->setSizeHint(size);
    }
    resultList_->setUpdatesEnabled(true);
    if (rows.empty())
        summaryLabel_->setText(QString());
    else if (problems == 0)
        summaryLabel_->setText(QStringLiteral("All %1 files were found.").arg(rows.size()));
    else
        summaryLabel_->setText(QStringLiteral("%1 of %2 files are missing or cannot be read.")
                                   .arg(problems)
                                   .arg(rows.size()));
}

} // namespace tandrel
