// SPDX-License-Identifier: GPL-3.0-or-later
// The "Search" filter of a people list: shows the rows whose name or e-mail address
// contains a text, ignoring case, in the order of the list underneath.
#pragma once

#include <QSortFilterProxyModel>

namespace tandrel {

class PeopleFilter : public QSortFilterProxyModel {
public:
    PeopleFilter(QAbstractItemModel* source, QObject* parent) : QSortFilterProxyModel(parent) {
        setSourceModel(source);
    }

    void setSearchText(const QString& text) {
        if (text == text_) return;
        text_ = text;
        invalidateRowsFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (text_.isEmpty()) return true;
        // Column 2 is the "*" mark: typing "*" must not pick the receipients.
        for (int column : {0, 1})
            if (sourceModel()
                    ->index(row, column, parent)
                    .data()
                    .toString()
                    .contains(text_, Qt::CaseInsensitive))
                return true;
        return false;
    }

private:
    QString text_;
};

} // namespace tandrel
