#include "FileTestForm.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "FileInfo.h"

TfileTForm::TfileTForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                       QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TfileTForm"));
    setWindowTitle(QStringLiteral("File test result"));
    resize(419, 252);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setAccessibleName(QStringLiteral("File test result"));
    ListBox1->setUniformItemSizes(true);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    OKBut = new QPushButton(QStringLiteral("OK"), panel);
    OKBut->setObjectName(QStringLiteral("OKBut"));
    OKBut->setAccessibleName(QStringLiteral("OK"));
    OKBut->setDefault(true);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addStretch(1);
    panelLayout->addWidget(OKBut);
    panelLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ListBox1, 1);
    layout->addWidget(panel);
    setTabOrder(ListBox1, OKBut);

    connect(OKBut, &QPushButton::clicked, this, &QDialog::accept);
}

void TfileTForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TfileTForm::FormShow() {
    ListBox1->clear();
    const std::string separator = QLocale().decimalPoint().toLocal8Bit().toStdString();
    const std::vector<std::string> lines =
        tandrel::FileTestLines(st_.attachments, st_.db.get(), separator);
    // One line per person can mean many thousand lines: insert them in one step.
    QStringList items;
    items.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        items << QString::fromLocal8Bit(QByteArray::fromStdString(line));
    ListBox1->addItems(items);
}
