// SPDX-License-Identifier: GPL-3.0-or-later
// The program state as the attachments, file test, preferences and about windows see
// it, and what those windows told the main window.
#pragma once

#include <string>
#include <vector>

#include "model/AppState.h"

namespace tandrel::test {

struct AttachTestHooks {
    AppState st;
    int statusUpdates = 0;
    std::vector<std::string> explained;
};

} // namespace tandrel::test
