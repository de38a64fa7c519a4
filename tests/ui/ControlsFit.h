// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a window shows all its controls at the font the desktop gives it: every
// visible control lies inside the window and inside the panels that hold it, no two
// overlap, and the text of labels and buttons is not cut off. What a user would notice;
// no size of ours restated.
#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QTabWidget>
#include <QWidget>
#include <gtest/gtest.h>

namespace tandrel::test {

inline void ExpectShownControlsFit(QWidget* window) {
    const auto rectIn = [window](const QWidget* w) {
        return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
    };
    // What lies inside a scrolled area is meant to be partly out of sight.
    const auto scrolled = [window](const QWidget* w) {
        for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
            if (qobject_cast<const QAbstractScrollArea*>(p)) return true;
        return false;
    };
    std::vector<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && w->isVisibleTo(window) && !scrolled(w) &&
            (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
             w->focusPolicy() != Qt::NoFocus))
            controls.push_back(w);
    for (QWidget* w : controls) {
        SCOPED_TRACE(w->metaObject()->className() + std::string(" ") +
                     w->objectName().toStdString());
        for (const QWidget* p = w->parentWidget(); p; p = p == window ? nullptr : p->parentWidget())
            EXPECT_TRUE(rectIn(p).contains(rectIn(w)))
                << "outside " << (p == window ? "the window" : p->objectName().toStdString());
        const QString text = qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text()
                             : qobject_cast<QAbstractButton*>(w)
                                 ? qobject_cast<QAbstractButton*>(w)->text()
                                 : QString();
        if (!text.isEmpty() && !text.contains('\n') &&
            !(qobject_cast<QLabel*>(w) && qobject_cast<QLabel*>(w)->wordWrap())) {
            EXPECT_GE(w->width() + 2, w->fontMetrics().horizontalAdvance(QString(text).remove('&')))
                << "text cut off";
        }
        for (QWidget* other : controls) {
            if (other != w && !(w->isAncestorOf(other) || other->isAncestorOf(w))) {
                EXPECT_FALSE(rectIn(w).intersects(rectIn(other)))
                    << "overlaps " << other->objectName().toStdString();
            }
        }
    }
}

// Runs `check` on the window as shown, once for every page of each of its tabs.
template <class Check> void ForEachPage(QWidget* window, Check check) {
    const auto tabWidgets = window->findChildren<QTabWidget*>();
    if (tabWidgets.isEmpty()) check();
    for (QTabWidget* tabs : tabWidgets) {
        const int shown = tabs->currentIndex();
        for (int page = 0; page < tabs->count(); ++page) {
            SCOPED_TRACE("page " + tabs->tabText(page).toStdString());
            tabs->setCurrentIndex(page);
            QApplication::processEvents();
            check();
        }
        tabs->setCurrentIndex(shown);
    }
}

// Laid out as when it opens, every page of its tabs in turn.
inline void ExpectControlsFit(QWidget* window) {
    const bool wasShown = window->isVisible();
    window->show();
    if (window->layout()) window->layout()->activate();
    QApplication::processEvents();
    ForEachPage(window, [window] { ExpectShownControlsFit(window); });
    if (!wasShown) window->hide();
}

} // namespace tandrel::test
