// One delivery: the SMTP dialogue over the prepared messages, its events turned into the
// report and the run log, the accepted addresses noted for the sent log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MailingObserver.h"
#include "RunLog.h"
#include "SmtpDialogue.h"

namespace tandrel {

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
    void start(const OutgoingList& messages, int recipientCount, const DeliveryConfig& config,
               const std::string& runLogPath = {});
    // Stops where it stands; the run log so far is written (with the note of the signal
    // that stopped it, when one did). False when that write failed.
    bool cancel(const std::string& stopSignalName = {});
    // The orderly close once the run is over.
    void closeConnection();
    // Runs the event loop until the run is over or `timeoutMs` passed; true when over.
    bool waitForEnd(int timeoutMs);

    bool running() const { return dialogue_.running(); }
    bool ended() const { return dialogue_.ended(); }
    bool errorsOccurred() const { return dialogue_.errorsOccurred(); }
    int acceptedCount() const { return dialogue_.acceptedCount(); }
    SmtpDialogue& dialogue() { return dialogue_; }
    // Why the run log could not be written; empty when it was.
    std::string runLogError() const { return runLog_ ? runLog_->error() : std::string(); }

private:
    void deliveryEvent(const DeliveryEvent& event) override;
    void progress(int percent) override;
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override;
    void deliveryEnded() override;

    MailingObserver& observer_;
    std::vector<std::string>& runLogLines_;
    std::vector<std::string>& accepted_;
    std::size_t ownRunLogSaved_ = 0;
    std::size_t& runLogSaved_;
    std::unique_ptr<RunLogRecord> runLog_;
    std::size_t messages_ = 0;
    // False once this is destroyed: an observer call may do that.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    SmtpDialogue dialogue_{*this};
};

} // namespace tandrel
