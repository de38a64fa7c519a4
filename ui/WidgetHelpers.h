// SPDX-License-Identifier: GPL-3.0-or-later
// Small factories for the dialogs' controls: every control gets its object name and the
// accessible name a screen reader announces.
#pragma once

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QString>

namespace tandrel {

// A button announced by its caption without the "&" of its accelerator.
inline QPushButton* MakeButton(const char* objectName, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    return b;
}

inline QLabel* MakeBoldLabel(const char* objectName, const QString& caption) {
    auto* label = new QLabel(caption);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setAccessibleName(caption);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

inline QLineEdit* MakeEdit(const char* objectName, const QString& accessibleName) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setAccessibleName(accessibleName);
    return edit;
}

// The progress gauge of the preparation and delivery windows: 0 to 100, a blue bar,
// the percentage shown as text, announced as "Progress".
inline QProgressBar* MakeGauge(QWidget* parent, const QRect& geometry) {
    auto* g = new QProgressBar(parent);
    g->setObjectName(QStringLiteral("Gauge1"));
    g->setGeometry(geometry);
    g->setRange(0, 100);
    g->setValue(0);
    g->setTextVisible(true);
    g->setFormat(QStringLiteral("%p%"));
    g->setAlignment(Qt::AlignCenter);
    QPalette pal = g->palette();
    pal.setColor(QPalette::Highlight, Qt::blue);
    g->setPalette(pal);
    g->setAccessibleName(QStringLiteral("Progress"));
    return g;
}

} // namespace tandrel
