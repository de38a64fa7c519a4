// The one place where the events of a delivery become words: the lines of the report
// (the delivery window's memo), the status line and the run log.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DeliveryEvents.h"

namespace tandrel {

struct EventWords {
    bool clearsReport = false;         // the report starts afresh before `report`
    std::vector<std::string> report;   // lines for the report
    std::vector<std::string> runLog;   // items for the run log, in order
    std::optional<std::string> status; // the new status line
};

EventWords WordsFor(const DeliveryEvent& event);

// The run log's note of a run stopped by a signal ("SIGINT").
std::string StoppedBySignalLine(const std::string& signalName);

} // namespace tandrel
