#include "HeadlessDelivery.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>

namespace tandrel {

void RecordingListener::memoClear() {
    memo.clear();
    ++memoClears;
}
void RecordingListener::memoAppend(const std::string& line) {
    memo.push_back(line);
}
void RecordingListener::setStatus(const std::string& text) {
    statuses.push_back(text);
}
void RecordingListener::setGauge(int value) {
    gauges.push_back(value);
}
void RecordingListener::messageOutcome(std::size_t message, MessageOutcome outcome) {
    outcomes.emplace_back(message, outcome);
}
void RecordingListener::deliveryEnded(bool saved) {
    ended = true;
    logSaved = saved;
    if (loop) loop->quit();
}

bool WaitForRunEnd(const SmtpDialogue& dialogue, RecordingListener& listener, int timeoutMs) {
    if (!dialogue.running()) return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Also notice an end that does not go through the listener (cancel, close).
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!dialogue.running()) loop.quit();
    });
    listener.loop = &loop;
    timer.start(timeoutMs);
    poll.start(20);
    loop.exec();
    listener.loop = nullptr;
    return !dialogue.running();
}

HeadlessResult RunHeadlessDelivery(const OutgoingList& messages, int recipientCount,
                                   const DeliveryConfig& config, std::vector<std::string>& runLog,
                                   std::vector<std::string>& sentLog, int timeoutMs) {
    RecordingListener listener;
    SmtpDialogue dialogue(listener, runLog, sentLog);
    HeadlessResult r;
    try {
        dialogue.start(messages, recipientCount, config);
        if (!WaitForRunEnd(dialogue, listener, timeoutMs)) {
            r.timedOut = true;
            dialogue.cancel();
        }
    } catch (const std::exception& e) {
        r.startError = e.what();
    }
    dialogue.closeConnection();
    r.memo = listener.memo;
    r.statuses = listener.statuses;
    r.gauges = listener.gauges;
    r.outcomes = listener.outcomes;
    r.ended = listener.ended;
    r.logSaved = listener.logSaved;
    r.errorsOccurred = dialogue.errorsOccurred();
    r.accepted = dialogue.acceptedCount();
    return r;
}

} // namespace tandrel
