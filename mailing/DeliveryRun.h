// SPDX-License-Identifier: GPL-3.0-or-later
// One delivery: the SMTP dialogue over the prepared messages, its events turned into the
// report and the run log, the accepted addresses noted for the sent log.
//
// With `connections` above 1, that many dialogues take the messages from one queue.
// Their outcomes, the accepted addresses and the run log (a block per message: what its
// connection logged up to its outcome) then go on in the order of the messages, each
// as soon as every message before it is decided; the run ends once every connection is
// over, with one summary of them all.
//
// Its observer is told and returns; it may cancel the run from any call, but does not
// destroy it there (the mailing run that owns it ends it after its own clean-up).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailing/MailingObserver.h"
#include "mailing/RunLog.h"
#include "model/MessageSource.h"
#include "smtp/SmtpDialogue.h"

namespace tandrel {

struct EventWords;

class DeliveryRun : private DeliveryListener {
public:
    // `runLog` and `accepted` belong to the caller: the session's run log in memory, and
    // where each accepted address is added (the sent log's block). `runLogSaved` counts
    // the lines of `runLog` in the file (null: this object counts them).
    DeliveryRun(MailingObserver& observer, std::vector<std::string>& runLog,
                std::vector<std::string>& accepted, std::size_t* runLogSaved = nullptr);
    ~DeliveryRun() override;
    DeliveryRun(const DeliveryRun&) = delete;
    DeliveryRun& operator=(const DeliveryRun&) = delete;

    // Starts the dialogue (see SmtpDialogue::start, which may throw). An empty
    // `runLogPath` keeps the run log in memory only.
    void start(std::shared_ptr<MessageSource> messages, int recipientCount,
               const DeliveryConfig& config, const std::string& runLogPath = {});
    // The same over messages made beforehand.
    void start(const OutgoingList& messages, int recipientCount, const DeliveryConfig& config,
               const std::string& runLogPath = {}) {
        start(std::make_shared<ListedMessages>(messages), recipientCount, config, runLogPath);
    }
    // Stops where it stands; the run log so far is written (with the note of the signal
    // that stopped it, when one did). False when that write failed.
    bool cancel(const std::string& stopSignalName = {});
    // The orderly close once the run is over.
    void closeConnection();
    bool running() const;
    bool ended() const;
    bool errorsOccurred() const;
    int acceptedCount() const;
    // The first connection's dialogue.
    SmtpDialogue& dialogue() { return dialogue_; }
    // Why the run log could not be written; empty when it was.
    std::string runLogError() const { return runLog_ ? runLog_->error() : std::string(); }

private:
    class Connection;
    // A decided message waiting for those before it.
    struct Decided {
        MessageOutcome outcome;
        std::optional<ServerReply> reply;
        std::vector<std::string> runLog;
    };

    void deliveryEvent(const DeliveryEvent& event) override;
    void progress(int percent) override;
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override;
    void deliveryEnded() override;

    bool several() const { return !others_.empty(); }
    void eventOf(std::size_t connection, const DeliveryEvent& event);
    void outcomeOf(std::size_t connection, std::size_t message, MessageOutcome outcome,
                   const ServerReply* reply);
    void endOf();
    void passOn(const DeliveryEvent& event, const EventWords& words, bool clears);
    // `restNotAttempted`: the run is over, and what nobody decided was not attempted.
    void releaseInOrder(bool restNotAttempted);
    void closeOrder();
    SmtpDialogue& dialogueOf(std::size_t connection);

    MailingObserver& observer_;
    std::vector<std::string>& runLogLines_;
    std::vector<std::string>& accepted_;
    std::size_t ownRunLogSaved_ = 0;
    std::size_t& runLogSaved_;
    std::unique_ptr<RunLogRecord> runLog_;
    std::size_t messages_ = 0;
    bool cancelled_ = false; // the observer hears nothing more
    SmtpDialogue dialogue_{*this};

    // With several connections.
    std::vector<std::unique_ptr<Connection>> others_;
    std::shared_ptr<MessageSource> source_;
    std::map<std::size_t, Decided> decided_;         // decided, waiting for those before them
    std::size_t released_ = 0;                       // messages passed on, in order
    std::vector<std::vector<std::string>> logSince_; // per connection, since its last outcome
    std::size_t over_ = 0;                           // connections that ended
    int recipientCount_ = 1;
    int gauge_ = -1;
    bool allOver_ = false;
};

} // namespace tandrel
