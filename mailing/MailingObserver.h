// SPDX-License-Identifier: GPL-3.0-or-later
// What a front end hears of a mailing run: the window shows it, the command line prints
// the problems, the benchmark counts. Every call has a default that ignores it.
//
// Calls come from inside the run and may run nested event loops; an observer may cancel
// the run or destroy it from any of them (nothing of the run is touched afterwards).
#pragma once

#include <cstddef>
#include <string>

#include "smtp/DeliveryEvents.h"

namespace tandrel {

struct DeliverySummary {
    int accepted = 0;         // messages the server accepted
    std::size_t messages = 0; // messages of the run
    bool errorsOccurred = false;
    bool runLogSaved = true; // false: the run log file could not be written
};

class MailingObserver {
public:
    virtual ~MailingObserver() = default;
    // Preparation: 0..100 whenever the value changes.
    virtual void preparationProgress(int percent) { (void)percent; }
    // Delivery: the gauge, 0..100 whenever the value changes.
    virtual void deliveryProgress(int percent) { (void)percent; }
    // The words of the report (the delivery window's memo) and of the status line.
    virtual void reportCleared() {}
    virtual void reportLine(const std::string& line) { (void)line; }
    virtual void statusChanged(const std::string& text) { (void)text; }
    // Each event of the delivery except the dialogue's transcript (commands and replies,
    // which go to the run log only), after its words above.
    virtual void deliveryEvent(const DeliveryEvent& event) { (void)event; }
    // Once per message: what became of it, with the server's answer that decided it.
    virtual void messageOutcome(std::size_t message, MessageOutcome outcome,
                                const ServerReply* reply) {
        (void)message;
        (void)outcome;
        (void)reply;
    }
    // The delivery has ended by itself (not after a cancel); its run log is written.
    virtual void deliveryEnded(const DeliverySummary& summary) { (void)summary; }
};

} // namespace tandrel
