// SPDX-License-Identifier: GPL-3.0-or-later
// SmtpDialogue: the session over one connection, its replies, time-outs and end, and
// what the listener is told.
#include "smtp/DialogueImpl.h"

#include <QMetaObject>
#include <algorithm>
#include <stdexcept>

namespace tandrel {

SmtpDialogue::Impl::Impl(DeliveryListener& l) : listener(l) {
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        if (running()) enter([this] { timedOut(); });
    });
    pause.setSingleShot(true);
    // A coarse timer may end a twentieth early: messages would go faster than the rate.
    pause.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pause, &QTimer::timeout, [this] {
        if (running()) enter([this] { pauseOver(); });
    });
    silence.setSingleShot(true);
    QObject::connect(&silence, &QTimer::timeout, [this] {
        if (running()) enter([this] { silenceLasts(); });
    });
}

// --- what the listener is told ---

// Each call to the listener, in order; one made during a listener call (a nested event
// loop ran a step of ours) waits for that call to return. A call that destroyed the
// dialogue ends the delivery: nothing of it is touched afterwards.
void SmtpDialogue::Impl::deliverNotices() {
    if (listenerCalled) return;
    const std::weak_ptr<char> living = alive;
    DeliveryListener& l = listener;
    while (!notices.empty()) {
        ListenerNotice n;
        if (ListenerNotice& front = notices.front(); front.count > 1) {
            n = front; // one message of the range at a time: the listener may stop us
            n.count = 1;
            ++front.message;
            --front.count;
        } else {
            n = std::move(front);
            notices.pop_front();
        }
        listenerCalled = true;
        std::string failure;
        try {
            switch (n.kind) {
            case ListenerNotice::Kind::Event:
                l.deliveryEvent(n.event);
                break;
            case ListenerNotice::Kind::Progress:
                l.progress(n.percent);
                break;
            case ListenerNotice::Kind::Outcome:
                l.messageOutcome(n.message, n.outcome, n.reply ? &*n.reply : nullptr);
                break;
            case ListenerNotice::Kind::Ended:
                l.deliveryEnded();
                break;
            }
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "Error, unknown failure";
        }
        if (living.expired()) return;
        listenerCalled = false;
        if (!failure.empty()) { // as if one of our steps had failed; its notices follow
            ++stepsRunning;
            handlerFailed(failure);
            --stepsRunning;
        }
    }
    if (!outbox.empty()) enter([this] { sendOutbox(); });
}

void SmtpDialogue::Impl::send(std::string_view bytes) {
    outbox.append(bytes);
}

// Replies to what goes now may come from here on; a connection that is gone takes nothing.
void SmtpDialogue::Impl::sendOutbox() {
    if (outbox.empty()) return;
    const std::string bytes = std::exchange(outbox, std::string());
    pending.sent(rxTotal);
    if (sock.state() == SocketState::Connected) sock.sendText(bytes);
}

// What this step wrote goes first, as it would have at once; then the connection is
// dropped (nothing more is taken from it) or closed in order.
void SmtpDialogue::Impl::dropConnection() {
    sendOutbox();
    if (sock.state() != SocketState::Closed) sock.abortConnection();
}

void SmtpDialogue::Impl::closeInOrder() {
    sendOutbox();
    sock.closeConnection();
}

// The calls not yet made are dropped (the run was cancelled or closed); the messages
// whose outcome was among them have none told yet. True when any was dropped.
bool SmtpDialogue::Impl::dropNotices() {
    const bool any = !notices.empty();
    for (const ListenerNotice& n : notices)
        if (n.kind == ListenerNotice::Kind::Outcome)
            for (std::size_t m = n.message; m < n.message + n.count && m < stages.size(); ++m)
                stages[m] = n.stageBefore;
    notices.clear();
    outbox.clear();
    return any;
}

void SmtpDialogue::Impl::notify(ListenerNotice notice) {
    notices.push_back(std::move(notice));
}

void SmtpDialogue::Impl::tell(DeliveryEvent event) {
    ListenerNotice n;
    n.event = std::move(event);
    notify(std::move(n));
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
    ListenerNotice n;
    n.kind = ListenerNotice::Kind::Progress;
    n.percent = v;
    notify(std::move(n));
}

// A problem of the session, with the reply that showed it, if one did.
void SmtpDialogue::Impl::report(DeliveryProblem problem, const std::string* reply,
                                const std::string& detail) {
    ++problemsReported;
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
    ++problemsReported;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::Problem;
    event.problem = problem;
    event.message = message;
    event.address = address(message);
    if (reply) event.reply = ParseServerReply(*reply);
    event.detail = detail;
    if (problem == DeliveryProblem::MessageTooLarge) event.number = opening.offer.maxSize;
    tell(std::move(event));
}

