// SPDX-License-Identifier: GPL-3.0-or-later
// The state and steps of SmtpDialogue, shared by the files that implement it: the
// dialogue itself, the opening of a session (greeting, login, encryption) and the data.
#pragma once

#include <QTimer>
#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/MessageQueue.h"
#include "model/MessageSource.h"
#include "smtp/PendingReplies.h"
#include "smtp/SmtpDialogue.h"
#include "smtp/SmtpExtensions.h"
#include "smtp/SmtpReply.h"
#include "model/TextFile.h"
#include "smtp/ClientSocket.h"
#include "smtp/WireRules.h"

namespace tandrel {

inline constexpr const char* kCrLf = "\r\n";
// The longest reply taken (all its lines together). Replies to our commands are short;
// a server that sends more without ending its reply is not talking SMTP, and its text
// is neither taken for replies nor held without limit.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Received bytes held at most while a listener call runs a nested event loop.
inline constexpr std::size_t kMaxHeldBytes = 2 * kMaxReplyBytes;
// Before a command is given up after refusals that may be passing.
inline constexpr int kRetries = 6;
// A server that takes the connection and says nothing for this long is told of while the
// wait for its greeting goes on: it is rarely just slow.
inline constexpr int kSilenceNoticeSeconds = 15;

inline bool Positive(int code) {
    return code / 100 == 2;
}
inline bool Temporary(int code) {
    return code / 100 == 4;
}
// Refusals that may come from a confused session: answered by starting the message
// again after RSET.
inline bool CommandError(int code) {
    return code == 500 || code == 501 || code == 503;
}
// Only a success that is not a greeting or a farewell accepts a message.
inline bool AcceptsMessage(int code) {
    return Positive(code) && code != 220 && code != 221;
}

struct SmtpDialogue::Impl {
    using Cmd = SmtpCommand;

