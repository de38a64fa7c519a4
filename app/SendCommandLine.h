// SPDX-License-Identifier: GPL-3.0-or-later
// `tandrel send`: one mailing run without any window.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "model/AppState.h"
#include "app/CommandLine.h"
#include "merge/SendCheck.h"

namespace tandrel {

// Prints the problems the check before sending found to `err`; false when the run must
// stop there (a blocking problem, or problems found and `force` not given).
bool CheckBeforeSendingOnCommandLine(const std::vector<SendProblem>& problems, bool force,
                                     std::ostream& err);

// Loads, checks, prepares, then writes the messages (dry run) or delivers them; the
// settings and logs live in `dataDir`. The relay password is looked up in `keyring` (none:
// not looked up) unless TANDREL_PASSWORD gives it. Returns the exit status.
int RunSendCommand(const SendOptions& options, const std::string& dataDir, std::ostream& out,
                   std::ostream& err, PasswordKeeper* keyring = nullptr);

} // namespace tandrel
