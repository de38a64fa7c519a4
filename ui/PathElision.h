// SPDX-License-Identifier: GPL-3.0-or-later
// Paths shown in narrow places: they lose the middle of their folders, so that the file
// name stays in view; the whole path is for the tooltip.
#pragma once

#include <QString>
#include <QStyledItemDelegate>

class QFontMetrics;

namespace tandrel {

// `path` as it fits into `width` pixels: whole when it fits; otherwise its folders lose
// their middle and the file name (from the last '/' or '\') stays whole; when not even
// the name fits, the path loses its beginning, so that the end of the name stays.
QString ElidePath(const QFontMetrics& metrics, const QString& path, int width);

// Draws the paths of a list column shortened by ElidePath to the column's width.
class PathItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The text drawn for `index` in the cell `option` describes.
    QString shownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

} // namespace tandrel