// Tells the listener once what became of a message; its lines are not needed again.
void SmtpDialogue::Impl::outcome(std::size_t message, MessageOutcome result,
                                 const std::string* reply) {
    if (message >= stages.size() || stages[message] == MessageStage::Decided) return;
    ListenerNotice n;
    n.kind = ListenerNotice::Kind::Outcome;
    n.stageBefore = std::exchange(stages[message], MessageStage::Decided);
    // Without an answer to its end of data, nobody can tell whether it was stored.
    if (result == MessageOutcome::NotAttempted && n.stageBefore == MessageStage::EndMarkSent)
        result = MessageOutcome::MaybeDelivered;
    if (result != MessageOutcome::NotAttempted) messages->release(message);
    n.message = message;
    n.outcome = result;
    if (reply) {
        n.reply = ParseServerReply(*reply);
    } else if (!notices.empty()) {
        ListenerNotice& last = notices.back();
        if (last.kind == ListenerNotice::Kind::Outcome && !last.reply &&
            last.outcome == result && last.stageBefore == n.stageBefore &&
            last.message + last.count == message) {
            ++last.count;
            return;
        }
    }
    notify(std::move(n));
}

// Something failed inside our own handling (for example a send on a connection that has
// gone): report it and end the run instead of waiting forever.
void SmtpDialogue::Impl::handlerFailed(const std::string& text) {
    if (!running()) return;
    try {
        if (sock.state() == SocketState::Closed) { // the connection went under our feet
            connectionLost();
            return;
        }
        if (!allDealtWith()) report(DeliveryProblem::InternalFailure, nullptr, text);
        endDelivery();
    } catch (...) {
        state = SessionState::Idle;
    }
}

// --- the session ---

// Every message has had its outcome; at most the QUIT is unanswered.
bool SmtpDialogue::Impl::allDealtWith() const {
    return !messageLeft() && !sendingData() && pending.onlyQuitLeft();
}

int SmtpDialogue::Impl::timeoutMs(Cmd cmd) const {
    if (config.timeoutSeconds > 0) return config.timeoutSeconds * 1000;
    return RuleOf(cmd).timeoutMinutes * 60 * 1000;
}

int SmtpDialogue::Impl::dataBlockTimeoutMs() const {
    return config.timeoutSeconds > 0 ? config.timeoutSeconds * 1000 : kDataBlockMinutes * 60 * 1000;
}

// Times what is awaited now: the front reply, or the data block in flight. The wait for
// a fresh token is the sign-in's, with its own time-out.
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
void SmtpDialogue::Impl::command(const std::string& line, Cmd cmd, const std::string& logText) {
    if (HasLineBreak(line))
        throw std::runtime_error("Error, a command would hold a line break; not sent");
    if (pending.pipelinedDue()) {
        pending.hold({line, cmd, logText});
        return;
    }
    const std::string text = line + kCrLf;
    if (RuleOf(cmd).transcript == Transcript::Recorded) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::CommandSent;
        event.detail = logText.empty() ? text : logText + kCrLf;
        tell(std::move(event));
    }
    pending.expect(cmd, currentMessage, PendingReplies::kUnsent);
    armTimer();
    send(text);
}

void SmtpDialogue::Impl::sendHeld() {
    for (const PendingReplies::Held& h : pending.releaseHeld()) {
        if (!running()) return;
        command(h.line, h.command, h.logText);
    }
}

void SmtpDialogue::Impl::startConnecting() {
    state = SessionState::Connecting;
    sock.setAddress(config.smtp);
    sock.setPort(config.port);
    sock.implicitTls = config.security == Security::Tls;
    timer.start(timeoutMs(Cmd::Greeting));
    connectStarted = std::chrono::steady_clock::now();
    silence.start(kSilenceNoticeSeconds * 1000);
    sock.connectToHost();
}

