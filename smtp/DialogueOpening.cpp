// SPDX-License-Identifier: GPL-3.0-or-later
// The opening of an SMTP session (see DialogueOpening.h for its steps): greeting, HELO or
// EHLO, STARTTLS and the login, and the pauses and reconnections between messages.
#include "smtp/DialogueImpl.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdlib>
#include <utility>

namespace tandrel {

// The longest command line a server must take (text and CR LF). A longer initial
// response goes after the server's empty challenge instead, where lines may be longer.
constexpr std::size_t kMaxCommandLine = 512;

void SmtpDialogue::Impl::onOpeningReply(Cmd cmd, int code, const std::string& reply) {
    switch (cmd) {
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
        onStartTls(code, reply);
        break;
    default:
        onLogin(code, reply);
        break;
    }
}

void SmtpDialogue::Impl::onGreeting(int code, const std::string& reply) {
    if (Succeeded(Cmd::Greeting, code)) {
        if (useEhlo())
            sendEhlo();
        else
            sendHelo();
        return;
    }
    const ReplyPolicy& policy = PolicyFor(Cmd::Greeting, code);
    if (policy.refusal == Refusal::SessionForNow) {
        connectionRefusedForNow(reply);
        return;
    }
    report(policy.problem, &reply);
    endDelivery();
}

void SmtpDialogue::Impl::onHelo(int code, const std::string& reply) {
    if (Succeeded(Cmd::Helo, code)) {
        opening.step = OpeningStep::Ready;
        startMessage();
        return;
    }
    ReplyPolicy policy = PolicyFor(Cmd::Helo, code);
    if (policy.refusal == Refusal::SessionForNow) {
        connectionRefusedForNow(reply);
        return;
    }
    if (policy.refusal == Refusal::MessageAgain) {
        if (messageLeft()) {
            opening.step = OpeningStep::Ready;
            retryOrGiveUp(reply);
            return;
        }
        policy = RuleOf(Cmd::Helo).permanent;
    }
    report(policy.problem, &reply); // a warning: the session goes on
    opening.step = OpeningStep::Ready;
    startMessage();
}

void SmtpDialogue::Impl::sendHelo() {
    opening.step = OpeningStep::Helo;
    command("helo " + HeloArgument(config.localComputerName, sock.handle()), Cmd::Helo);
}

bool SmtpDialogue::Impl::useEhlo() const {
    return config.security != Security::None || !config.user.empty() || config.extensions;
}

void SmtpDialogue::Impl::sendEhlo() {
    opening.step = OpeningStep::Ehlo;
    opening.offer = EhloOffer();
    command("EHLO " + HeloArgument(config.localComputerName, sock.handle()), Cmd::Ehlo);
}

void SmtpDialogue::Impl::onEhlo(int code, const std::string& reply) {
    if (!Succeeded(Cmd::Ehlo, code)) {
        const ReplyPolicy& policy = PolicyFor(Cmd::Ehlo, code);
        if (policy.refusal == Refusal::SessionForNow) {
            connectionRefusedForNow(reply);
            return;
        }
        // Without encryption or login still to come, the old greeting will do.
        if (config.security != Security::StartTls && config.user.empty()) {
            sendHelo();
            return;
        }
        report(policy.problem, &reply);
        endDelivery();
        return;
    }
    opening.offer = ParseEhloOffer(reply);
    if (config.security == Security::StartTls && !sock.tlsActive()) {
        if (!opening.offer.startTls) {
            fatal(DeliveryProblem::NoStartTls);
            return;
        }
        opening.step = OpeningStep::StartTls;
        command("STARTTLS", Cmd::StartTls);
        return;
    }
    if (!config.user.empty()) {
        sendLogin();
        return;
    }
    opening.step = OpeningStep::Ready;
    startMessage();
}

void SmtpDialogue::Impl::onStartTls(int code, const std::string& reply) {
    if (!Succeeded(Cmd::StartTls, code)) {
        endAtOnce(PolicyFor(Cmd::StartTls, code).problem, &reply);
        return;
    }
    // Whatever came after the reply was sent in plain text and is not taken.
    rx.clear();
    opening.offer = EhloOffer();
    opening.step = OpeningStep::Handshake;
    timer.start(timeoutMs(Cmd::Greeting)); // for the handshake
    outbox.clear();                        // nothing goes in plain text after STARTTLS
    sock.startTls();
}

void SmtpDialogue::Impl::onTlsDone(int error) {
    if (error != 0) {
        fatal(DeliveryProblem::TlsFailed,
              sock.tlsError().empty() ? SocketErrorText(error) : sock.tlsError());
        return;
    }
    tell(DeliveryEvent::Kind::Encrypted);
    sendEhlo();
}

// AUTH PLAIN, or AUTH LOGIN when only that is offered; only ever encrypted.
void SmtpDialogue::Impl::sendLogin() {
    if (!sock.tlsActive()) {
        fatal(DeliveryProblem::NoEncryptedLogin);
        return;
    }
    if (config.bearerToken) {
        sendBearerLogin();
        return;
    }
    if (opening.offer.authPlain) {
        opening.step = OpeningStep::LoginSent;
        command("AUTH PLAIN " + PlainLoginToken(config.user, config.password), Cmd::Auth,
                "AUTH PLAIN ****");
    } else if (opening.offer.authLogin) {
        opening.step = OpeningStep::LoginUser;
        command("AUTH LOGIN", Cmd::Auth);
    } else {
        fatal(DeliveryProblem::NoLoginMethod);
    }
}

// Every reply of a login, by the step it answers.
void SmtpDialogue::Impl::onLogin(int code, const std::string& reply) {
    const OpeningStep step = opening.step;
    if (code == 334 && step == OpeningStep::LoginUser) {
        opening.step = OpeningStep::LoginPassword;
        command(Base64Encode(config.user), Cmd::Auth, "****");
    } else if (code == 334 && step == OpeningStep::LoginPassword) {
        opening.step = OpeningStep::LoginSent;
        command(Base64Encode(config.password), Cmd::Auth, "****");
    } else if (code == 334 && step == OpeningStep::BearerPrompt) {
        opening.step = OpeningStep::BearerToken;
        command(opening.bearer.initialResponse, Cmd::Auth, "****");
    } else if (code == 334 && step == OpeningStep::BearerToken) {
        // The refusal comes as a challenge with the server's error; the answer makes the
        // server end the exchange with its final refusal.
        opening.step = OpeningStep::BearerErrorAnswered;
        command(opening.bearer.errorAnswer, Cmd::Auth);
    } else if (Succeeded(Cmd::Auth, code) &&
               (step == OpeningStep::LoginSent || step == OpeningStep::BearerToken)) {
        opening.step = OpeningStep::Ready;
        startMessage();
    } else if (step == OpeningStep::BearerPrompt || step == OpeningStep::BearerToken ||
               step == OpeningStep::BearerErrorAnswered) {
        tokenRefused(reply);
    } else {
        loginRefused(reply);
    }
}

// AUTH XOAUTH2 where offered, else OAUTHBEARER; the token never reaches the run log.
void SmtpDialogue::Impl::sendBearerLogin() {
    const int port = static_cast<int>(std::strtol(config.port.c_str(), nullptr, 10));
    opening.bearer =
        ChooseBearerLogin(opening.offer, config.user, config.smtp, port, config.password);
    const BearerLogin& bearer = opening.bearer;
    if (bearer.mechanism.empty()) {
        if (!opening.offer.authXOAuth2 && !opening.offer.authOAuthBearer)
            fatal(DeliveryProblem::NoTokenLogin);
        else
            fatal(DeliveryProblem::InternalFailure,
                  "Error, the login name or the token holds a control character; not sent");
        return;
    }
    const std::string head = "AUTH " + bearer.mechanism;
    if (head.size() + 1 + bearer.initialResponse.size() + 2 > kMaxCommandLine) {
        opening.step = OpeningStep::BearerPrompt;
        command(head, Cmd::Auth);
    } else {
        opening.step = OpeningStep::BearerToken;
        command(head + " " + bearer.initialResponse, Cmd::Auth, head + " ****");
    }
}

// A refused token may only have run out: the caller is asked once per run for a fresh
// one, and the login is tried again on this connection when it comes. The question is
// asked from the event loop, after this step (the caller may take its time, even run
// an event loop of its own); its answer is taken only while this run still waits for it.
void SmtpDialogue::Impl::tokenRefused(const std::string& reply) {
    if (!config.renewToken) {
        loginRefused(reply);
        return;
    }
    auto renew = std::exchange(config.renewToken, nullptr);
    opening.step = OpeningStep::TokenRenewal;
    opening.refusedToken = reply;
    const unsigned question = ++opening.tokenQuestion;
    armTimer();
    const std::weak_ptr<char> living = alive;
    std::function<void(std::string)> answer = [this, living, question](std::string token) {
        if (living.expired()) return;
        enter([this, question, &token] { tokenAnswered(question, token); });
    };
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [renew = std::move(renew), answer = std::move(answer)] { renew(answer); },
        Qt::QueuedConnection);
}

