// SPDX-License-Identifier: GPL-3.0-or-later
// A delivery run: the dialogue's events become words once, here, on their way to the
// observer and the run log.
#include "mailing/DeliveryRun.h"

#include <algorithm>

#include "mailing/RunWords.h"
#include "mailing/Transport.h"
#include "smtp/MessageQueue.h"

namespace tandrel {

namespace {

// Events that only go to the run log: the dialogue's own transcript.
bool TranscriptOnly(DeliveryEvent::Kind kind) {
    using Kind = DeliveryEvent::Kind;
    return kind == Kind::CommandSent || kind == Kind::ReplyReceived ||
           kind == Kind::UnfinishedReply || kind == Kind::Encrypted || kind == Kind::Reconnected;
}

} // namespace

// A connection after the first: its dialogue's calls go to the run with its number.
class DeliveryRun::Connection : public DeliveryListener {
public:
    Connection(DeliveryRun& run, std::size_t number) : run_(run), number_(number) {}
    SmtpDialogue dialogue{*this};

private:
    void deliveryEvent(const DeliveryEvent& event) override { run_.eventOf(number_, event); }
    void progress(int) override {}
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override {
        run_.outcomeOf(number_, message, outcome, reply);
    }
    void deliveryEnded() override { run_.endOf(); }