void SmtpDialogue::Impl::onConnected(int error) {
    if (error == socket_error::kTls) {
        if (connectionsMade == 0) connectionNotMade(true);
        fatal(DeliveryProblem::TlsFailed, sock.tlsError());
        return;
    }
    if (error != 0) {
        // The TCP connection could not be made: say so and end the run.
        if (connectionsMade == 0) connectionNotMade(false);
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Problem;
        event.problem = DeliveryProblem::CouldNotConnect;
        event.reply.text = SocketErrorText(error);
        event.socketError = error;
        ++problemsReported;
        tell(std::move(event));
        endDelivery();
        return;
    }
    opening.restart();
    pending.clear();
    connectionMessages = 0;
    transaction.step = TransactionStep::Idle;
    state = SessionState::Opening;
    rx.clear();
    rxDropped = 0;
    if (connectionsMade++ > 0) { // a new connection after the relay's limit: the run goes on
        pending.expect(Cmd::Greeting, currentMessage, rxTotal);
        armTimer();
        tell(DeliveryEvent::Kind::Reconnected);
        return;
    }
    acceptedCount = 0;
    currentMessage = takeNext();
    transaction.retries = 0;
    resetLines();
    pending.expect(Cmd::Greeting, 0, rxTotal);
    armTimer();
    tell(DeliveryEvent::Kind::Connected);
}

// The run's first connection never came; the reason is reported next.
void SmtpDialogue::Impl::connectionNotMade(bool handshake) {
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::ConnectionNotMade;
    event.handshake = handshake;
    tell(std::move(event));
}

void SmtpDialogue::Impl::onSocketData() {
    if (!running()) {
        // The run is over but the connection stays until the caller closes it:
        // whatever still comes is dropped rather than offered again and again.
        char buf[4096];
        sock.receive(buf, sizeof buf);
        return;
    }
    enter([this] {
        if (receive())
            takeReplies();
        else
            connectionLost();
    });
}

// A close that comes out of a call of ours (a send that failed, a close we asked for) is
// taken as an event of its own from the event loop, unless a new connection has begun
// meanwhile (after the relay's limit) or the run is over.
void SmtpDialogue::Impl::onSocketClosed() {
    if (!running()) return;
    if (stepsRunning > 0) {
        const std::weak_ptr<char> living = alive;
        QMetaObject::invokeMethod(
            &sock,
            [this, living] {
                if (!living.expired() && running() && sock.state() == SocketState::Closed)
                    enter([this] { connectionLost(); });
            },
            Qt::QueuedConnection);
        return;
    }
    enter([this] { connectionLost(); });
}

// One read into the received bytes; false when the server has closed the connection.
bool SmtpDialogue::Impl::receive() {
    char buf[4096];
    const int n = sock.receive(buf, sizeof buf);
    if (n == 0) return false;
    if (n < 0) return true; // nothing waiting, or a failure the close event reports
    rxTotal += static_cast<std::uint64_t>(n);
    if (rx.size() + static_cast<std::size_t>(n) > kMaxHeldBytes)
        rxDropped += static_cast<std::uint64_t>(n);
    else
        rx.append(buf, static_cast<std::size_t>(n));
    return true;
}

