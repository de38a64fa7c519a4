// Whether a fixed-size window shows all its controls at the font the desktop gives it:
// every visible control lies inside the window, no two overlap, and the text of labels
// and buttons is not cut off. What a user would notice; no size of ours restated.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace tandrel::test {

inline void ExpectControlsFit(QWidget* window) {
    // Laid out as when it opens.
    const bool wasShown = window->isVisible();
    window->show();
    if (window->layout()) window->layout()->activate();
    const QRect inside(QPoint(0, 0), window->size());
    std::vector<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!w->isHidden() && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                               w->focusPolicy() != Qt::NoFocus))
            controls.push_back(w);
    for (QWidget* w : controls) {
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_TRUE(inside.contains(w->geometry())) << "outside the window";
        const QString text = qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text()
                             : qobject_cast<QAbstractButton*>(w)
                                 ? qobject_cast<QAbstractButton*>(w)->text()
                                 : QString();
        if (!text.isEmpty() && !text.contains('\n') &&
            !(qobject_cast<QLabel*>(w) && qobject_cast<QLabel*>(w)->wordWrap()))
            EXPECT_GE(w->width() + 2, w->fontMetrics().horizontalAdvance(QString(text).remove('&')))
                << "text cut off";
        for (QWidget* other : controls)
            if (other != w && !(w->isAncestorOf(other) || other->isAncestorOf(w)))
                EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                    << "overlaps " << other->objectName().toStdString();
    }
    if (!wasShown) window->hide();
}

} // namespace tandrel::test
