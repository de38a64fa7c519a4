// The Send command: prepare, deliver, write the sent log.
#pragma once

#include "Forms.h"
#include "MainHooks.h"

namespace tandrel {

// sendMailing's work. Does nothing without a database or recipient rows. Otherwise
// prepares one message per row in the preparation window, delivers them in the
// delivery window, appends this run's block to the sent log and writes it beside the
// program. Failures (preparation, connecting, writing the sent log) are shown in error
// boxes after the clean-up; the outgoing messages are always released.
void RunMailing(MainHooks& main, Forms& forms);

} // namespace tandrel