// Handles every complete reply received, in order.
void SmtpDialogue::Impl::takeReplies() {
    while (running()) {
        const std::size_t len = CompleteReplyLength(rx);
        if (len > kMaxReplyBytes || (len == 0 && (rx.size() > kMaxReplyBytes || rxDropped > 0))) {
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
    rxDropped = 0;
    tell(std::move(event));
    report(DeliveryProblem::ReplyTooLong);
    dropConnection(); // nothing more is taken from it
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
    if (pending.empty() ||
        (pending.front().command != Cmd::Quit && rxTotal - rx.size() <= pending.front().after)) {
        endAtOnce(DeliveryProblem::UnexpectedReply, &reply);
        return;
    }
    bool pipelined = false;
    const PendingReplies::Awaited awaited = pending.take(pipelined);
    armTimer();
    if (awaited.command == Cmd::Discarded || (pipelined && pending.pipelineFailed())) {
        // The rest of a failed transaction. DATA goes ahead only for a message to the
        // person's address alone (see envelope()), so a DATA accepted all the same has
        // no recipient: the empty message ended at once reaches nobody.
        if (awaited.command == Cmd::Data && code / 100 == 3) {
            pending.expect(Cmd::Discarded, awaited.message, PendingReplies::kUnsent);
            armTimer();
            send(std::string(".") + kCrLf);
        }
        sendHeld();
        return;
    }
    switch (awaited.command) {
    case Cmd::Greeting:
    case Cmd::Helo:
    case Cmd::Ehlo:
    case Cmd::StartTls:
    case Cmd::Auth:
        onOpeningReply(awaited.command, code, reply);
        break;
    case Cmd::Quit:
        if (state == SessionState::Reconnecting)
            closeInOrder();
        else
            endDelivery();
        break;
    case Cmd::Discarded:
        break;
    default:
        onTransactionReply(awaited, code, reply);
        break;
    }
    if (pipelined && running()) sendHeld();
}

void SmtpDialogue::Impl::connectionLost() {
    if (state == SessionState::Reconnecting) {
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
        if (sock.tlsError().empty())
            report(DeliveryProblem::ConnectionClosed);
        else
            report(DeliveryProblem::TlsFailed, nullptr, sock.tlsError());
    }
    endDelivery();
}

void SmtpDialogue::Impl::timedOut() {
    if (connectionsMade == 0) connectionNotMade(false); // reported like a refused connection
    if (!allDealtWith()) report(DeliveryProblem::NoAnswerInTime);
    dropConnection();
    endDelivery();
}

// Told once per connection, and only of a server that took the connection and sent not
// a byte since: no greeting, or no answer to the handshake of encryption from the start.
// A connection still being made is looked at again a second later.
void SmtpDialogue::Impl::silenceLasts() {
    const bool tcpMade = sock.state() == SocketState::Connected;
    if (state == SessionState::Connecting && !tcpMade) {
        silence.start(1000);
        return;
    }
    const bool handshake = state == SessionState::Connecting && sock.implicitTls;
    const bool noGreeting = state == SessionState::Opening && !pending.empty() &&
                            pending.front().command == Cmd::Greeting &&
                            rxTotal == pending.front().after && rx.empty();
    if (!handshake && !noGreeting) return;
    const auto waited = std::chrono::steady_clock::now() - connectStarted;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::ServerSilent;
    event.detail = config.smtp;
    event.port = config.port;
    event.number = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(waited).count());
    event.handshake = handshake;
    tell(std::move(event));
}

// An error that ends the run before any message went out.
void SmtpDialogue::Impl::fatal(DeliveryProblem problem, const std::string& detail) {
    report(problem, nullptr, detail);
    dropConnection();
    endDelivery();
}

// A reply that ends the run: nothing more is taken from this connection.
void SmtpDialogue::Impl::endAtOnce(DeliveryProblem problem, const std::string* reply) {
    report(problem, reply);
    dropConnection();
    endDelivery();
}

void SmtpDialogue::Impl::connectionRefusedForNow(const std::string& reply) {
    report(DeliveryProblem::ConnectionRefusedForNow, &reply);
    endDelivery();
}

void SmtpDialogue::Impl::sendQuit() {
    state = SessionState::Closing;
    transaction.step = TransactionStep::Idle;
    command("quit", Cmd::Quit);
}

void SmtpDialogue::Impl::endDelivery() {
    if (!running()) return;
    state = SessionState::Ended;
    timer.stop();
    pause.stop();
    silence.stop();
    pending.clearAwaited();
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::RunEnded;
    event.number = static_cast<std::uint64_t>(acceptedCount);
    event.total = messageCount;
    event.errors = problemsReported > 0;
    tell(std::move(event));
    endOwnMessages();
    ListenerNotice ended;
    ended.kind = ListenerNotice::Kind::Ended;
    notify(std::move(ended));
}

std::size_t SmtpDialogue::Impl::takeNext() {
    const std::size_t m = queue ? queue->take() : messageCount;
    if (m < stages.size()) stages[m] = MessageStage::Taken;
    return m;
}

// The messages without an outcome when this connection is over are not attempted;
// with connections sharing the queue, those whose end of data never went out are
// given back for the others, and those no connection took are not ours to tell.
void SmtpDialogue::Impl::endOwnMessages() {
    for (std::size_t i = 0; i < messageCount; ++i) {
        if (queueUse == QueueUse::Own || stages[i] == MessageStage::EndMarkSent) {
            outcome(i, MessageOutcome::NotAttempted);
        } else if (stages[i] == MessageStage::Taken) {
            stages[i] = MessageStage::NotTaken;
            queue->giveBack(i);
        }
    }
}

void SmtpDialogue::Impl::releaseMessages() {
    timer.stop();
    pause.stop();
    if (state != SessionState::Ended) state = SessionState::Idle;
    ratePause = RatePause::None;
    pending.clear();
    transaction = Transaction();
    stages.clear();
    resetLines();
    cursor = MessageLines::Cursor();
    messages.reset();
    messageCount = 0;
    checkedMessage = static_cast<std::size_t>(-1);
    currentMessage = 0;
}

SmtpDialogue::SmtpDialogue(DeliveryListener& listener) : d(std::make_unique<Impl>(listener)) {
    Impl* p = d.get();
    p->sock.setPort("25");
    p->sock.onSessionConnected = [p](ClientSocket*, int error) {
        if (p->running()) p->enter([p, error] { p->onConnected(error); });
    };
    p->sock.onDataAvailable = [p](ClientSocket*, int) { p->onSocketData(); };
    p->sock.onDataSent = [p](ClientSocket*, int) {
        if (p->sendingData()) p->enter([p] { p->sendLines(); });
    };
    p->sock.onSessionClosed = [p](ClientSocket*, int) { p->onSocketClosed(); };
    p->sock.onTlsDone = [p](ClientSocket*, int error) {
        // The implicit handshake's outcome comes again as onSessionConnected.
        if (!p->sock.implicitTls && p->running()) p->enter([p, error] { p->onTlsDone(error); });
    };
}

// The socket goes with the rest, closing the connection; nothing is told any more.
SmtpDialogue::~SmtpDialogue() = default;

void SmtpDialogue::start(const OutgoingList& messages, int recipientCount,
                         const DeliveryConfig& config) {
    start(std::make_shared<ListedMessages>(messages), recipientCount, config);
}

void SmtpDialogue::start(std::shared_ptr<MessageSource> messages, int recipientCount,
                         const DeliveryConfig& config, std::shared_ptr<MessageQueue> queue) {
    Impl& r = *d;
    if (r.running() || r.sock.state() != SocketState::Closed)
        throw ESocketException("Connect: Socket already in use");
    r.releaseMessages();
    r.state = SessionState::Idle;
    const std::size_t count = messages ? messages->count() : 0;
    r.messages = messages ? std::move(messages) : std::make_shared<ListedMessages>(OutgoingList());
    r.messageCount = count;
    r.stages.assign(count, MessageStage::NotTaken);
    r.queueUse = queue ? Impl::QueueUse::Shared : Impl::QueueUse::Own;
    r.queue = queue ? std::move(queue) : std::make_shared<MessageQueue>(count);
    r.opening.restart();
    r.recipientCount =
        recipientCount > 0 ? recipientCount : std::max<int>(1, static_cast<int>(count));
    r.config = config;
    r.gauge = -1;
    r.setGauge(0);
    r.problemsReported = 0;
    r.tell(DeliveryEvent::Kind::Connecting);
    // The listener may cancel, or its owner may go, while it hears of the start: no
    // connection is made then.
    const std::weak_ptr<char> living = r.alive;
    r.deliverNotices();
    if (living.expired() || !r.messages) return;
    r.progressBase = 0;
    r.acceptedCount = 0;
    r.connectionsMade = 0;
    try {
        r.startConnecting();
    } catch (...) {
        r.state = SessionState::Idle;
        if (r.sock.state() != SocketState::Closed) {
            try {
                r.sock.abortConnection();
            } catch (...) {
            }
        }
        r.releaseMessages();
        throw;
    }
}

void SmtpDialogue::cancel() {
    Impl& r = *d;
    // Whatever the listener was not told yet is dropped with the run; the messages get
    // their outcome here instead.
    const bool untold = r.dropNotices();
    if (r.running() || untold) {
        for (std::size_t i = 0; i < r.messageCount; ++i)
            if (r.queueUse == Impl::QueueUse::Own || r.stages[i] != MessageStage::NotTaken)
                r.outcome(i, MessageOutcome::NotAttempted);
        if (r.state == SessionState::Ended && untold) r.state = SessionState::Idle;
    }
    if (r.state != SessionState::Ended) r.state = SessionState::Idle;
    try {
        if (r.sock.state() != SocketState::Closed) r.sock.abortConnection();
    } catch (...) {
    }
    r.releaseMessages();
    r.deliverNotices();
}

void SmtpDialogue::closeConnection() {
    Impl& r = *d;
    r.dropNotices();
    if (r.state != SessionState::Ended) r.state = SessionState::Idle;
    r.sock.closeConnection();
    r.releaseMessages();
}

bool SmtpDialogue::ended() const {
    return d->state == SessionState::Ended;
}
bool SmtpDialogue::errorsOccurred() const {
    return d->problemsReported > 0;
}
ClientSocket& SmtpDialogue::socket() {
    return d->sock;
}
bool SmtpDialogue::running() const {
    return d->running();
}
SessionState SmtpDialogue::state() const {
    return d->state;
}
int SmtpDialogue::acceptedCount() const {
    return d->acceptedCount;
}

} // namespace tandrel
