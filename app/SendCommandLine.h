// `tandrel send`: one mailing run without any window.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "AppState.h"
#include "CommandLine.h"
#include "DeliverySettings.h"

namespace tandrel {

// The relay login, when Tandrel.ini names a user.
struct RelayLogin {
    std::string user;
    std::string password;
};

// The check before sending, on the loaded database, mail and attachments: prints the
// problems it finds to `err` and returns false when the run must stop there (problems
// found and `force` not given).
bool CheckBeforeSendingOnCommandLine(const AppState& st, const std::vector<ReceipData*>& recipients,
                                     bool force, std::ostream& err);

// Loads, checks, prepares, then writes the messages (dry run) or delivers them; the
// settings and logs live in `dataDir`. The relay password is looked up in `keyring` (none:
// not looked up) unless TANDREL_PASSWORD gives it. Returns the exit status.
int RunSendCommand(const SendOptions& options, const std::string& dataDir, std::ostream& out,
                   std::ostream& err, PasswordKeeper* keyring = nullptr);

} // namespace tandrel
