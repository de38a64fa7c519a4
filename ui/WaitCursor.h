// SPDX-License-Identifier: GPL-3.0-or-later
// The hourglass while the program is busy.
#pragma once

#include <QApplication>

namespace tandrel {

// Shows the hourglass for the lifetime of the object, and puts back what was there.
// restore() ends it early; it pops the cursor once only, so an early restore and the
// one at the end do not pop a cursor someone else set.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    void restore() {
        if (!active_) return;
        active_ = false;
        QApplication::restoreOverrideCursor();
    }

private:
    bool active_ = true;
};

} // namespace tandrel
