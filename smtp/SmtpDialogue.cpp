// SPDX-License-Identifier: GPL-3.0-or-later
// SmtpDialogue: the delivery run over one connection, its replies, time-outs and end.
#include "smtp/DialogueImpl.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <deque>
#include <stdexcept>
#include <string_view>

#include "smtp/SmtpReply.h"
#include "model/TextFile.h"
#include "smtp/ClientSocket.h"
#include "smtp/WireRules.h"

namespace tandrel {

// --- reporting (nothing reaches the listener once orphaned) ---
void SmtpDialogue::Impl::tell(DeliveryEvent event) {
    if (!orphaned) listener.deliveryEvent(event);
}

void SmtpDialogue::Impl::tell(DeliveryEvent::Kind kind) {
    DeliveryEvent event;
    event.kind = kind;
    tell(std::move(event));
}

void SmtpDialogue::Impl::setGauge(long long value) {
    const int v = static_cast<int>(std::clamp<long long>(value, 0, 100));
    if (v == gauge) return;
    gauge = v;
    if (!orphaned) listener.progress(v);
}

// A problem of the session, with the reply that showed it, if one did.
void SmtpDialogue::Impl::report(DeliveryProblem problem, const std::string* reply,
                                const std::string& detail) {
    ErrorsOccurred = true;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::Problem;
    event.problem = problem;
    if (reply) event.reply = ParseServerReply(*reply);
    event.detail = detail;
    tell(std::move(event));
}

// A problem of one message.
void SmtpDialogue::Impl::reportAbout(DeliveryProblem problem, std::size_t message,
                                     const std::string* reply, const std::string& detail) {
    ErrorsOccurred = true;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::Problem;
    event.problem = problem;
    event.message = message;
    event.address = address(message);
    if (reply) event.reply = ParseServerReply(*reply);
    event.detail = detail;
    if (problem == DeliveryProblem::MessageTooLarge) event.number = offer.maxSize;
    tell(std::move(event));
}

// Every message has had its outcome; at most the QUIT is unanswered.
bool SmtpDialogue::Impl::allDealtWith() const {
    return !messageLeft() && !sendingData() && pending.onlyQuitLeft();
}

int SmtpDialogue::Impl::timeoutMs(Cmd cmd) const {
    if (config.timeoutSeconds > 0) return config.timeoutSeconds * 1000;
    constexpr int minute = 60 * 1000;
    switch (cmd) {
    case Cmd::Data:
    case Cmd::Quit:
        return 2 * minute;
    case Cmd::EndOfData:
        return 10 * minute;
    default:
        return 5 * minute;
    }
}

int SmtpDialogue::Impl::dataBlockTimeoutMs() const {
    return config.timeoutSeconds > 0 ? config.timeoutSeconds * 1000 : 3 * 60 * 1000;
}

// Times what is awaited now: the front reply, or the data block in flight.
void SmtpDialogue::Impl::armTimer() {
    if (!pending.empty())
        timer.start(timeoutMs(pending.front().command));
    else if (sendingData())
        timer.start(dataBlockTimeoutMs());
    else
        timer.stop();
}

// A command line: never sent when a byte taken from data would split it. `logText`,
// when given, goes to the run log in its place (a login must not reach the file).
// While replies of a failed pipelined transaction are due, it waits for them.
void SmtpDialogue::Impl::command(const std::string& line, Cmd cmd, bool logged,
                                 const std::string& logText) {
    if (HasLineBreak(line))
        throw std::runtime_error("Error, a command would hold a line break; not sent");
    if (pending.pipelinedDue()) {
        pending.hold({line, cmd, logged, logText});
        return;
    }
    const std::string text = line + kCrLf;
    if (logged) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::CommandSent;
        event.detail = logText.empty() ? text : logText + kCrLf;
        tell(std::move(event));
    }
    pending.expect(cmd, CurrentMessage, rxTotal);
    armTimer();
    sock.SendText(text);
}

void SmtpDialogue::Impl::sendHeld() {
    for (const PendingReplies::Held& h : pending.releaseHeld()) {
        if (!isRunning) return;
        command(h.line, h.command, h.logged, h.logText);
    }
}

