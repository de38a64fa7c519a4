// SPDX-License-Identifier: GPL-3.0-or-later
// Where the windows of a mailing run appear.
#pragma once

class QWidget;

namespace tandrel {

// Places a window of the run in the middle of the screen that shows the main window
// (its parent), where the user looks, whatever the main window's own place.
void CentreOnScreen(QWidget& window);

} // namespace tandrel
