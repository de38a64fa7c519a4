// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the sign-in page from a program without a desktop session of Qt's (the command
// line): $BROWSER when set, else xdg-open. The window uses the desktop's own service.
#pragma once

#include <QUrl>

namespace tandrel {

// Starts the browser detached; false when none could be started. $BROWSER may list
// commands separated by ':'; "%s" in one stands for the address, otherwise the address
// is added as the last argument. The first command that starts is used.
bool OpenUrlInBrowser(const QUrl& address);

} // namespace tandrel