void SmtpDialogue::Impl::tokenAnswered(unsigned question, const std::string& token) {
    if (!running() || opening.step != OpeningStep::TokenRenewal ||
        question != opening.tokenQuestion)
        return; // cancelled, ended or timed out meanwhile
    if (!token.empty() && token != config.password) {
        config.password = token;
        sendBearerLogin();
        return;
    }
    loginRefused(opening.refusedToken);
}

void SmtpDialogue::Impl::loginRefused(const std::string& reply) {
    endAtOnce(DeliveryProblem::LoginRefused, &reply);
}

// Before the next MAIL FROM: a new connection when this one has carried its share, or
// a wait so that messages go out no faster than the configured rate.
bool SmtpDialogue::Impl::pausedBeforeMessage() {
    if (config.perConnection > 0 && connectionMessages >= config.perConnection) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Reconnecting;
        event.number = static_cast<std::uint64_t>(config.perConnection);
        tell(std::move(event));
        state = SessionState::Reconnecting;
        command("quit", Cmd::Quit);
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (ratePause == RatePause::SlotReserved) {
        // A timer may end a little early or late: the spacing counts from the real
        // start, unless another connection has already reserved the slot after ours.
        ratePause = RatePause::None;
        if (queue->lastStart == reservedSlot) queue->lastStart = now;
        ++connectionMessages;
        return false;
    }
    if (config.ratePerMinute > 0 && queue->rateStarted) {
        const auto spacing = std::chrono::milliseconds(60000 / config.ratePerMinute);
        const auto due = queue->lastStart + spacing;
        if (now < due) {
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
            // The slot is ours: another connection waits for the one after it.
            queue->lastStart = due;
            reservedSlot = due;
            ratePause = RatePause::Waiting;
            pause.start(static_cast<int>(wait));
            DeliveryEvent event;
            event.kind = DeliveryEvent::Kind::RateWait;
            event.number = static_cast<std::uint64_t>((wait + 999) / 1000);
            tell(std::move(event));
            return true;
        }
    }
    queue->lastStart = now;
    queue->rateStarted = true;
    ++connectionMessages;
    return false;
}

void SmtpDialogue::Impl::pauseOver() {
    if (state == SessionState::Reconnecting) {
        reconnect();
    } else if (ratePause == RatePause::Waiting) {
        ratePause = RatePause::SlotReserved;
        startMessage();
    }
}

// The old connection closes first; its close event brings us back here.
void SmtpDialogue::Impl::reconnect() {
    if (sock.state() != SocketState::Closed) {
        closeInOrder();
        pause.start(0);
        return;
    }
    startConnecting();
}

} // namespace tandrel
