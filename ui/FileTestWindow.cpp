// The "File test result" window: one line per attachment file tested.
#include "FileTestWindow.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "FileInfo.h"

FileTestWindow::FileTestWindow(tandrel::AppState& st, tandrel::MainHooks& main,
                               tandrel::Forms& forms, QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TfileTForm"));
    setWindowTitle(QStringLiteral("File test result"));
    resize(419, 252);

    resultList = new QListWidget(this);
    resultList->setObjectName(QStringLiteral("ListBox1"));
    resultList->setAccessibleName(QStringLiteral("File test result"));
    resultList->setUniformItemSizes(true);

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

    auto* layout = new QVBoxLayout(this);
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
    const std::string separator = QLocale().decimalPoint().toLocal8Bit().toStdString();
    const std::vector<std::string> lines =
        tandrel::FileTestLines(st_.attachments, st_.db.get(), separator);
    // One line per person can mean many thousand lines: insert them in one step.
    QStringList items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        items << QString::fromLocal8Bit(QByteArray::fromStdString(line));
    resultList->addItems(items);
}
