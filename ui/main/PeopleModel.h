// SPDX-License-Identifier: GPL-3.0-or-later
// A table model over database entries for the "Available" and "Receipients" lists.
// Each row holds the entry it stands for, so two people with the same name stay two
// rows with two entries, and no row ever has to be looked up by its name.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "model/Model.h"

namespace tandrel {

class PeopleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // "Available" shows a third column "*" for the entries that are recipients.
    enum class Kind { Available, Receipients };

    explicit PeopleModel(Kind kind, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Replaces every row (in the given order).
    void setEntries(std::vector<Person*> rows);
    void appendEntries(const std::vector<Person*>& rows);
    // Removes the rows at the given positions (any order, duplicates allowed).
    void removeRowsAt(std::vector<int> rows);
    void clear();

    Person* entryAt(int row) const;
    const std::vector<Person*>& entries() const { return rows_; }

    // The encoding the names and addresses are read through (UTF-8 until set).
    void setEncoding(TextEncoding encoding) { encoding_ = encoding; }

    // The "*" column follows each entry's `selected` flag; call after changing flags.
    void selectionMarksChanged();

    // Takes a copy of what the rows show and stops reading the entries, for the time in
    // which another window may change or release them behind the lists' back. Ends with
    // the next setEntries() or clear().
    void freeze();
    bool frozen() const { return frozen_; }

private:
    struct Shown {
        std::string name;
        std::string email;
        bool selected = false;
    };

    QString shown(const std::string& bytes) const;

    Kind kind_;
    TextEncoding encoding_ = TextEncoding::Utf8;
    std::vector<Person*> rows_;
    bool frozen_ = false;
    std::vector<Shown> snapshot_;
};

} // namespace tandrel
