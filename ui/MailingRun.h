// The Send command: prepare, deliver, write the sent log.
#pragma once

#include "Forms.h"
#include "MainHooks.h"

namespace tandrel {

// SendButClick's work.
void RunMailing(MainHooks& main, Forms& forms);

} // namespace tandrel
