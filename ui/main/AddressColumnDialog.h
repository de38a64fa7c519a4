// SPDX-License-Identifier: GPL-3.0-or-later
// The question a CSV file brings whose header row calls no column "email" or any of
// the usual names for it: which of its columns holds the e-mail addresses. Each column
// is listed with its first value, so the user sees which one it is.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "model/CsvFile.h"

class QPushButton;
class QTreeWidget;

namespace tandrel {

class AddressColumnDialog : public QDialog {
    Q_OBJECT
public:
    // `fileName` as shown to the user; `columns` in the order of the header row.
    AddressColumnDialog(const QString& fileName, const std::vector<CsvColumn>& columns,
                        QWidget* parent);

    // The name of the chosen column as its header row writes it; none while no row is
    // selected.
    std::optional<std::string> chosenColumn() const;

    QTreeWidget* columnList = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

private:
    std::vector<std::string> names_;
};

// Asks which column of `fileName` holds the addresses; none when the user cancels.
std::optional<std::string> AskAddressColumn(const QString& fileName,
                                            const std::vector<CsvColumn>& columns, QWidget* parent);

} // namespace tandrel