// Tells the listener once what became of a message; its lines are not needed again.
void SmtpDialogue::Impl::outcome(std::size_t message, MessageOutcome result,
                                 const std::string* reply) {
    if (message >= outcomeGiven.size() || outcomeGiven[message]) return;
    outcomeGiven[message] = 1;
    // Without an answer to its end of data, nobody can tell whether it was stored.
    if (result == MessageOutcome::NotAttempted && message < endMarkSent.size() &&
        endMarkSent[message])
        result = MessageOutcome::MaybeDelivered;
    if (result != MessageOutcome::NotAttempted) messages->release(message);
    if (orphaned) return;
    if (reply) {
        const ServerReply parsed = ParseServerReply(*reply);
        listener.messageOutcome(message, result, &parsed);
    } else {
        listener.messageOutcome(message, result, nullptr);
    }
}

// --- socket and timer events ---
void SmtpDialogue::Impl::onSocketConnected(int error) {
    guarded([this, error] { onConnected(error); });
}

void SmtpDialogue::Impl::onSocketData() {
    if (!isRunning) {
        // The run is over but the connection stays until the caller closes it:
        // whatever still comes is dropped rather than offered again and again.
        char buf[4096];
        sock.ReceiveData(buf, sizeof buf);
        return;
    }
    if (depth > 0) {
        // Read now (the socket would offer the bytes again and again), take later.
        defer(receive() ? Deferred::Replies : Deferred::Closed);
        return;
    }
    guarded([this] {
        if (receive())
            takeReplies();
        else
            connectionLost();
    });
}

void SmtpDialogue::Impl::onSocketDataSent() {
    handleOrDefer(Deferred::DataSent, [this] { sendMoreData(); });
}

void SmtpDialogue::Impl::onSocketClosed() {
    handleOrDefer(Deferred::Closed, [this] { connectionLost(); });
}

void SmtpDialogue::Impl::onTimer() {
    handleOrDefer(Deferred::TimedOut, [this] { timedOut(); });
}

// An event of a running dialogue is handled at once, or, while a listener call is
// still under way, kept for when it returns.
template <class F> void SmtpDialogue::Impl::handleOrDefer(Deferred what, F&& handle) {
    if (!isRunning) return;
    if (depth > 0) {
        defer(what);
        return;
    }
    guarded(std::forward<F>(handle));
}

void SmtpDialogue::Impl::defer(Deferred what) {
    if (what == Deferred::Replies && !deferred.empty() && deferred.back() == what) return;
    deferred.push_back(what);
}

// Something failed inside our own handling (for example a send on a connection
// that has gone): report it and end the run instead of waiting forever.
void SmtpDialogue::Impl::handlerFailed(const std::string& text) {
    if (!isRunning) return;
    try {
        if (std::find(deferred.begin(), deferred.end(), Deferred::Closed) != deferred.end()) {
            deferred.clear();
            connectionLost();
            return;
        }
        if (!allDealtWith()) report(DeliveryProblem::InternalFailure, nullptr, text);
        endDelivery();
    } catch (...) {
        isRunning = false;
    }
}

void SmtpDialogue::Impl::connectionLost() {
    if (!isRunning) return;
    if (reconnecting()) {
        rx.clear();
        pause.start(0); // a new connection, once this close has been handled
        return;
    }
    if (!rx.empty()) {
        DeliveryEvent event; // an unfinished reply, for the record
        event.kind = DeliveryEvent::Kind::UnfinishedReply;
        event.detail = UpToNul(rx);
        rx.clear();
        tell(std::move(event));
    }
    // Gone after the last message had its answer: nothing was lost.
    // A failure of TLS (plain text injected, a record cut off) ended it: say which.
    if (!allDealtWith()) {
        if (sock.TlsError().empty())
            report(DeliveryProblem::ConnectionClosed);
        else
            report(DeliveryProblem::TlsFailed, nullptr, sock.TlsError());
    }
    endDelivery();
}

void SmtpDialogue::Impl::startConnecting() {
    state = SessionState::Connecting;
    sock.setAddr(config.smtp);
    sock.setPort(config.port);
    sock.ImplicitTls = config.security == Security::Tls;
    timer.start(timeoutMs(Cmd::Greeting));
    connectStarted = std::chrono::steady_clock::now();
    silence.start(kSilenceNoticeSeconds * 1000);
    sock.Connect();
}

