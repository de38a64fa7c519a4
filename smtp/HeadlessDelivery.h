// Running a delivery without a window: a listener that records what a delivery window
// would show, and a driver that runs one SmtpDialogue to its end in a local event loop.
// Meant for tests and tools; the program itself shows the delivery window.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "SmtpDialogue.h"

class QEventLoop;

namespace tandrel {

class RecordingListener : public DeliveryListener {
public:
    std::vector<std::string> memo;                                // the memo's lines now
    std::vector<std::string> statuses;                            // every status line set, in order
    std::vector<int> gauges;                                      // every gauge value set, in order
    std::vector<std::pair<std::size_t, MessageOutcome>> outcomes; // in the order told
    int memoClears = 0;
    bool ended = false;
    bool logSaved = false;
    QEventLoop* loop = nullptr; // quit when the run ends

    void memoClear() override;
    void memoAppend(const std::string& line) override;
    void setStatus(const std::string& text) override;
    void setGauge(int value) override;
    void deliveryEnded(bool saved) override;
    void messageOutcome(std::size_t message, MessageOutcome outcome) override;
};

struct HeadlessResult {
    std::vector<std::string> memo;
    std::vector<std::string> statuses;
    std::vector<int> gauges;
    std::vector<std::pair<std::size_t, MessageOutcome>> outcomes;
    bool ended = false;    // the run reached its end
    bool logSaved = false; // and the run log file was written
    bool timedOut = false; // the time ran out first (the run was cancelled then)
    bool errorsOccurred = false;
    int accepted = 0;       // messages the server accepted
    std::string startError; // the text start() threw, if it did
};

// Runs the dialogue until the run ends (or `timeoutMs` passes, then it is cancelled),
// then does the caller's clean-up (closes the connection).
HeadlessResult RunHeadlessDelivery(const OutgoingList& messages, int recipientCount,
                                   const DeliveryConfig& config, std::vector<std::string>& runLog,
                                   std::vector<std::string>& sentLog, int timeoutMs = 60000);

// Processes events until the dialogue's run is over (ended, cancelled or closed) or the
// time runs out; true when it is over.
bool WaitForRunEnd(const SmtpDialogue& dialogue, RecordingListener& listener, int timeoutMs);

} // namespace tandrel
