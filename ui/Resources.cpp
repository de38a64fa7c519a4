// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Resources.h"

#include <QtGlobal>

// Outside any namespace: the macro declares the registration function of the resource
// file where it stands.
static void RegisterTandrelResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tandrel {

void RegisterResources() {
    static const bool once = [] {
        RegisterTandrelResources();
        return true;
    }();
    (void)once;
}

} // namespace tandrel