// Told once per connection, and only of a server that took the connection and sent not
// a byte since: no greeting, or no answer to the handshake of encryption from the start.
// A connection still being made is looked at again a second later.
void SmtpDialogue::Impl::silenceLasts() {
    if (!isRunning) return;
    const bool tcpMade = sock.State() == wsConnected;
    if (state == SessionState::Connecting && !tcpMade) {
        silence.start(1000);
        return;
    }
    const bool handshake = state == SessionState::Connecting && sock.ImplicitTls;
    const bool noGreeting = state == SessionState::Opening && !pending.empty() &&
                            pending.front().command == Cmd::Greeting &&
                            rxTotal == pending.front().after && rx.empty();
    if (!handshake && !noGreeting) return;
    if (depth > 0) { // a listener call is under way: tell it once that has returned
        silence.start(1000);
        return;
    }
    const auto waited = std::chrono::steady_clock::now() - connectStarted;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::ServerSilent;
    event.detail = config.smtp;
    event.port = config.port;
    event.number = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(waited).count());
    event.handshake = handshake;
    guarded([this, &event] { tell(std::move(event)); });
}

void SmtpDialogue::Impl::timedOut() {
    if (!isRunning) return;
    if (!connected) connectionNotMade(false); // reported like a refused connection
    if (!allDealtWith()) report(DeliveryProblem::NoAnswerInTime);
    if (!isRunning) return;
    if (sock.State() != wsClosed) sock.AbortConnection();
    endDelivery();
}

// The run's first connection never came; the reason is reported next.
void SmtpDialogue::Impl::connectionNotMade(bool handshake) {
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::ConnectionNotMade;
    event.handshake = handshake;
    tell(std::move(event));
}

void SmtpDialogue::Impl::onConnected(int error) {
    if (error == wsTlsError) {
        if (!connected) connectionNotMade(true);
        fatal(DeliveryProblem::TlsFailed, sock.TlsError());
        return;
    }
    if (error != 0) {
        // The TCP connection could not be made: say so and end the run.
        if (!connected) connectionNotMade(false);
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Problem;
        event.problem = DeliveryProblem::CouldNotConnect;
        event.reply.text = ErrorDesc(error);
        event.socketError = error;
        ErrorsOccurred = true;
        tell(std::move(event));
        endDelivery();
        return;
    }
    extended = false;
    loggedIn = false;
    offer = EhloOffer();
    pending.clear();
    connectionMessages = 0;
    nextInFlight = false;
    state = SessionState::Opening;
    if (connected) { // a new connection after the relay's limit: the run goes on
        pending.expect(Cmd::Greeting, CurrentMessage, rxTotal);
        armTimer();
        rx.clear();
        rxOverflow = false;
        tell(DeliveryEvent::Kind::Reconnected);
        return;
    }
    connected = true;
    SentCount = 0;
    CurrentMessage = takeNext();
    RetryCount = 0;
    resetLines();
    pending.expect(Cmd::Greeting, 0, rxTotal);
    armTimer();
    rx.clear();
    rxOverflow = false;
    tell(DeliveryEvent::Kind::Connected);
}

// One read into the received bytes; false when the server has closed the connection.
bool SmtpDialogue::Impl::receive() {
    char buf[4096];
    const int n = sock.ReceiveData(buf, sizeof buf);
    if (n == 0) return false;
    if (n < 0) return true; // nothing waiting, or a failure the close event reports
    rxTotal += static_cast<std::uint64_t>(n);
    if (rx.size() + static_cast<std::size_t>(n) > kMaxHeldBytes)
        rxOverflow = true;
    else
        rx.append(buf, static_cast<std::size_t>(n));
    return true;
}

// Handles every complete reply received, in order.
void SmtpDialogue::Impl::takeReplies() {
    while (isRunning) {
        const std::size_t len = CompleteReplyLength(rx);
        if (len > kMaxReplyBytes || (len == 0 && (rx.size() > kMaxReplyBytes || rxOverflow))) {
            replyTooLong();
            return;
        }
        if (len == 0) return;
        const std::string reply = rx.substr(0, len);
        rx.erase(0, len);
        handleReply(reply);
    }
}

