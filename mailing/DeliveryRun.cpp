// A delivery run: the dialogue's events become words once, here, on their way to the
// observer and the run log.
#include "DeliveryRun.h"

#include <QEventLoop>
#include <QTimer>

#include "RunWords.h"

namespace tandrel {

namespace {

// Events that only go to the run log: the dialogue's own transcript.
bool TranscriptOnly(DeliveryEvent::Kind kind) {
    using Kind = DeliveryEvent::Kind;
    return kind == Kind::CommandSent || kind == Kind::ReplyReceived ||
           kind == Kind::UnfinishedReply || kind == Kind::Encrypted || kind == Kind::Reconnected;
}

} // namespace

DeliveryRun::DeliveryRun(MailingObserver& observer, std::vector<std::string>& runLog,
                         std::vector<std::string>& accepted, std::size_t* runLogSaved)
    : observer_(observer), runLogLines_(runLog), accepted_(accepted),
      runLogSaved_(runLogSaved ? *runLogSaved : ownRunLogSaved_) {}

DeliveryRun::~DeliveryRun() {
    *alive_ = false;
}

void DeliveryRun::start(const OutgoingList& messages, int recipientCount,
                        const DeliveryConfig& config, const std::string& runLogPath) {
    runLog_ = std::make_unique<RunLogRecord>(runLogLines_, runLogSaved_, runLogPath);
    messages_ = messages.size();
    dialogue_.start(messages, recipientCount, config);
}

bool DeliveryRun::cancel(const std::string& stopSignalName) {
    const bool wasRunning = dialogue_.running();
    dialogue_.cancel();
    if (!runLog_ || !wasRunning) return true;
    if (!stopSignalName.empty()) runLog_->add(StoppedBySignalLine(stopSignalName));
    return runLog_->save();
}

void DeliveryRun::closeConnection() {
    dialogue_.closeConnection();
}

bool DeliveryRun::waitForEnd(int timeoutMs) {
    if (!dialogue_.running()) return true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    // An end that comes through a cancel is noticed too.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!dialogue_.running()) loop.quit();
    });
    limit.start(timeoutMs);
    poll.start(20);
    loop.exec();
    return !dialogue_.running();
}

void DeliveryRun::deliveryEvent(const DeliveryEvent& event) {
    const EventWords words = WordsFor(event);
    if (runLog_) runLog_->add(words.runLog);
    if (event.kind == DeliveryEvent::Kind::Accepted) accepted_.push_back(event.address);
    if (TranscriptOnly(event.kind)) return;
    const std::shared_ptr<bool> alive = alive_;
    if (words.clearsReport) {
        observer_.reportCleared();
        if (!*alive) return;
    }
    for (const std::string& line : words.report) {
        observer_.reportLine(line);
        if (!*alive) return;
    }
    if (words.status) {
        observer_.statusChanged(*words.status);
        if (!*alive) return;
    }
    observer_.deliveryEvent(event);
}

void DeliveryRun::progress(int percent) {
    observer_.deliveryProgress(percent);
}

void DeliveryRun::messageOutcome(std::size_t message, MessageOutcome outcome,
                                 const ServerReply* reply) {
    observer_.messageOutcome(message, outcome, reply);
}

void DeliveryRun::deliveryEnded() {
    DeliverySummary summary;
    summary.accepted = dialogue_.acceptedCount();
    summary.messages = messages_;
    summary.errorsOccurred = dialogue_.errorsOccurred();
    summary.runLogSaved = runLog_ ? runLog_->save() : true;
    observer_.deliveryEnded(summary);
}

} // namespace tandrel
