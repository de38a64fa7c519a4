// SPDX-License-Identifier: GPL-3.0-or-later
// What a front end hears of a mailing run, and what the run asks it: the window shows it,
// the command line prints the problems, the benchmark counts. Every call has a default.
//
// Calls come from inside the run and return to it: an observer may cancel the run from
// any of them, and destroys it only after runEnded has returned.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "mailing/DryRun.h"
#include "merge/SendCheck.h"
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

// Where a mailing run stands (see the table in mailing/MailingRun.h).
enum class RunState {
    Idle,                 // not started
    Checking,             // the settings and the check before sending
    AwaitingConfirmation, // the front end was shown the check's problems
    AwaitingCredentials,  // the credential source was asked
    Preparing,            // the screen settles, then every message is checked and counted
    Delivering,           // the transport has the messages
    Finishing,            // the sent log's block, the results file, the connection closed
    Ended                 // the summary is told; nothing more happens
};

// How a run ended.
enum class RunEnding {
    Delivered,           // the delivery ran (see the counts; it may have failed to start)
    DryRunWritten,       // the messages went to the folder
    Prepared,            // a run asked to prepare only
    CheckDeclined,       // the front end did not let the check's problems through
    CredentialsDeclined, // the user gave no credentials
    CredentialsFailed,   // none could be had, or they cannot be used: `problem` says why
    NotStartable,        // a test mail without a valid sender address: `problem`
    PreparationFailed,   // `problem` names what could not be made
    DryRunFailed,        // `problem` names the file or folder that could not be written
    Cancelled            // cancelled before the delivery began
};

struct MailingSummary {
    RunEnding ending = RunEnding::Cancelled;
    std::string problem;         // for the endings that name one
    int accepted = 0;            // messages the server accepted
    int recipients = 0;          // messages prepared
    bool started = false;        // the delivery began
    bool errorsOccurred = false; // the dialogue reported a problem, maybe one it got over
    // The addresses of the messages whose end of data went out but was never answered:
    // the server may have stored them.
    std::vector<std::string> maybeDelivered;
    std::string startError; // the text of a connect error raised at once
    std::string stoppedBy;  // the signal that stopped the run, if one did
    // Files that could not be written: the results file (the run went on without it)
    // and the sent log. The run log's failure is told apart, in runLogError.
    std::vector<std::string> fileErrors;
    std::string runLogError;
    // Why no fresh token could be had after the server refused one (the refusal stood).
    std::string renewalError;
    DryRunResult dryRun; // what a dry run wrote

    // Not every message was accepted. A problem the run got over (a connection lost
    // while others delivered its messages, a refused Cc address) is no failure.
    bool failed() const { return !startError.empty() || accepted < recipients; }
};

// A front end: the observer, asked what only a person can answer, told where the run
// stands and how it ended. Answers may come at once or later; the run waits in its state.
class MailingFrontEnd : public MailingObserver {
public:
    // The check before sending found `problems`: answer true to send anyway. A blocking
    // problem stops the run whatever the answer. The default stops at any problem.
    virtual void confirmProblems(const std::vector<SendProblem>& problems,
                                 std::function<void(bool)> answer) {
        (void)problems;
        answer(false);
    }
    virtual void stateChanged(RunState state) { (void)state; }
    // The last call of a run: its summary (also of a run that never delivered).
    virtual void runEnded(const MailingSummary& summary) { (void)summary; }
};

} // namespace tandrel
