// SPDX-License-Identifier: GPL-3.0-or-later
// Centring the windows of a mailing run on the main window's screen.
#include "ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tandrel {

void CentreOnScreen(QWidget& window) {
    QWidget* anchor = window.parentWidget() ? window.parentWidget()->window() : &window;
    QScreen* screen = anchor->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // Once the window has been shown, its frame is known; before, its client size stands in.
    const QSize outer = window.frameGeometry().size();
    window.move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

} // namespace tandrel