    DeliveryRun& run_;
    std::size_t number_;
};

DeliveryRun::DeliveryRun(MailingObserver& observer, std::vector<std::string>& runLog,
                         std::vector<std::string>& accepted, std::size_t* runLogSaved)
    : observer_(observer), runLogLines_(runLog), accepted_(accepted),
      runLogSaved_(runLogSaved ? *runLogSaved : ownRunLogSaved_) {}

DeliveryRun::~DeliveryRun() = default;

void DeliveryRun::start(std::shared_ptr<MessageSource> messages, int recipientCount,
                        const DeliveryConfig& config, const std::string& runLogPath) {
    runLog_ = std::make_unique<RunLogRecord>(runLogLines_, runLogSaved_, runLogPath);
    cancelled_ = false;
    messages_ = messages->count();
    others_.clear();
    const std::size_t connections = std::min<std::size_t>(
        static_cast<std::size_t>(std::clamp(config.connections, 1, kMaxConnections)),
        std::max<std::size_t>(1, messages_));
    if (connections == 1) {
        dialogue_.start(messages, recipientCount, config);
        return;
    }
    source_ = messages;
    decided_.clear();
    released_ = 0;
    logSince_.assign(connections, {});
    over_ = 0;
    gauge_ = -1;
    allOver_ = false;
    recipientCount_ = std::max(1, recipientCount);
    for (std::size_t k = 1; k < connections; ++k)
        others_.push_back(std::make_unique<Connection>(*this, k));
    const auto queue = std::make_shared<MessageQueue>(messages_);
    try {
        for (std::size_t k = 0; k < connections; ++k)
            dialogueOf(k).start(messages, recipientCount, config, queue);
    } catch (...) {
        for (auto& c : others_)
            c->dialogue.cancel();
        dialogue_.cancel();
        others_.clear();
        throw;
    }
}

SmtpDialogue& DeliveryRun::dialogueOf(std::size_t connection) {
    return connection == 0 ? dialogue_ : others_[connection - 1]->dialogue;
}

bool DeliveryRun::running() const {
    if (dialogue_.running()) return true;
    return std::any_of(others_.begin(), others_.end(),
                       [](const auto& c) { return c->dialogue.running(); });
}

bool DeliveryRun::ended() const {
    return several() ? allOver_ : dialogue_.ended();
}

bool DeliveryRun::errorsOccurred() const {
    if (dialogue_.errorsOccurred()) return true;
    return std::any_of(others_.begin(), others_.end(),
                       [](const auto& c) { return c->dialogue.errorsOccurred(); });
}

int DeliveryRun::acceptedCount() const {
    int accepted = dialogue_.acceptedCount();
    for (const auto& c : others_)
        accepted += c->dialogue.acceptedCount();
    return accepted;
}

bool DeliveryRun::cancel(const std::string& stopSignalName) {
    const bool wasRunning = running();
    cancelled_ = true;
    dialogue_.cancel();
    for (auto& c : others_)
        c->dialogue.cancel();
    if (several() && wasRunning) closeOrder();
    if (!runLog_ || !wasRunning) return true;
    if (!stopSignalName.empty()) runLog_->add(StoppedBySignalLine(stopSignalName));
    return runLog_->save();
}

void DeliveryRun::closeConnection() {
    dialogue_.closeConnection();
    for (auto& c : others_)
        c->dialogue.closeConnection();
}

// The words and the typed event to the observer; nothing more once it cancelled the run.
void DeliveryRun::passOn(const DeliveryEvent& event, const EventWords& words, bool clears) {
    if (clears && words.clearsReport) observer_.reportCleared();
    for (const std::string& line : words.report) {
        if (cancelled_) return;
        observer_.reportLine(line);
    }
    if (cancelled_) return;
    if (words.status) observer_.statusChanged(*words.status);
    if (!cancelled_) observer_.deliveryEvent(event);
}

void DeliveryRun::deliveryEvent(const DeliveryEvent& event) {
    if (several()) {
        eventOf(0, event);
        return;
    }
    const EventWords words = WordsFor(event);
    if (runLog_) runLog_->add(words.runLog);
    if (event.kind == DeliveryEvent::Kind::Accepted) accepted_.push_back(event.address);
    if (TranscriptOnly(event.kind)) return;
    passOn(event, words, true);
}

void DeliveryRun::progress(int percent) {
    if (!several()) observer_.deliveryProgress(percent);
}

void DeliveryRun::messageOutcome(std::size_t message, MessageOutcome outcome,
                                 const ServerReply* reply) {
    if (several())
        outcomeOf(0, message, outcome, reply);
    else
        observer_.messageOutcome(message, outcome, reply);
}

void DeliveryRun::deliveryEnded() {
    if (several()) {
        endOf();
        return;
    }
    DeliverySummary summary;
    summary.accepted = dialogue_.acceptedCount();
    summary.messages = messages_;
    summary.errorsOccurred = dialogue_.errorsOccurred();
    summary.runLogSaved = runLog_ ? runLog_->save() : true;
    observer_.deliveryEnded(summary);
}

// --- several connections ---

// The run's end is told once, by endOf; a later connection's opening is its own news
// only in the run log, and never clears the report.
void DeliveryRun::eventOf(std::size_t connection, const DeliveryEvent& event) {
    using Kind = DeliveryEvent::Kind;
    if (event.kind == Kind::RunEnded) return;
    const EventWords words = WordsFor(event);
    std::vector<std::string>& log = logSince_[connection];
    log.insert(log.end(), words.runLog.begin(), words.runLog.end());
    if (TranscriptOnly(event.kind)) return;
    // The first connection speaks for all of them; a silent server is silent to each.
    if (connection > 0 && (event.kind == Kind::Connecting || event.kind == Kind::Connected ||
                           event.kind == Kind::ServerSilent))
        return;
    if (event.kind == Kind::Sending) {
        DeliveryEvent sending = event;
        sending.number = static_cast<std::uint64_t>(acceptedCount()) + 1;
        passOn(sending, WordsFor(sending), false);
        return;
    }
    passOn(event, words, connection == 0);
    if (event.kind != Kind::Accepted) return;
    // The gauge counts the messages of all connections; it moves only when its value does.
    const int gauge =
        static_cast<int>(std::min<long long>(100, acceptedCount() * 100LL / recipientCount_));
    if (gauge == gauge_) return;
    gauge_ = gauge;
    observer_.deliveryProgress(gauge);
}

void DeliveryRun::outcomeOf(std::size_t connection, std::size_t message, MessageOutcome outcome,
                            const ServerReply* reply) {
    if (message >= messages_ || message < released_ || decided_.count(message)) return;
    Decided d{outcome, std::nullopt, {}};
    if (reply) d.reply = *reply;
    d.runLog.swap(logSince_[connection]);
    decided_.emplace(message, std::move(d));
    releaseInOrder(false);
}

// Every decided message whose predecessors are all decided goes on, in order.
void DeliveryRun::releaseInOrder(bool restNotAttempted) {
    while (released_ < messages_) {
        const auto it = decided_.find(released_);
        if (it == decided_.end() && !restNotAttempted) break;
        Decided d{MessageOutcome::NotAttempted, std::nullopt, {}};
        if (it != decided_.end()) {
            d = std::move(it->second);
            decided_.erase(it);
        }
        const std::size_t m = released_++;
        if (runLog_) runLog_->add(d.runLog);
        if (d.outcome == MessageOutcome::Accepted) accepted_.push_back(source_->address(m));
        observer_.messageOutcome(m, d.outcome, d.reply ? &*d.reply : nullptr);
    }
}

// What no connection decided was not attempted; what the connections logged since their
// last outcome follows, in the order of the connections.
void DeliveryRun::closeOrder() {
    releaseInOrder(true);
    for (auto& lines : logSince_) {
        if (runLog_) runLog_->add(lines);
        lines.clear();
    }
}

void DeliveryRun::endOf() {
    if (++over_ < others_.size() + 1 || allOver_) return;
    allOver_ = true;
    closeOrder();
    DeliveryEvent end;
    end.kind = DeliveryEvent::Kind::RunEnded;
    end.number = static_cast<std::uint64_t>(acceptedCount());
    end.total = messages_;
    end.errors = errorsOccurred();
    const EventWords words = WordsFor(end);
    if (runLog_) runLog_->add(words.runLog);
    passOn(end, words, false);
    DeliverySummary summary;
    summary.accepted = acceptedCount();
    summary.messages = messages_;
    summary.errorsOccurred = errorsOccurred();
    summary.runLogSaved = runLog_ ? runLog_->save() : true;
    observer_.deliveryEnded(summary);
}

namespace {

// The relay: one DeliveryRun made for each start.
class SmtpTransport : public Transport {
public:
    SmtpTransport(DeliveryConfig config, std::vector<std::string>& runLog, std::size_t* runLogSaved,
                  std::string runLogPath)
        : config_(std::move(config)), runLog_(runLog), runLogSaved_(runLogSaved),
          runLogPath_(std::move(runLogPath)) {}