void SmtpDialogue::Impl::replyTooLong() {
    DeliveryEvent event; // the beginning, for the record
    event.kind = DeliveryEvent::Kind::UnfinishedReply;
    event.detail = UpToNul(rx);
    rx.clear();
    rxOverflow = false;
    tell(std::move(event));
    if (!isRunning) return;
    report(DeliveryProblem::ReplyTooLong);
    if (!isRunning) return;
    sock.AbortConnection(); // nothing more is taken from it
    endDelivery();
}

void SmtpDialogue::Impl::handleReply(const std::string& received) {
    const std::string reply = UpToNul(received);
    {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::ReplyReceived;
        event.reply = ParseServerReply(reply);
        tell(std::move(event));
    }
    if (!isRunning) return;
    const int code = ReplyCode(reply);
    // A greeting spread over several "220 " replies: the extra ones precede the
    // answer to HELO.
    if (!pending.empty() && code == 220 &&
        (pending.front().command == Cmd::Helo || pending.front().command == Cmd::Ehlo))
        return;
    // Nothing was asked, or the reply had fully arrived before the command it would
    // answer went out: the server is not answering what we sent, so no later reply
    // could be trusted to mean what it says. (A farewell sent ahead of our QUIT ends
    // the session all the same and is let be.)
    if (pending.empty() || (pending.front().command != Cmd::Quit &&
                            rxTotal - rx.size() <= pending.front().after)) {
        report(DeliveryProblem::UnexpectedReply, &reply);
        if (!isRunning) return;
        sock.AbortConnection();
        endDelivery();
        return;
    }
    bool pipelined = false;
    const PendingReplies::Awaited o = pending.take(pipelined);
    armTimer();
    if (o.command == Cmd::Discarded || (pipelined && pending.pipelineFailed())) {
        // The rest of a failed transaction. DATA goes ahead only for a message to the
        // person's address alone (see envelope()), so a DATA accepted all the same has
        // no recipient: the empty message ended at once reaches nobody.
        if (o.command == Cmd::Data && code / 100 == 3) {
            pending.expect(Cmd::Discarded, o.message, rxTotal);
            armTimer();
            sock.SendText(std::string(".") + kCrLf);
        }
        sendHeld();
        return;
    }
    switch (o.command) {
    case Cmd::Greeting:
        onGreeting(code, reply);
        break;
    case Cmd::Helo:
        onHelo(code, reply);
        break;
    case Cmd::Ehlo:
        onEhlo(code, reply);
        break;
    case Cmd::StartTls:
        onStartTlsReply(code, reply);
        break;
    case Cmd::Auth:
    case Cmd::AuthUser:
    case Cmd::AuthPassword:
        onAuth(o.command, code, reply);
        break;
    case Cmd::Discarded:
        break;
    case Cmd::Mail:
        onMailOrRcpt(code, reply, false);
        break;
    case Cmd::Rcpt:
        onMailOrRcpt(code, reply, true);
        break;
    case Cmd::CopyRcpt:
        onCopyRcpt(code, reply, o.message);
        break;
    case Cmd::Data:
        onData(code, reply);
        break;
    case Cmd::EndOfData:
        onEndOfData(code, reply, o.message);
        break;
    case Cmd::Rset:
        if (code == 421) {
            connectionRefusedForNow(reply);
            break;
        }
        startMessage();
        break;
    case Cmd::Quit:
        if (reconnecting())
            sock.CloseConnection();
        else
            endDelivery();
        break;
    }
    if (pipelined) sendHeld();
}

void SmtpDialogue::Impl::connectionRefusedForNow(const std::string& reply) {
    report(DeliveryProblem::ConnectionRefusedForNow, &reply);
    endDelivery();
}

void SmtpDialogue::Impl::messageRefusedForNow(std::size_t message, const std::string& reply) {
    reportAbout(DeliveryProblem::MessageRefusedForNow, message, &reply);
    if (isRunning) outcome(message, MessageOutcome::TemporarilyRefused, &reply);
}

