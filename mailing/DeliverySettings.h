// SPDX-License-Identifier: GPL-3.0-or-later
// How the relay settings kept in Tandrel.ini become the settings of one delivery run,
// and how a message's outcome is kept in the results file.
#pragma once

#include <string>

#include "model/AppState.h"
#include "model/RunResults.h"
#include "smtp/SmtpDialogue.h"

namespace tandrel {

// "starttls" and "tls" in any letter case; anything else is a plain connection.
Security SecurityFromSetting(const std::string& setting);

// The run's settings from the program's state; `password` is the login's, held in
// memory only.
DeliveryConfig DeliveryConfigFor(const AppState& st, const std::string& password);

// The results file's word for what the dialogue reported of one message.
Outcome RunResultOf(MessageOutcome outcome);

} // namespace tandrel
