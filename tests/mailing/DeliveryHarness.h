// SPDX-License-Identifier: GPL-3.0-or-later
// Running a delivery without a window in tests: an observer (and front end of a mailing
// run) that records what the delivery window would show, and drivers that run one
// DeliveryRun or MailingRun to its end.
#pragma once

#include <QTest>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mailing/DeliveryRun.h"
#include "mailing/MailingRun.h"

namespace tandrel::test {

class RecordingListener : public MailingFrontEnd {
public:
    // As a mailing run's front end: the answer to the check's problems, the problems
    // shown, every state in order (onState is told each) and the summary at the end.
    bool sendAnyway = true;
    std::vector<std::vector<SendProblem>> shownProblems;
    std::vector<RunState> states;
    std::optional<MailingSummary> runSummary;
    std::function<void(RunState)> onState;
    std::function<void(std::size_t message)> onOutcome; // after the outcome is recorded

    void confirmProblems(const std::vector<SendProblem>& problems,
                         std::function<void(bool)> answer) override {
        shownProblems.push_back(problems);
        answer(sendAnyway);
    }
    void stateChanged(RunState state) override {
        states.push_back(state);
        if (onState) onState(state);
    }
    void runEnded(const MailingSummary& given) override { runSummary = given; }

    std::vector<std::string> memo;                                // the report's lines now
    std::vector<std::string> statuses;                            // every status line, in order
    std::vector<int> gauges;                                      // every gauge value, in order
    std::vector<std::pair<std::size_t, MessageOutcome>> outcomes; // in the order told
    std::vector<DeliveryEvent> events;                            // the typed events, in order
    std::vector<ServerReply> outcomeReplies; // the answer that decided each outcome
    int memoClears = 0;
    bool ended = false;
    bool logSaved = false;

    void reportCleared() override {
        memo.clear();
        ++memoClears;
    }
    void reportLine(const std::string& line) override { memo.push_back(line); }
    void statusChanged(const std::string& text) override { statuses.push_back(text); }
    void deliveryProgress(int value) override { gauges.push_back(value); }
    void deliveryEvent(const DeliveryEvent& event) override { events.push_back(event); }
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override {
        outcomes.emplace_back(message, outcome);
        outcomeReplies.push_back(reply ? *reply : ServerReply{});
        if (onOutcome) onOutcome(message);
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        ended = true;
        logSaved = summary.runLogSaved;
    }
};

struct DeliveryResult {
    std::vector<std::string> memo;
    std::vector<std::string> statuses;
    std::vector<int> gauges;
    std::vector<std::pair<std::size_t, MessageOutcome>> outcomes;
    std::vector<DeliveryEvent> events;
    bool ended = false;    // the run reached its end
    bool logSaved = false; // and the run log file was written
    bool timedOut = false; // the time ran out first (the run was cancelled then)
    bool errorsOccurred = false;
    int accepted = 0;       // messages the server accepted
    std::string startError; // the text start() threw, if it did
};

// Runs the delivery until it ends (or `timeoutMs` passes, then it is cancelled), then
// does the caller's clean-up (closes the connection).
inline DeliveryResult RunDelivery(const OutgoingList& messages, int recipientCount,
                                  const DeliveryConfig& config, std::vector<std::string>& runLog,
                                  std::vector<std::string>& sentLog, int timeoutMs = 60000,
                                  const std::string& runLogPath = {}) {
    RecordingListener listener;
    DeliveryRun run(listener, runLog, sentLog);
    DeliveryResult r;
    try {
        run.start(messages, recipientCount, config, runLogPath);
        if (!QTest::qWaitFor([&run] { return !run.running(); }, timeoutMs)) {
            r.timedOut = true;
            run.cancel();
        }
    } catch (const std::exception& e) {
        r.startError = e.what();
    }
    run.closeConnection();
    r.memo = listener.memo;
    r.statuses = listener.statuses;
    r.gauges = listener.gauges;
    r.outcomes = listener.outcomes;
    r.events = listener.events;
    r.ended = listener.ended;
    r.logSaved = listener.logSaved;
    r.errorsOccurred = run.errorsOccurred();
    r.accepted = run.acceptedCount();
    return r;
}

// Runs the event loop until the run is over (an end that comes through a cancel too) or
// `timeoutMs` passed; true when over.
inline bool WaitForRunEnd(DeliveryRun& run, RecordingListener&, int timeoutMs) {
    return QTest::qWaitFor([&run] { return !run.running(); }, timeoutMs);
}

// Starts the mailing run and runs the event loop until it has ended (after `timeoutMs`
// it is cancelled and the test fails); its summary.
inline MailingSummary RunToEnd(MailingRun& run, RecordingListener& frontEnd,
                               RunOptions options = {}, int timeoutMs = 30000) {
    run.start(frontEnd, std::move(options));
    if (!QTest::qWaitFor([&run] { return run.ended(); }, timeoutMs)) {
        ADD_FAILURE() << "the run did not end in time";
        run.cancel();
        if (!QTest::qWaitFor([&run] { return run.ended(); }, 5000))
            ADD_FAILURE() << "nor after a cancel";
    }
    return run.summary();
}

} // namespace tandrel::test
