// The Send command: ask for the password, prepare, deliver, append the sent log, keep
// the results of the run.
#pragma once

#include <string>
#include <vector>

#include "DeliverySettings.h"
#include "Forms.h"
#include "MainHooks.h"

namespace tandrel {

// sendMailing's work. Does nothing without a database or recipient rows, or when the
// user cancels the password question. Otherwise prepares one message per row in the
// preparation window, delivers them in the delivery window, appends this run's block
// to the sent log file and records each person's outcome in the results file.
// Failures (preparation, connecting, writing the logs) are shown in error boxes after
// the clean-up; the outgoing messages are always released.
void RunMailing(MainHooks& main, Forms& forms);

// Edit, "Send Test to Me": the mail merged for `person`, its subject prefixed
// "[Test] ", delivered through the delivery window to the sender's own address only.
// Neither the sent log nor the results of the last run are touched.
void RunTestMail(MainHooks& main, Forms& forms, const ReceipData& person);

// The text of an error box for a connect error raised at once: the socket's own text,
// with a plain sentence before it where the user can act on it.
std::string ConnectErrorText(const GlobalPrefs& prefs, const std::string& socketText);
// The plain sentence for a connection the server refused.
std::string RefusedConnectionText(const GlobalPrefs& prefs);

// The entries of the loaded database that the last run (also of an earlier session)
// did not reach, in database order; empty without a database or when all were reached.
std::vector<ReceipData*> RecipientsNotReached(const AppState& st);

} // namespace tandrel