void SmtpDialogue::Impl::onMailOrRcpt(int code, const std::string& reply, bool rcpt) {
    if (Positive(code)) {
        if (transactionPipelined) {
            // DATA went with the envelope, or follows its last copy's reply.
        } else if (rcpt) {
            copySent = 0;
            sendCopyRcptOrData();
        } else {
            sendRcpt();
        }
    } else if (Temporary(code)) {
        messageRefusedForNow(CurrentMessage, reply);
        if (!isRunning) return;
        if (code == 421)
            endDelivery();
        else
            skipCurrent();
    } else if (CommandError(code)) {
        retryOrGiveUp(reply);
    } else if (rcpt) {
        reportAbout(DeliveryProblem::RecipientRefused, CurrentMessage, &reply);
        if (isRunning) outcome(CurrentMessage, MessageOutcome::Refused, &reply);
        if (isRunning) skipCurrent();
    } else {
        report(DeliveryProblem::SenderRefused, &reply);
        endDelivery();
    }
}

void SmtpDialogue::Impl::onData(int code, const std::string& reply) {
    if (code / 100 == 3) {
        resetLines();
        state = SessionState::SendingData;
        sendLines();
    } else if (Temporary(code)) {
        messageRefusedForNow(CurrentMessage, reply);
        if (!isRunning) return;
        if (code == 421)
            endDelivery();
        else
            skipCurrent();
    } else if (CommandError(code)) {
        retryOrGiveUp(reply);
    } else if (RetryCount < kRetries) {
        // DATA refused: ask again, a bounded number of times.
        ++RetryCount;
        command("data", Cmd::Data, false);
    } else {
        giveUpCurrent(reply);
    }
}

void SmtpDialogue::Impl::onEndOfData(int code, const std::string& reply, std::size_t message) {
    if (AcceptsMessage(code)) {
        ++SentCount;
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Accepted;
        event.message = message;
        event.address = address(message);
        event.reply = ParseServerReply(reply);
        tell(std::move(event));
        if (!isRunning) return;
        setGauge(static_cast<long long>(SentCount) * 100 / recipientCount);
        ProgressBase = gauge;
        if (!isRunning) return;
        outcome(message, MessageOutcome::Accepted, &reply);
        if (!isRunning) return;
        if (nextInFlight) {
            nextInFlight = false;
            tellSending();
        } else {
            startMessage();
        }
        return;
    }
    if (Temporary(code))
        messageRefusedForNow(message, reply);
    else {
        reportAbout(DeliveryProblem::MessageRefused, message, &reply);
        if (isRunning) outcome(message, MessageOutcome::Refused, &reply);
    }
    if (!isRunning) return;
    if (code == 421) {
        endDelivery();
    } else if (nextInFlight) { // the transaction is over; the next one is under way
        nextInFlight = false;
        tellSending();
    } else if (messageLeft()) {
        sendRset();
    } else {
        sendQuit();
    }
}

const std::string& SmtpDialogue::Impl::messageProblem(std::size_t i) {
    if (checkedMessage != i) {
        checkedMessage = i;
        checkResult = MessageProblem(config.fromAddress, mail(i));
    }
    return checkResult;
}

// MAIL FROM for the next message that can go out (with RCPT and DATA when the server
// takes them together), or QUIT when none is left.
void SmtpDialogue::Impl::startMessage() {
    while (messageLeft()) {
        std::string problem = messageProblem(CurrentMessage);
        if (problem.empty() && offer.maxSize > 0 && wireSize(CurrentMessage) > offer.maxSize) {
            reportAbout(DeliveryProblem::MessageTooLarge, CurrentMessage, nullptr);
        } else if (problem.empty()) {
            break;
        } else {
            reportAbout(DeliveryProblem::MessageUnfit, CurrentMessage, nullptr, problem);
        }
        if (!isRunning) return;
        outcome(CurrentMessage, MessageOutcome::Refused);
        if (!isRunning) return;
        CurrentMessage = takeNext();
        RetryCount = 0;
    }
    if (!messageLeft()) {
        sendQuit();
        return;
    }
    if (pausedBeforeMessage()) return;
    state = SessionState::Transaction;
    transactionPipelined = offer.pipelining;
    if (transactionPipelined) {
        const std::string text = envelope();
        tellEnvelope();
        if (!isRunning) return;
        expectEnvelope();
        armTimer();
        sock.SendText(text);
    } else {
        command("MAIL FROM:<" + config.fromAddress + ">", Cmd::Mail, true);
    }
    tellSending();
}

