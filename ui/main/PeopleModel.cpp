// SPDX-License-Identifier: GPL-3.0-or-later
// The rows of the "Available" and "Receipients" lists, each holding its own entry.
#include "ui/main/PeopleModel.h"
#include "ui/TextBridge.h"

#include <algorithm>

namespace tandrel {

PeopleModel::PeopleModel(Kind kind, QObject* parent) : QAbstractTableModel(parent), kind_(kind) {}

int PeopleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PeopleModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return kind_ == Kind::Available ? 3 : 2;
}

QVariant PeopleModel::data(const QModelIndex& index, int role) const {
    // The tooltip shows a value in full where the column cuts it.
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    const std::string* name;
    const std::string* email;
    bool selected;
    if (frozen_) {
        const Shown& s = snapshot_[row];
        name = &s.name;
        email = &s.email;
        selected = s.selected;
    } else {
        const Person* e = rows_[row];
        name = &e->name();
        email = &e->email();
        selected = e->selected;
    }
    switch (index.column()) {
    case 0:
        return shown(*name);
    case 1:
        return shown(*email);
    case 2:
        return selected ? QStringLiteral("*") : QString();
    default:
        return {};
    }
}

QString PeopleModel::shown(const std::string& bytes) const {
    return EncodedText(bytes, encoding_);
}

QVariant PeopleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case 0:
        return QStringLiteral("Name");
    case 1:
        return QStringLiteral("E-Mail");
    case 2:
        return QStringLiteral("*");
    default:
        return {};
    }
}

void PeopleModel::setEntries(std::vector<Person*> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    frozen_ = false;
    snapshot_.clear();
    snapshot_.shrink_to_fit();
    endResetModel();
}

void PeopleModel::appendEntries(const std::vector<Person*>& rows) {
    if (rows.empty()) return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), rows.begin(), rows.end());
    if (frozen_)
        for (const Person* e : rows)
            snapshot_.push_back(Shown{e->name(), e->email(), e->selected});
    endInsertRows();
}

void PeopleModel::removeRowsAt(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [&](int r) { return r < 0 || r >= rowCount(); }),
        rows.end());
    if (rows.empty()) return;

    // Runs of neighbouring rows; each is one removal for the views.
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && runs.back().second + 1 == r)
            runs.back().second = r;
        else
            runs.emplace_back(r, r);
    }
    auto eraseRun = [&](int first, int last) {
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        if (frozen_) snapshot_.erase(snapshot_.begin() + first, snapshot_.begin() + last + 1);
    };
    // A few runs keep the views' state (scroll position, current row); many scattered
    // rows are cheaper as one rebuild than as thousands of single removals.
    constexpr std::size_t kMaxRuns = 64;
    if (runs.size() <= kMaxRuns) {
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            beginRemoveRows(QModelIndex(), it->first, it->second);
            eraseRun(it->first, it->second);
            endRemoveRows();
        }
        return;
    }
    beginResetModel();
    std::vector<char> drop(rows_.size(), 0);
    for (int r : rows)
        drop[static_cast<std::size_t>(r)] = 1;
    std::size_t out = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (drop[i]) continue;
        rows_[out] = rows_[i];
        if (frozen_) snapshot_[out] = std::move(snapshot_[i]);
        ++out;
    }
    rows_.resize(out);
    if (frozen_) snapshot_.resize(out);
    endResetModel();
}

void PeopleModel::clear() {
    setEntries({});
}

Person* PeopleModel::entryAt(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return rows_[static_cast<std::size_t>(row)];
}

void PeopleModel::selectionMarksChanged() {
    // A frozen list must not read its entries: they may be gone.
    if (kind_ != Kind::Available || rows_.empty() || frozen_) return;
    emit dataChanged(index(0, 2), index(rowCount() - 1, 2), {Qt::DisplayRole});
}

void PeopleModel::freeze() {
    if (frozen_) return;
    snapshot_.clear();
    snapshot_.reserve(rows_.size());
    for (const Person* e : rows_)
        snapshot_.push_back(Shown{e->name(), e->email(), e->selected});
    frozen_ = true;
}

} // namespace tandrel
