// Resizable list columns sized to their contents.
#include "ListColumns.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>

namespace tandrel {

namespace {
// Enough rows to find the widest value of an ordinary list without measuring every row
// of a hundred thousand.
constexpr int kSampledRows = 1000;
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
    const int rows = model->rowCount();
    const int step = std::max(1, rows / kSampledRows);
    const int cap = MaxFittedColumnWidth(view);
    for (int col = 0; col + 1 < columns; ++col) {
        int wanted = h->sectionSizeHint(col);
        for (int row = 0; row < rows; row += step)
            wanted = std::max(wanted, view.sizeHintForIndex(model->index(row, col)).width());
        h->resizeSection(col, std::clamp(wanted, h->minimumSectionSize(), cap));
    }
}

} // namespace tandrel
