// SPDX-License-Identifier: GPL-3.0-or-later
// The bar between the people lists and the mail: dragging it changes the upper pane's
// height.
#pragma once

#include <QFrame>
#include <QMouseEvent>
#include <functional>

namespace tandrel {

// The bar between the people lists and the mail: dragging it changes the upper pane's
// height through the callback (start height, vertical distance dragged).
class PaneSplitter : public QFrame {
public:
    std::function<int()> startHeight;
    std::function<void(int, int)> dragged;

    explicit PaneSplitter(QWidget* parent) : QFrame(parent) {
        setCursor(Qt::SplitVCursor);
        setFrameShape(QFrame::NoFrame);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        pressY_ = e->globalPosition().y();
        start_ = startHeight ? startHeight() : 0;
        pressed_ = true;
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (pressed_ && dragged)
            dragged(start_, static_cast<int>(e->globalPosition().y() - pressY_));
    }
    void mouseReleaseEvent(QMouseEvent*) override { pressed_ = false; }

private:
    bool pressed_ = false;
    qreal pressY_ = 0;
    int start_ = 0;
};

} // namespace tandrel