// MAIL, RCPT and DATA of CurrentMessage as one piece of text, for PIPELINING. A message
// with Cc or Bcc addresses goes without its DATA: a server takes DATA once any one
// recipient is accepted, so sent ahead it would open a message for the copies of a
// person whose own address was refused. Its DATA follows when the replies have shown
// the person's address accepted (onCopyRcpt).
std::string SmtpDialogue::Impl::envelope() {
    std::vector<std::string> commands = {"MAIL FROM:<" + config.fromAddress + ">",
                                         "RCPT TO:<" + address(CurrentMessage) + ">"};
    const std::vector<std::string>& copies = mail(CurrentMessage).copyRecipients;
    for (const std::string& copy : copies)
        commands.push_back("RCPT TO:<" + copy + ">");
    if (copies.empty()) commands.push_back("data");
    std::string text;
    for (const std::string& line : commands) {
        if (HasLineBreak(line))
            throw std::runtime_error("Error, a command would hold a line break; not sent");
        text += line + kCrLf;
    }
    return text;
}

// With PIPELINING, the envelope of the next message goes in the same write as this end
// of data, when nothing has to come between them (a refusal of our own, a pause for the
// rate, a new connection): one round trip per message. The replies stay in order, so
// each still answers the message it was sent for.
bool SmtpDialogue::Impl::envelopeBehind(std::string& out) {
    nextInFlight = false;
    if (!offer.pipelining || config.ratePerMinute > 0 || !messageLeft()) return false;
    if (config.perConnection > 0 && connectionMessages >= config.perConnection) return false;
    if (!messageProblem(CurrentMessage).empty()) return false;
    if (offer.maxSize > 0 && wireSize(CurrentMessage) > offer.maxSize) return false;
    const std::string text = envelope();
    if (out.size() + text.size() > kBatchBytes) return false; // batches keep their limit
    out += text;
    ++connectionMessages;
    transactionPipelined = true;
    expectEnvelope();
    nextInFlight = true;
    return true;
}

// The replies due for the envelope of CurrentMessage, written as envelope() made it.
void SmtpDialogue::Impl::expectEnvelope() {
    const std::size_t copies = mail(CurrentMessage).copyRecipients.size();
    copyReplies = 0;
    pending.expectPipelined(CurrentMessage, rxTotal, copies, copies == 0);
}

// The transcript of the envelope, as the commands would be logged one by one.
void SmtpDialogue::Impl::tellEnvelope() {
    std::vector<std::string> lines = {"MAIL FROM:<" + config.fromAddress + ">",
                                      "RCPT TO:<" + address(CurrentMessage) + ">"};
    for (const std::string& copy : mail(CurrentMessage).copyRecipients)
        lines.push_back("RCPT TO:<" + copy + ">");
    for (const std::string& line : lines) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::CommandSent;
        event.detail = line + kCrLf;
        tell(std::move(event));
        if (!isRunning) return;
    }
}

void SmtpDialogue::Impl::tellSending() {
    DeliveryEvent sending;
    sending.kind = DeliveryEvent::Kind::Sending;
    sending.number = static_cast<std::uint64_t>(SentCount) + 1;
    sending.total = static_cast<std::size_t>(recipientCount);
    tell(std::move(sending));
}

// The Cc and Bcc addresses go after the To address was accepted, one at a time; then DATA.
void SmtpDialogue::Impl::sendCopyRcptOrData() {
    const std::vector<std::string>& copies = mail(CurrentMessage).copyRecipients;
    if (copySent < copies.size()) {
        command("RCPT TO:<" + copies[copySent++] + ">", Cmd::CopyRcpt, true);
        return;
    }
    command("data", Cmd::Data, false);
}

// A refused copy address is told for its message, which still goes to its To address; it
// does not count as a failed run. A pipelined envelope's copy replies are taken only
// while its MAIL and the person's RCPT stand accepted, so after the last one its DATA
// may go.
void SmtpDialogue::Impl::onCopyRcpt(int code, const std::string& reply, std::size_t message) {
    if (!Positive(code)) {
        const std::vector<std::string>& copies = mail(message).copyRecipients;
        const std::size_t index = transactionPipelined ? copyReplies : copySent - 1;
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Problem;
        event.problem = DeliveryProblem::CopyRecipientRefused;
        event.message = message;
        event.address = address(message);
        event.reply = ParseServerReply(reply);
        event.detail = index < copies.size() ? copies[index] : std::string();
        tell(std::move(event));
        if (!isRunning) return;
    }
    ++copyReplies;
    if (!transactionPipelined)
        sendCopyRcptOrData();
    else if (copyReplies == mail(message).copyRecipients.size())
        command("data", Cmd::Data, false);
}

