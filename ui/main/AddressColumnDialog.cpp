// SPDX-License-Identifier: GPL-3.0-or-later
// Which column of a CSV file holds the addresses: the columns with their first values.
#include "ui/main/AddressColumnDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/DialogHelp.h"
#include "model/TextEncoding.h"
#include "ui/WidgetHelpers.h"
#include "ui/TextBridge.h"

namespace tandrel {

namespace {

// A header name or value as the file's own encoding shows it.
QString Shown(const std::string& bytes) {
    QString text = SystemText(bytes);
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

AddressColumnDialog::AddressColumnDialog(const QString& fileName,
                                         const std::vector<CsvColumn>& columns, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("AddressColumnForm"));
    setWindowTitle(QStringLiteral("Column of the addresses"));
    setAccessibleName(windowTitle());
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* question =
        new QLabel(fileName + QStringLiteral(" has no column called email. Which column holds the "
                                             "e-mail addresses?"));
    question->setObjectName(QStringLiteral("AddressColumnLabel"));
    question->setAccessibleName(question->text());
    question->setWordWrap(true);
    layout->addWidget(question);

    columnList = new QTreeWidget;
    columnList->setObjectName(QStringLiteral("AddressColumnList"));
    columnList->setAccessibleName(QStringLiteral("Columns"));
    columnList->setRootIsDecorated(false);
    columnList->setSelectionMode(QAbstractItemView::SingleSelection);
    columnList->setHeaderLabels({QStringLiteral("Column"), QStringLiteral("First value")});
    columnList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    QTreeWidgetItem* likely = nullptr;
    for (const CsvColumn& c : columns) {
        names_.push_back(c.name);
        auto* item = new QTreeWidgetItem(columnList, {Shown(c.name), Shown(c.sample)});
        // A column without a name cannot be named when the file is read again.
        if (c.name.empty()) item->setFlags(Qt::NoItemFlags);
        // The first column whose value looks like an address is the likely answer.
        if (!likely && !c.name.empty() && HoldsAddress(c.sample)) likely = item;
    }
    if (likely) columnList->setCurrentItem(likely);
    layout->addWidget(columnList, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    okButton = MakeButton("OKBut", QStringLiteral("OK"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(okButton);
    cancelButton = MakeButton("CancelBut", QStringLiteral("Cancel"));
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancelButton);
    GiveDialogHelp(*this, GuidePage("databases.html#csv-file"), *buttons);
    layout->addLayout(buttons);

    connect(columnList, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(columnList, &QTreeWidget::itemSelectionChanged, this,
            [this] { okButton->setEnabled(chosenColumn().has_value()); });
    okButton->setEnabled(chosenColumn().has_value());
    resize(420, 300);
}

std::optional<std::string> AddressColumnDialog::chosenColumn() const {
    const QList<QTreeWidgetItem*> selected = columnList->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    const int row = columnList->indexOfTopLevelItem(selected.front());
    if (row < 0 || static_cast<std::size_t>(row) >= names_.size()) return std::nullopt;
    return names_[static_cast<std::size_t>(row)];
}

std::optional<std::string>
AskAddressColumn(const QString& fileName, const std::vector<CsvColumn>& columns, QWidget* parent) {
    AddressColumnDialog dialog(fileName, columns, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosenColumn();
}

} // namespace tandrel
