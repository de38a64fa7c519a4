// SPDX-License-Identifier: GPL-3.0-or-later
// The folder that holds Tandrel.ini, Tandrel.log, Tandrel.snt and the run results.
#pragma once

#include <string>

namespace tandrel {

// `programDir` when this user may create files there (the program was unpacked into a
// folder of its own); otherwise, and always for a program installed under a prefix
// (`bin/tandrel` with its desktop entry in `share/applications` beside it), in
// $XDG_CONFIG_HOME/tandrel ($HOME/.config/tandrel when that variable is unset or not
// absolute), created with its parents as needed. A folder that cannot be created is
// still returned: writing the settings or logs then reports the system's reason.
std::string ChooseDataDirectory(const std::string& programDir);

// The per-user folder of an installed program, without creating it.
std::string UserConfigDirectory();

} // namespace tandrel