void SmtpDialogue::Impl::sendRcpt() {
    command("RCPT TO:<" + address(CurrentMessage) + ">", Cmd::Rcpt, true);
}

void SmtpDialogue::Impl::sendQuit() {
    state = SessionState::Closing;
    command("quit", Cmd::Quit, false);
}

// Starts CurrentMessage again from MAIL FROM after the RSET is answered.
void SmtpDialogue::Impl::sendRset() {
    resetLines();
    command("rset", Cmd::Rset, false);
}

void SmtpDialogue::Impl::retryOrGiveUp(const std::string& reply) {
    if (RetryCount < kRetries) {
        ++RetryCount;
        sendRset();
    } else {
        giveUpCurrent(reply);
    }
}

void SmtpDialogue::Impl::skipCurrent() {
    CurrentMessage = takeNext();
    RetryCount = 0;
    resetLines();
    if (messageLeft())
        sendRset();
    else
        sendQuit();
}

void SmtpDialogue::Impl::giveUpCurrent(const std::string& reply) {
    reportAbout(DeliveryProblem::MessageGivenUp, CurrentMessage, &reply);
    if (isRunning) outcome(CurrentMessage, MessageOutcome::Refused, &reply);
    if (isRunning) skipCurrent();
}

void SmtpDialogue::Impl::endDelivery() {
    if (!isRunning) return;
    isRunning = false;
    hasEnded = true;
    state = SessionState::Ended;
    timer.stop();
    pause.stop();
    silence.stop();
    pending.clearAwaited();
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::RunEnded;
    event.number = static_cast<std::uint64_t>(SentCount);
    event.total = messageCount;
    event.errors = ErrorsOccurred;
    tell(std::move(event));
    if (orphaned) return;
    endOwnMessages();
    if (!orphaned) listener.deliveryEnded();
}

std::size_t SmtpDialogue::Impl::takeNext() {
    const std::size_t m = queue ? queue->take() : messageCount;
    if (m < held.size()) held[m] = kTaken;
    return m;
}

// The messages without an outcome when this connection is over are not attempted;
// with connections sharing the queue, those whose end of data never went out are
// given back for the others, and those no connection took are not ours to tell.
void SmtpDialogue::Impl::endOwnMessages() {
    for (std::size_t i = 0; i < messageCount && !orphaned; ++i) {
        if (!sharedQueue) {
            outcome(i, MessageOutcome::NotAttempted);
        } else if (held[i] == kTaken && !outcomeGiven[i]) {
            outcomeGiven[i] = 1;
            queue->giveBack(i);
        } else if (held[i] == kEndSent) {
            outcome(i, MessageOutcome::NotAttempted);
        }
    }
}

void SmtpDialogue::Impl::releaseMessages() {
    timer.stop();
    pause.stop();
    if (state != SessionState::Ended) state = SessionState::Idle;
    waitingForRate = false;
    rateSlotReserved = false;
    pending.clear();
    nextInFlight = false;
    outcomeGiven.clear();
    endMarkSent.clear();
    resetLines();
    cursor = MessageLines::Cursor();
    messages.reset();
    messageCount = 0;
    checkedMessage = static_cast<std::size_t>(-1);
    CurrentMessage = 0;
}

// The owner is going away. From inside a listener call (a handler of ours on the
// stack) the connection is dropped at once and this is released when the handler
// has returned; otherwise at once.
void SmtpDialogue::Impl::orphan() {
    orphaned = true;
    isRunning = false;
    deferred.clear();
    if (depth == 0) {
        delete this;
        return;
    }
    try {
        if (sock.State() != wsClosed) sock.AbortConnection();
    } catch (...) {
    }
}

// Called with no handler of ours on the stack, but maybe from inside the socket's
// own dispatch: the release waits for the event loop.
void SmtpDialogue::Impl::releaseLater() {
    if (releasePosted) return;
    releasePosted = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { delete this; }, Qt::QueuedConnection);
}

