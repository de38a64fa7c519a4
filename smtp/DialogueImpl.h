// SPDX-License-Identifier: GPL-3.0-or-later
// The state and steps of SmtpDialogue, shared by the files that implement it: the
// session (SmtpDialogue.cpp), its opening (DialogueOpening.h/.cpp), its transactions
// (DialogueTransaction.h/.cpp) and the data (DialogueData.cpp).
//
// The session's position is one SessionState:
//
//   state         event                                   next state
//   ------------  --------------------------------------  ---------------------------------
//   Idle          start()                                 Connecting
//   Connecting    connected (TLS done, if from the start) Opening
//   Connecting    refused, handshake failed, time-out     Ended
//   Opening       the opening is Ready                    Transaction
//   Transaction   DATA answered 354                       SendingData
//   SendingData   the end-of-data mark sent               Transaction
//   Transaction   the connection carried its share        Reconnecting (QUIT sent)
//   Reconnecting  the old connection closed               Connecting
//   Transaction   every message dealt with                Closing (QUIT sent)
//   Closing       QUIT answered                           Ended
//   any running   a fatal reply, a time-out, a close      Ended
//   any           cancel(), closeConnection()             Idle (Ended stays Ended)
//
// Running means Connecting to Closing; the dialogue has ended in Ended.
//
// No re-entry: socket, timer and token events each run one step to its end. What the
// listener is told is queued meanwhile and delivered when the outermost step has returned,
// so a listener call never sees a half-made step, and it may cancel or destroy the
// dialogue: delivery stops at once then, and nothing of the dialogue is touched again.
#pragma once

#include <QTimer>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/MessageSource.h"
#include "model/TextFile.h"
#include "smtp/ClientSocket.h"
#include "smtp/DialogueOpening.h"
#include "smtp/DialogueTransaction.h"
#include "smtp/MessageQueue.h"
#include "smtp/PendingReplies.h"
#include "smtp/SmtpCommands.h"
#include "smtp/SmtpDialogue.h"
#include "smtp/SmtpExtensions.h"
#include "smtp/SmtpReply.h"
#include "smtp/WireRules.h"

namespace tandrel {

inline constexpr const char* kCrLf = "\r\n";
// The longest reply taken (all its lines together). Replies to our commands are short;
// a server that sends more without ending its reply is not talking SMTP, and its text
// is neither taken for replies nor held without limit.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Received bytes held at most before they are taken as replies.
inline constexpr std::size_t kMaxHeldBytes = 2 * kMaxReplyBytes;
// Before a command is given up after refusals that may be passing.
inline constexpr int kRetries = 6;
// A server that takes the connection and says nothing for this long is told of while the
// wait for its greeting goes on: it is rarely just slow.
inline constexpr int kSilenceNoticeSeconds = 15;
// The time a data block may take to reach the network, when none is configured.
inline constexpr int kDataBlockMinutes = 3;

// One call of the listener, queued until the step that made it has returned.
struct ListenerNotice {
    enum class Kind { Event, Progress, Outcome, Ended };
    Kind kind = Kind::Event;
    DeliveryEvent event{};
    int percent = 0;
    // Outcome: the messages from `message` on, `count` of them, all with this outcome and
    // no reply (a cancelled run of a million people is one notice, not a million).
    std::size_t message = 0;
    std::size_t count = 1;
    MessageOutcome outcome = MessageOutcome::NotAttempted;
    std::optional<ServerReply> reply{};
    MessageStage stageBefore = MessageStage::NotTaken; // the message's, were it not told
};

// How the current line of the data stands in the batches.
enum class LinePart {
    None,        // the next line is read from the message
    Rest,        // `rest` is the unsent part of line lineIndex
    RestWithDot, // the same, still owing its stuffing dot
};

struct SmtpDialogue::Impl {
    using Cmd = SmtpCommand;

    explicit Impl(DeliveryListener& l);

    DeliveryListener& listener;
    ClientSocket sock;
    QTimer timer; // the time-out of what is awaited now
    QTimer pause; // the wait before a reconnection or the next message under a rate
    // Started with each connection: when it fires and the server has still said nothing,
    // the user is told while the greeting's long time-out goes on.
    QTimer silence;
    std::chrono::steady_clock::time_point connectStarted{};
    // Expires with this: answers and posted calls that come later are dropped.
    std::shared_ptr<char> alive = std::make_shared<char>();

    // The run's messages, shared with the other connections; null outside a run.
    std::shared_ptr<MessageSource> messages;
    std::size_t messageCount = 0;
    // Where the next message comes from; other connections may take from it too.
    std::shared_ptr<MessageQueue> queue;
    enum class QueueUse { Own, Shared };
    QueueUse queueUse = QueueUse::Own;
    std::vector<MessageStage> stages; // one per message of the run
    DeliveryConfig config;
    int recipientCount = 1;

    // What the server still has to answer, in the order it was sent: each reply is
    // matched to the front entry.
    PendingReplies pending;
    SessionState state = SessionState::Idle;
    Opening opening;
    Transaction transaction;

    // Relay limits.
    int connectionMessages = 0; // transactions begun on this connection
    int connectionsMade = 0;    // in this run
    enum class RatePause { None, Waiting, SlotReserved };
    RatePause ratePause = RatePause::None;
    std::chrono::steady_clock::time_point reservedSlot{};

    // The run's counts.
    int acceptedCount = 0;
    int problemsReported = 0;
    std::size_t currentMessage = 0; // index into messages; messageCount = none left
    int progressBase = 0;

