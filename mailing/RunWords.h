// SPDX-License-Identifier: GPL-3.0-or-later
// The one place where the events of a delivery become words: the lines of the report
// (the delivery window's memo), the status line and the run log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "smtp/DeliveryEvents.h"

namespace tandrel {

struct EventWords {
    bool clearsReport = false;         // the report starts afresh before `report`
    std::vector<std::string> report;   // lines for the report
    std::vector<std::string> runLog;   // items for the run log, in order
    std::optional<std::string> status; // the new status line
};

EventWords WordsFor(const DeliveryEvent& event);

// The summary's line for the messages whose end of data went out without an answer
// ("1 message may have been delivered: a@example.org"); empty for none.
std::string MaybeDeliveredLine(const std::vector<std::string>& addresses);

// The run log's note of a run stopped by a signal ("SIGINT").
std::string StoppedBySignalLine(const std::string& signalName);

// For a connection to the relay that could not be made (a CouldNotConnect problem with
// the socket's error): the line naming the server and port tried and where they are
// set. Empty for any other event, and when the server itself refused the session.
std::string ConnectionHint(const DeliveryEvent& event, const std::string& host,
                           const std::string& port);

// The text for a connect error raised at once: the socket's own text, with a plain
// sentence before it where the user can act on it (a server name that does not resolve).
std::string ConnectErrorText(const std::string& host, const std::string& socketText);

// The way back to the people a run did not reach, said at the end of such a run.
inline constexpr const char* kNotReachedHint =
    "To send to the people not reached, use Edit, Recipients Not Reached.";

// Said after every failure that stopped a run before anything was sent.
inline constexpr const char* kNoMailSent = "No mail has been sent.";

// A preparation that failed: "the mails could not be prepared: " and why (the window
// begins its sentence with a capital).
std::string NotPreparedText(const std::string& why);

} // namespace tandrel