SmtpDialogue::SmtpDialogue(DeliveryListener& listener) : d(std::make_unique<Impl>(listener)) {
    Impl* p = d.get();
    p->sock.setPort("25");
    p->sock.OnSessionConnected = [p](ClientSocket*, int error) { p->onSocketConnected(error); };
    p->sock.OnDataAvailable = [p](ClientSocket*, int) { p->onSocketData(); };
    p->sock.OnDataSent = [p](ClientSocket*, int) { p->onSocketDataSent(); };
    p->sock.OnSessionClosed = [p](ClientSocket*, int) { p->onSocketClosed(); };
    p->sock.OnTlsDone = [p](ClientSocket*, int error) {
        // The implicit handshake's outcome comes again as OnSessionConnected.
        if (!p->sock.ImplicitTls) p->guarded([p, error] { p->onTlsDone(error); });
    };
}

SmtpDialogue::~SmtpDialogue() {
    d.release()->orphan();
}

void SmtpDialogue::start(const OutgoingList& messages, int recipientCount,
                         const DeliveryConfig& config) {
    start(std::make_shared<ListedMessages>(messages), recipientCount, config);
}

void SmtpDialogue::start(std::shared_ptr<MessageSource> messages, int recipientCount,
                         const DeliveryConfig& config, std::shared_ptr<MessageQueue> queue) {
    Impl& r = *d;
    const bool wasClosed = r.sock.State() == wsClosed;
    if (r.isRunning || !wasClosed) throw ESocketException("Connect: Socket already in use");
    r.releaseMessages();
    const std::size_t count = messages ? messages->count() : 0;
    r.messages = messages ? std::move(messages) : std::make_shared<ListedMessages>(OutgoingList());
    r.messageCount = count;
    r.outcomeGiven.assign(count, 0);
    r.endMarkSent.assign(count, 0);
    r.held.assign(count, 0);
    r.sharedQueue = queue != nullptr;
    r.queue = queue ? std::move(queue) : std::make_shared<MessageQueue>(count);
    r.offer = EhloOffer();
    r.recipientCount =
        recipientCount > 0 ? recipientCount : std::max<int>(1, static_cast<int>(count));
    r.config = config;
    r.hasEnded = false;
    r.deferred.clear();
    // The listener's calls may run a nested event loop, in which the user may cancel
    // or the owner may go.
    const unsigned stops = r.stops;
    ++r.depth;
    r.gauge = -1;
    r.setGauge(0);
    r.ErrorsOccurred = false;
    r.tell(DeliveryEvent::Kind::Connecting);
    --r.depth;
    if (r.orphaned) {
        delete &r;
        return;
    }
    if (r.stops != stops) {
        r.releaseMessages();
        return;
    }
    r.ProgressBase = 0;
    try {
        r.isRunning = true;
        r.SentCount = 0;
        r.connected = false;
        r.startConnecting();
    } catch (...) {
        r.isRunning = false;
        r.state = SessionState::Idle;
        if (r.sock.State() != wsClosed) {
            try {
                r.sock.AbortConnection();
            } catch (...) {
            }
        }
        r.releaseMessages();
        throw;
    }
}

void SmtpDialogue::cancel() {
    ++d->stops;
    if (d->isRunning && !d->orphaned) {
        ++d->depth; // a nested event loop in the listener must not run the dialogue
        for (std::size_t i = 0; i < d->messageCount; ++i)
            if (!d->sharedQueue || d->held[i] != 0) d->outcome(i, MessageOutcome::NotAttempted);
        --d->depth;
    }
    d->isRunning = false;
    d->deferred.clear();
    try {
        if (d->sock.State() != wsClosed) d->sock.AbortConnection();
    } catch (...) {
    }
    d->releaseMessages();
}

void SmtpDialogue::closeConnection() {
    ++d->stops;
    d->isRunning = false;
    d->deferred.clear();
    d->sock.CloseConnection();
    d->releaseMessages();
}

bool SmtpDialogue::ended() const {
    return d->hasEnded;
}
bool SmtpDialogue::errorsOccurred() const {
    return d->ErrorsOccurred;
}
ClientSocket& SmtpDialogue::socket() {
    return d->sock;
}
bool SmtpDialogue::running() const {
    return d->isRunning;
}
SessionState SmtpDialogue::state() const {
    return d->state;
}
int SmtpDialogue::acceptedCount() const {
    return d->SentCount;
}

} // namespace tandrel