    void start(TransportJob job) override {
        run_ = std::make_unique<DeliveryRun>(*job.listener, runLog_, *job.accepted, runLogSaved_);
        if (!job.messages) job.messages = std::make_shared<ListedMessages>(OutgoingList());
        run_->start(std::move(job.messages), job.recipientCount, config_, runLogPath_);
    }
    bool cancel(const std::string& stopSignalName) override {
        return !run_ || run_->cancel(stopSignalName);
    }
    void close() override {
        if (run_) run_->closeConnection();
    }
    bool running() const override { return run_ && run_->running(); }
    int acceptedCount() const override { return run_ ? run_->acceptedCount() : 0; }
    bool errorsOccurred() const override { return run_ && run_->errorsOccurred(); }
    std::string runLogError() const override { return run_ ? run_->runLogError() : ""; }

private:
    DeliveryConfig config_;
    std::vector<std::string>& runLog_;
    std::size_t* runLogSaved_;
    std::string runLogPath_;
    std::unique_ptr<DeliveryRun> run_;
};

} // namespace

std::unique_ptr<Transport> MakeSmtpTransport(DeliveryConfig config,
                                             std::vector<std::string>& runLog,
                                             std::size_t* runLogSaved, std::string runLogPath) {
    return std::make_unique<SmtpTransport>(std::move(config), runLog, runLogSaved,
                                           std::move(runLogPath));
}

} // namespace tandrel
