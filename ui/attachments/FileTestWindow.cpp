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

    summaryLabel = new QLabel(this);
    summaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
    summaryLabel->setAccessibleName(QStringLiteral("File test summary"));

    resultList = new QListWidget(this);
    resultList->setObjectName(QStringLiteral("ListBox1"));
    resultList->setAccessibleName(QStringLiteral("File test result"));
    // Every line is as wide as the widest (see rebuildLines), and the list scrolls
    // sideways to the end of it.
    resultList->setUniformItemSizes(true);
    resultList->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    resultList->setIconSize(QSize(small, small));

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    okButton = new QPushButton(QStringLiteral("OK"), panel);
    okButton->setObjectName(QStringLiteral("OKBut"));
    okButton->setAccessibleName(QStringLiteral("OK"));
    okButton->setDefault(true);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addStretch(1);
    panelLayout->addWidget(okButton);
    panelLayout->addStretch(1);
    GiveDialogHelp(*this, GuidePage("attachments.html#test"), *panelLayout);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(resultList, 1);
    layout->addWidget(panel);
    setTabOrder(resultList, okButton);

    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

void FileTestWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) rebuildLines();
    QDialog::showEvent(event);
}

void FileTestWindow::rebuildLines() {
    resultList->clear();
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
    const QFontMetrics metrics(resultList->font());
    // One line per person can mean many thousand lines: no layout until all are in.
    resultList->setUpdatesEnabled(false);
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
        resultList->addItem(item);
        if (const int width = metrics.horizontalAdvance(line); width > widestWidth) {
            widestWidth = width;
            widest = resultList->count() - 1;
        }
    }
    // The list gives every line the size of its last one, which need not be the widest:
    // the last takes the size of the widest, so no line is cut off.
    if (widest >= 0) {
        const QSize size = resultList->sizeHintForIndex(resultList->model()->index(widest, 0));
        resultList->item(resultList->count() - 1)->setSizeHint(size);
    }
    resultList->setUpdatesEnabled(true);
    if (rows.empty())
        summaryLabel->setText(QString());
    else if (problems == 0)
        summaryLabel->setText(QStringLiteral("All %1 files were found.").arg(rows.size()));
    else
        summaryLabel->setText(QStringLiteral("%1 of %2 files are missing or cannot be read.")
                                  .arg(problems)
                                  .arg(rows.size()));
}

} // namespace tandrel
