// SPDX-License-Identifier: GPL-3.0-or-later
// Creates the main window (which makes its own dialogs) and the windows of a mailing.
#include "ui/main/AppWindows.h"

#include "ui/main/MainWindow.h"
#include "ui/mailing/SendLauncher.h"

namespace tandrel {

AppWindows::AppWindows(const std::string& programDir) {
    // The main window's creation does all loading before any other window exists.
    main_ = std::make_unique<MainWindow>(nullptr, programDir);
    send_ = std::make_unique<SendLauncher>(*main_);
}

AppWindows::~AppWindows() {
    // The mailing's windows are the main window's children and go with it.
    send_.reset();
    main_.reset();
}

DeliveryWindow* AppWindows::deliveryWindow() const {
    return send_->deliveryWindow();
}

PreparationWindow* AppWindows::preparationWindow() const {
    return send_->preparationWindow();
}

} // namespace tandrel
