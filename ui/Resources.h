// SPDX-License-Identifier: GPL-3.0-or-later
// The icons and the help (ui/resources.qrc), which a static library must register itself.
#pragma once

namespace tandrel {

// Makes ":/icons/..." and ":/help/..." readable; any window that reads them calls it
// before, however often.
void RegisterResources();

} // namespace tandrel