    explicit Impl(DeliveryListener& l) : listener(l) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { onTimer(); });
        pause.setSingleShot(true);
        QObject::connect(&pause, &QTimer::timeout, [this] { guarded([this] { pauseOver(); }); });
        silence.setSingleShot(true);
        QObject::connect(&silence, &QTimer::timeout, [this] { silenceLasts(); });
    }

    DeliveryListener& listener;
    ClientSocket sock;
    QTimer timer; // the time-out of what is awaited now
    QTimer pause; // the wait before a reconnection or the next message under a rate
    // Started with each connection: when it fires and the server has still said nothing,
    // the user is told while the greeting's long time-out goes on.
    QTimer silence;
    std::chrono::steady_clock::time_point connectStarted{};

    // The run's messages, shared with the other connections; null outside a run.
    std::shared_ptr<MessageSource> messages;
    std::size_t messageCount = 0;
    // Where the next message comes from; other connections may take from it too.
    std::shared_ptr<MessageQueue> queue;
    bool sharedQueue = false;
    // What this connection did with each message: 0 not taken, kTaken, kEndSent.
    std::vector<char> held;
    static constexpr char kTaken = 1, kEndSent = 2;
    DeliveryConfig config;
    int recipientCount = 1;

    // What the server still has to answer, in the order it was sent: each reply is
    // matched to the front entry.
    PendingReplies pending;
    SessionState state = SessionState::Idle;

    // The session's extensions (EHLO).
    bool extended = false; // EHLO was answered
    EhloOffer offer;
    bool loggedIn = false;
    // The bearer-token login under way: which reply is awaited, and what answers it.
    enum class BearerStep { None, Prompt, Token, ErrorAnswered };
    BearerStep bearerStep = BearerStep::None;
    BearerLogin bearer;
    bool transactionPipelined = false;
    // The next message's MAIL, RCPT and DATA went out with this end of data.
    bool nextInFlight = false;

    // Relay limits.
    int connectionMessages = 0; // transactions begun on this connection
    bool waitingForRate = false;
    bool rateSlotReserved = false; // the pause for the rate ended in our reserved slot
    std::chrono::steady_clock::time_point reservedSlot{};
    // Whether each message's outcome went to the listener.
    std::vector<char> outcomeGiven;
    // Whether each message's end-of-data mark went out (its reply may still be due).
    std::vector<char> endMarkSent;
    // The Cc and Bcc addresses of the current message: sent, and answered.
    std::size_t copySent = 0;
    std::size_t copyReplies = 0;

    // Run variables.
    int RetryCount = 0;
    int SentCount = 0;
    std::size_t CurrentMessage = 0; // index into messages; messageCount = none left
    bool ErrorsOccurred = false;
    int ProgressBase = 0;

    // The body of CurrentMessage on its way out (SessionState::SendingData).
    bool linesDone = false; // every line is with the socket; the mark is next
    std::size_t LineIndex = 0;
    MessageLines::Cursor cursor;
    bool lineOpen = false; // `rest` is the unsent part of line LineIndex
    bool restDot = false;  // it still needs its stuffing dot
    std::string_view rest; // followed by CR LF
    std::size_t checkedMessage = static_cast<std::size_t>(-1);
    std::string checkResult;

    bool isRunning = false;
    bool connected = false; // the TCP connection of this run was made
    bool hasEnded = false;
    int gauge = -1;            // last value reported
    std::string rx;            // received bytes not yet taken as a reply
    std::uint64_t rxTotal = 0; // bytes received on this connection, held or not
    bool rxOverflow = false;   // more arrived than could be held
    std::string batch;

    // Socket and timer events that arrive while one of our handlers is on the stack:
    // the connection went during a send of ours, or a listener call runs a nested event
    // loop. They are handled in their order once the handler has returned, so that the
    // dialogue never runs inside itself.
    enum class Deferred { DataSent, Replies, Closed, TimedOut };
    int depth = 0; // handlers of ours on the stack
    std::deque<Deferred> deferred;

    // The owner went away while a handler of ours was on the stack: the listener is
    // gone, and this is released once the handler has returned.
    bool orphaned = false;
    bool releasePosted = false;
    unsigned stops = 0; // cancel() and closeConnection() calls

    bool sendingData() const { return state == SessionState::SendingData; }
    bool reconnecting() const { return state == SessionState::Reconnecting; }
    void tell(DeliveryEvent event);
    void tell(DeliveryEvent::Kind kind);
    void setGauge(long long value);
    void report(DeliveryProblem problem, const std::string* reply = nullptr,
                const std::string& detail = {});
    void reportAbout(DeliveryProblem problem, std::size_t message, const std::string* reply,
                     const std::string& detail = {});
    const std::string& address(std::size_t i) const { return messages->address(i); }
    const OutgoingMessage& mail(std::size_t i) { return messages->message(i); }
    bool messageLeft() const { return CurrentMessage < messageCount; }
    std::size_t takeNext();
    void endOwnMessages();

    bool allDealtWith() const;
    int timeoutMs(Cmd cmd) const;
    int dataBlockTimeoutMs() const;
    void armTimer();
    void command(const std::string& line, Cmd cmd, bool logged, const std::string& logText = {});
    void sendHeld();
    bool useEhlo() const;
    void sendEhlo();
    void onEhlo(int code, const std::string& reply);
    void onStartTlsReply(int code, const std::string& reply);
    void onTlsDone(int error);
    void sendLogin();
    void onAuth(Cmd cmd, int code, const std::string& reply);
    void loginRefused(const std::string& reply);
    void sendBearerLogin();
    void onBearerAuth(int code, const std::string& reply);
    void tokenRefused(const std::string& reply);
    void sessionReady();
    void fatal(DeliveryProblem problem, const std::string& detail = {});
    void outcome(std::size_t message, MessageOutcome result, const std::string* reply = nullptr);
    bool pausedBeforeMessage();
    void pauseOver();
    void reconnect();
    std::uint64_t wireSize(std::size_t message);
    void onSocketConnected(int error);
    void onSocketData();
    template <class F> void handleOrDefer(Deferred what, F&& handle);
    void onSocketDataSent();
    void onSocketClosed();
    void onTimer();
    void defer(Deferred what);
    void startConnecting();
    void silenceLasts();

    // Runs a handler of ours, then what was deferred meanwhile.
    template <class F> void guarded(F&& f) {
        if (!isRunning) return;
        runHandler(f);
        while (depth == 0 && isRunning && !deferred.empty()) {
            const Deferred what = deferred.front();
            deferred.pop_front();
            runHandler([this, what] {
                switch (what) {
                case Deferred::DataSent:
                    sendMoreData();
                    break;
                case Deferred::Replies:
                    takeReplies();
                    break;
                case Deferred::Closed:
                    connectionLost();
                    break;
                case Deferred::TimedOut:
                    timedOut();
                    break;
                }
            });
        }
        if (depth > 0) return;
        if (!isRunning) deferred.clear();
        if (orphaned) releaseLater();
    }

    template <class F> void runHandler(F&& f) {
        ++depth;
        try {
            f();
        } catch (const std::exception& e) {
            handlerFailed(e.what());
        } catch (...) {
            handlerFailed("Error, unknown failure");
        }
        --depth;
    }

    void handlerFailed(const std::string& text);
    void connectionLost();
    void timedOut();
    void onConnected(int error);
    bool receive();
    void takeReplies();
    void replyTooLong();
    void handleReply(const std::string& received);
    void connectionRefusedForNow(const std::string& reply);
    void messageRefusedForNow(std::size_t message, const std::string& reply);
    void connectionNotMade(bool handshake);
    void onGreeting(int code, const std::string& reply);
    void onHelo(int code, const std::string& reply);
    void onMailOrRcpt(int code, const std::string& reply, bool rcpt);
    void onData(int code, const std::string& reply);
    void onEndOfData(int code, const std::string& reply, std::size_t message);
    void sendHelo();
    const std::string& messageProblem(std::size_t i);
    void startMessage();
    std::string envelope();
    void expectEnvelope();
    bool envelopeBehind(std::string& out);
    void tellEnvelope();
    void tellSending();
    void sendRcpt();
    void sendCopyRcptOrData();
    void onCopyRcpt(int code, const std::string& reply, std::size_t message);
    void sendQuit();
    void sendRset();
    void retryOrGiveUp(const std::string& reply);
    void skipCurrent();
    void giveUpCurrent(const std::string& reply);
    void resetLines();
    void sendMoreData();
    void sendEndOfData();
    void markEndOfData();
    void sendLines();
    void abandonMessage(const std::string& why);
    void endDelivery();
    void releaseMessages();
    void orphan();
    void releaseLater();
};

} // namespace tandrel
