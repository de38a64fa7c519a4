// SPDX-License-Identifier: GPL-3.0-or-later
// Resizable list columns sized to their contents.
#include "ui/ListColumns.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <vector>

namespace tandrel {

namespace {
// Enough rows to find the widest value of an ordinary list without measuring every row
// of a hundred thousand.
constexpr int kSampledRows = 1000;

// Refits a view's columns as long as the user has not sized one.
class ColumnFitter : public QObject {
public:
    explicit ColumnFitter(QTreeView& view) : QObject(&view), view_(view) {
        QHeaderView* h = view.header();
        connect(h, &QHeaderView::sectionResized, this, [this](int logical, int, int) {
            // The stretching last section follows the list's width, not the user.
            if (!fitting_ && logical + 1 < view_.header()->count()) userSized_ = true;
        });
        view.viewport()->installEventFilter(this);
        if (QAbstractItemModel* m = view.model()) {
            // A model the view owns (a QTreeWidget's) is reset while the view is being
            // destroyed, when the view may no longer be used; its rows are fitted as
            // they arrive instead.
            if (m->parent() != &view)
                connect(m, &QAbstractItemModel::modelReset, this, [this] {
                    userSized_ = false;
                    fit();
                });
            connect(m, &QAbstractItemModel::rowsInserted, this,
                    [this](const QModelIndex&, int first, int) {
                        if (first == 0) userSized_ = false;
                        if (!userSized_) fit();
                    });
        }
        fit();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && !userSized_) fit();
        return QObject::eventFilter(watched, event);
    }

private:
    void fit() {
        fitting_ = true;
        FitColumnsToContents(view_);
        fitting_ = false;
    }

    QTreeView& view_;
    bool fitting_ = false;
    bool userSized_ = false;
};

} // namespace

void MakeColumnsResizable(QTreeView& view) {
    QHeaderView* h = view.header();
    h->setSectionsMovable(false);
    h->setSectionResizeMode(QHeaderView::Interactive);
    h->setStretchLastSection(true);
    h->setMinimumSectionSize(18); // a one-character column such as "*"
    view.setTextElideMode(Qt::ElideMiddle);
}

int MaxFittedColumnWidth(const QTreeView& view) {
    const int byText = view.fontMetrics().averageCharWidth() * 32;
    return std::max(byText, view.viewport()->width() * 3 / 5);
}

void FitColumnsToContents(QTreeView& view) {
    const QAbstractItemModel* model = view.model();
    if (!model) return;
    QHeaderView* h = view.header();
    const int columns = model->columnCount();
    if (columns == 0) return;
    const int rows = model->rowCount();
    const int step = std::max(1, rows / kSampledRows);
    const int cap = MaxFittedColumnWidth(view);
    std::vector<int> wanted(static_cast<std::size_t>(columns));
    for (int col = 0; col < columns; ++col) {
        int w = h->sectionSizeHint(col);
        for (int row = 0; row < rows; row += step)
            w = std::max(w, view.sizeHintForIndex(model->index(row, col)).width());
        wanted[static_cast<std::size_t>(col)] = std::clamp(w, h->minimumSectionSize(), cap);
    }
    // Too wide together: every column gets at most an equal share of what the narrower
    // ones leave, so the widest give way first.
    int limit = cap;
    std::vector<int> sorted = wanted;
    std::sort(sorted.begin(), sorted.end());
    int room = view.viewport()->width();
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const int share = room / static_cast<int>(sorted.size() - i);
        if (sorted[i] > share) {
            limit = std::max(share, h->minimumSectionSize());
            break;
        }
        room -= sorted[i];
    }
    int used = 0;
    for (int col = 0; col + 1 < columns; ++col) {
        h->resizeSection(col, std::min(wanted[static_cast<std::size_t>(col)], limit));
        used += h->sectionSize(col);
    }
    // The header stretches its last section only when it next lays itself out.
    h->resizeSection(columns - 1,
                     std::max(h->minimumSectionSize(), view.viewport()->width() - used));
}

void KeepColumnsFitted(QTreeView& view) {
    new ColumnFitter(view);
}

} // namespace tandrel
