// SPDX-License-Identifier: GPL-3.0-or-later
// Shortening paths in the middle of their folders.
#include "ui/PathElision.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace tandrel {

QString ElidePath(const QFontMetrics& metrics, const QString& path, int width) {
    if (metrics.horizontalAdvance(path) <= width) return path;
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString ellipsis(QChar(0x2026));
    if (cut > 0) {
        const QString folders = path.left(cut);
        const QString name = path.mid(cut); // with its separator
        const int least = metrics.horizontalAdvance(ellipsis + name);
        // Folders and name are measured apart: a pair of letters across the joint may come out a
        // pixel wider together, so the folders give way until the whole fits.
        for (int room = width - metrics.horizontalAdvance(name); least <= width && room > 0;
             --room) {
            QString folderPart = metrics.elidedText(folders, Qt::ElideMiddle, room);
            if (folderPart.isEmpty()) folderPart = ellipsis;
            const QString shown = folderPart + name;
            if (metrics.horizontalAdvance(shown) <= width) return shown;
        }
    }
    return metrics.elidedText(path, Qt::ElideLeft, width);
}

QString PathItemDelegate::shownText(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    // The room the style gives the text of the cell, without its margins.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return ElidePath(opt.fontMetrics, opt.text, textRect.width() - 2 * margin);
}

void PathItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text = shownText(option, index);
    // Already as short as it needs to be: the style must not cut it again elsewhere.
    opt.textElideMode = Qt::ElideNone;
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}

} // namespace tandrel