    // The body of currentMessage on its way out (SessionState::SendingData).
    std::size_t lineIndex = 0;
    MessageLines::Cursor cursor;
    LinePart linePart = LinePart::None;
    std::string_view rest; // followed by CR LF
    std::size_t checkedMessage = static_cast<std::size_t>(-1);
    std::string checkResult;
    std::string batch;

    int gauge = -1;              // last value reported
    std::string rx;              // received bytes not yet taken as a reply
    std::uint64_t rxTotal = 0;   // bytes received on this connection, held or not
    std::uint64_t rxDropped = 0; // of them, more than could be held

    // Steps of ours on the stack, and the listener calls waiting for them to return.
    int stepsRunning = 0;
    std::deque<ListenerNotice> notices;
    bool listenerCalled = false; // a listener call is under way
    // What the steps wrote, sent once the listener has heard what led to it: a listener
    // that cancels or destroys the dialogue on hearing of a refusal sends nothing more.
    std::string outbox;

    bool running() const { return state != SessionState::Idle && state != SessionState::Ended; }
    bool sendingData() const { return state == SessionState::SendingData; }

    // --- what the listener is told (SmtpDialogue.cpp) ---
    template <class F> void enter(F&& step);
    void deliverNotices();
    bool dropNotices();
    void send(std::string_view bytes);
    void sendOutbox();
    void dropConnection();
    void closeInOrder();
    void notify(ListenerNotice notice);
    void tell(DeliveryEvent event);
    void tell(DeliveryEvent::Kind kind);
    void setGauge(long long value);
    void report(DeliveryProblem problem, const std::string* reply = nullptr,
                const std::string& detail = {});
    void reportAbout(DeliveryProblem problem, std::size_t message, const std::string* reply,
                     const std::string& detail = {});
    void outcome(std::size_t message, MessageOutcome result, const std::string* reply = nullptr);
    void handlerFailed(const std::string& text);

    // --- the session (SmtpDialogue.cpp) ---
    const std::string& address(std::size_t i) const { return messages->address(i); }
    const OutgoingMessage& mail(std::size_t i) { return messages->message(i); }
    bool messageLeft() const { return currentMessage < messageCount; }
    std::size_t takeNext();
    void endOwnMessages();
    bool allDealtWith() const;
    int timeoutMs(Cmd cmd) const;
    int dataBlockTimeoutMs() const;
    void armTimer();
    void command(const std::string& line, Cmd cmd, const std::string& logText = {});
    void sendHeld();
    void startConnecting();
    void onConnected(int error);
    void connectionNotMade(bool handshake);
    void onSocketData();
    void onSocketClosed();
    bool receive();
    void takeReplies();
    void replyTooLong();
    void handleReply(const std::string& received);
    void connectionLost();
    void timedOut();
    void silenceLasts();
    void fatal(DeliveryProblem problem, const std::string& detail = {});
    void endAtOnce(DeliveryProblem problem, const std::string* reply);
    void connectionRefusedForNow(const std::string& reply);
    void sendQuit();
    void endDelivery();
    void releaseMessages();

    // --- the opening (DialogueOpening.cpp) ---
    void onOpeningReply(Cmd cmd, int code, const std::string& reply);
    void onGreeting(int code, const std::string& reply);
    void onHelo(int code, const std::string& reply);
    void onEhlo(int code, const std::string& reply);
    void onStartTls(int code, const std::string& reply);
    void onTlsDone(int error);
    void onLogin(int code, const std::string& reply);
    bool useEhlo() const;
    void sendHelo();
    void sendEhlo();
    void sendLogin();
    void sendBearerLogin();
    void tokenRefused(const std::string& reply);
    void tokenAnswered(unsigned question, const std::string& token);
    void loginRefused(const std::string& reply);
    bool pausedBeforeMessage();
    void pauseOver();
    void reconnect();

    // --- the transaction (DialogueTransaction.cpp) ---
    void onTransactionReply(const PendingReplies::Awaited& awaited, int code,
                            const std::string& reply);
    void refused(const PendingReplies::Awaited& awaited, int code, const std::string& reply);
    void onMailOrRcpt(Cmd cmd);
    void onCopyRcpt(int code, const std::string& reply, std::size_t message);
    void onEndOfData(const std::string& reply, std::size_t message);
    void afterEndOfData();
    const std::string& messageProblem(std::size_t i);
    void startMessage();
    std::string envelope();
    void expectEnvelope();
    bool envelopeBehind(std::string& out);
    void tellEnvelope();
    void tellSending();
    void sendRcpt();
    void sendCopyRcptOrData();
    void sendRset();
    void retryOrGiveUp(const std::string& reply);
    void skipCurrent();
    void giveUpCurrent(const std::string& reply);
    void messageRefusedForNow(std::size_t message, const std::string& reply);

    // --- the data (DialogueData.cpp) ---
    void resetLines();
    void sendLines();
    void markEndOfData();
    std::uint64_t wireSize(std::size_t message);
    void abandonMessage(const std::string& why);
};

// Runs one step of ours (a socket, timer or token event, start() or cancel()) to its end;
// then, from the outermost step, the listener hears what it was told meanwhile. Nothing
// of the dialogue may be touched after this returns: the listener may have destroyed it.
template <class F> void SmtpDialogue::Impl::enter(F&& step) {
    ++stepsRunning;
    try {
        step();
    } catch (const std::exception& e) {
        handlerFailed(e.what());
    } catch (...) {
        handlerFailed("Error, unknown failure");
    }
    --stepsRunning;
    if (stepsRunning == 0) deliverNotices();
}

} // namespace tandrel
