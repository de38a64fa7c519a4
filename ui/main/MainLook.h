// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window and its parts share: its measures, hints and help contexts,
// icons drawn from the resources, and what every part of it converts and shows while
// busy (ui/TextBridge.h, ui/WaitCursor.h).
// Only the files of ui/main include this.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QSvgRenderer>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/Settings.h"
#include "model/TextEncoding.h"
#include "ui/TextBridge.h"
#include "ui/WaitCursor.h"

namespace tandrel::mainwindow {

inline constexpr int kMinWidth = 675;
inline constexpr int kMinHeight = 450;
inline constexpr int kFieldListWidth = 105;
inline constexpr int kMoveButtonsWidth = 64;
inline constexpr int kSplitterHeight = 5;
inline constexpr int kHeaderPanelHeight = 82;
inline constexpr int kSplitterMinSize = 60;
// The upper pane never hides its move buttons, however far the splitter is dragged.
inline constexpr int kUpperPaneMinHeight = 190;
inline constexpr int kGroupBoxWidth = 139;
inline constexpr const char* kWindowHint = "|Press F1 for help";
// The property that holds a control's help context number.
inline constexpr const char* kHelpContext = "helpContext";

// Settings may hold any numbers. The window gets a size between 200x150 (or the
// window's own minimum where the screen has room for it) and the available area, lies
// fully inside that area, and the upper pane fits the window. Sums are taken in 64 bits.
inline WindowGeometry FitWindow(const WindowGeometry& g, const QRect& avail) {
    auto fit = [](std::int64_t v, std::int64_t lo, std::int64_t hi) {
        return static_cast<int>(std::clamp(v, lo, std::max(lo, hi)));
    };
    const std::int64_t aw = std::max(avail.width(), 200);
    const std::int64_t ah = std::max(avail.height(), 150);
    WindowGeometry out;
    out.width =
        fit(g.width, std::min<std::int64_t>(kMinWidth, std::max<std::int64_t>(aw, 200)), aw);
    out.height =
        fit(g.height, std::min<std::int64_t>(kMinHeight, std::max<std::int64_t>(ah, 150)), ah);
    out.x = fit(g.x, avail.left(), std::int64_t{avail.left()} + aw - out.width);
    out.y = fit(g.y, avail.top(), std::int64_t{avail.top()} + ah - out.height);
    const std::int64_t room =
        std::int64_t{out.height} - kSplitterHeight - kHeaderPanelHeight - 2 * kSplitterMinSize;
    out.paneHeight = fit(g.paneHeight, std::min<std::int64_t>(kUpperPaneMinHeight, room), room);
    return out;
}

// "tooltip|status": the part after the first "|", or the whole hint without one.
inline QString statusPart(const QString& hint) {
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

inline QString tooltipPart(const QString& hint) {
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

inline void setHint(QWidget* w, const QString& hint) {
    w->setToolTip(tooltipPart(hint));
    w->setStatusTip(statusPart(hint));
}

inline QPixmap renderSvg(const QString& path, QSize size, qreal dpr) {
    QSvgRenderer renderer(path);
    QPixmap pm(size * dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    renderer.render(&p);
    p.end();
    pm.setDevicePixelRatio(dpr);
    return pm;
}

inline QIcon svgIcon(const QString& path, QSize size) {
    QIcon icon;
    icon.addPixmap(renderSvg(path, size, 1.0));
    icon.addPixmap(renderSvg(path, size, 2.0));
    return icon;
}

inline QFont scaledFont(const QFont& base, int points, bool bold) {
    QFont f = base;
    f.setPointSize(points);
    f.setBold(bold);
    return f;
}

} // namespace tandrel::mainwindow
