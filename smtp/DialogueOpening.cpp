// SPDX-License-Identifier: GPL-3.0-or-later
// The opening of an SMTP session: greeting, HELO or EHLO, STARTTLS and the login, and
// the reconnection after a number of messages.
#include "smtp/DialogueImpl.h"

#include <cstdlib>
#include <utility>

namespace tandrel {

void SmtpDialogue::Impl::onGreeting(int code, const std::string& reply) {
    if (Positive(code)) {
        if (useEhlo())
            sendEhlo();
        else
            sendHelo();
    } else if (Temporary(code)) {
        connectionRefusedForNow(reply);
    } else {
        report(DeliveryProblem::CouldNotConnect, &reply);
        endDelivery();
    }
}

void SmtpDialogue::Impl::onHelo(int code, const std::string& reply) {
    if (Positive(code)) {
        startMessage();
    } else if (code == 421) {
        connectionRefusedForNow(reply);
    } else if (CommandError(code) && messageLeft()) {
        retryOrGiveUp(reply);
    } else {
        report(code / 100 == 5 ? DeliveryProblem::HeloNotRecognised
                               : DeliveryProblem::HeloUnknownResponse,
               &reply);
        if (isRunning) startMessage();
    }
}

void SmtpDialogue::Impl::sendHelo() {
    command("helo " + HeloArgument(config.localComputerName, sock.Handle()), Cmd::Helo, true);
}
bool SmtpDialogue::Impl::useEhlo() const {
    return config.security != Security::None || !config.user.empty() || config.extensions;
}

void SmtpDialogue::Impl::sendEhlo() {
    extended = false;
    offer = EhloOffer();
    command("EHLO " + HeloArgument(config.localComputerName, sock.Handle()), Cmd::Ehlo, true);
}

// An error that ends the run before any message went out.
void SmtpDialogue::Impl::fatal(DeliveryProblem problem, const std::string& detail) {
    report(problem, nullptr, detail);
    if (!isRunning) return;
    if (sock.State() != wsClosed) sock.AbortConnection();
    endDelivery();
}

void SmtpDialogue::Impl::onEhlo(int code, const std::string& reply) {
    if (code == 421) {
        connectionRefusedForNow(reply);
        return;
    }
    if (!Positive(code)) {
        // Without encryption or login still to come, the old greeting will do.
        if (config.security != Security::StartTls && config.user.empty()) {
            sendHelo();
            return;
        }
        report(DeliveryProblem::EhloRefused, &reply);
        if (isRunning) endDelivery();
        return;
    }
    extended = true;
    offer = ParseEhloOffer(reply);
    if (config.security == Security::StartTls && !sock.TlsActive()) {
        if (!offer.startTls) {
            fatal(DeliveryProblem::NoStartTls);
            return;
        }
        command("STARTTLS", Cmd::StartTls, true);
        return;
    }
    if (!config.user.empty() && !loggedIn) {
        sendLogin();
        return;
    }
    sessionReady();
}

void SmtpDialogue::Impl::onStartTlsReply(int code, const std::string& reply) {
    if (code != 220) {
        report(DeliveryProblem::StartTlsRefused, &reply);
        if (!isRunning) return;
        sock.AbortConnection();
        endDelivery();
        return;
    }
    // Whatever came after the reply was sent in plain text and is not taken.
    rx.clear();
    offer = EhloOffer();
    timer.start(timeoutMs(Cmd::Greeting)); // for the handshake
    sock.StartTls();
}

void SmtpDialogue::Impl::onTlsDone(int error) {
    if (error != 0) {
        fatal(DeliveryProblem::TlsFailed,
              sock.TlsError().empty() ? ErrorDesc(error) : sock.TlsError());
        return;
    }
    tell(DeliveryEvent::Kind::Encrypted);
    if (!isRunning) return;
    sendEhlo();
}

// AUTH PLAIN, or AUTH LOGIN when only that is offered; only ever encrypted.
void SmtpDialogue::Impl::sendLogin() {
    if (!sock.TlsActive()) {
        fatal(DeliveryProblem::NoEncryptedLogin);
        return;
    }
    if (config.bearerToken) {
        sendBearerLogin();
        return;
    }
    if (offer.authPlain) {
        command("AUTH PLAIN " + PlainLoginToken(config.user, config.password), Cmd::Auth, true,
                "AUTH PLAIN ****");
    } else if (offer.authLogin) {
        command("AUTH LOGIN", Cmd::AuthUser, true);
    } else {
        fatal(DeliveryProblem::NoLoginMethod);
    }
}

void SmtpDialogue::Impl::onAuth(Cmd cmd, int code, const std::string& reply) {
    if (bearerStep != BearerStep::None) {
        onBearerAuth(code, reply);
        return;
    }
    if (code == 334 && cmd == Cmd::AuthUser) {
        command(Base64Encode(config.user), Cmd::AuthPassword, true, "****");
        return;
    }
    if (code == 334 && cmd == Cmd::AuthPassword) {
        command(Base64Encode(config.password), Cmd::Auth, true, "****");
        return;
    }
    if (cmd == Cmd::Auth && Positive(code)) {
        loggedIn = true;
        sessionReady();
        return;
    }
    loginRefused(reply);
}

// The longest command line a server must take (text and CR LF). A longer initial
// response goes after the server's empty challenge instead, where lines may be longer.
constexpr std::size_t kMaxCommandLine = 512;

// AUTH XOAUTH2 where offered, else OAUTHBEARER; the token never reaches the run log.
void SmtpDialogue::Impl::sendBearerLogin() {
    const int port = static_cast<int>(std::strtol(config.port.c_str(), nullptr, 10));
    bearer = ChooseBearerLogin(offer, config.user, config.smtp, port, config.password);
    if (bearer.mechanism.empty()) {
        if (!offer.authXOAuth2 && !offer.authOAuthBearer)
            fatal(DeliveryProblem::NoTokenLogin);
        else
            fatal(DeliveryProblem::InternalFailure,
                  "Error, the login name or the token holds a control character; not sent");
        return;
    }
    const std::string head = "AUTH " + bearer.mechanism;
    if (head.size() + 1 + bearer.initialResponse.size() + 2 > kMaxCommandLine) {
        bearerStep = BearerStep::Prompt;
        command(head, Cmd::Auth, true);
    } else {
        bearerStep = BearerStep::Token;
        command(head + " " + bearer.initialResponse, Cmd::Auth, true, head + " ****");
    }
}

void SmtpDialogue::Impl::onBearerAuth(int code, const std::string& reply) {
    const BearerStep step = std::exchange(bearerStep, BearerStep::None);
    if (step == BearerStep::Prompt && code == 334) {
        bearerStep = BearerStep::Token;
        command(bearer.initialResponse, Cmd::Auth, true, "****");
        return;
    }
    if (step == BearerStep::Token && Positive(code)) {
        loggedIn = true;
        sessionReady();
        return;
    }
    if (step == BearerStep::Token && code == 334) {
        // The refusal comes as a challenge with the server's error; the answer makes the
        // server end the exchange with its final refusal.
        bearerStep = BearerStep::ErrorAnswered;
        command(bearer.errorAnswer, Cmd::Auth, true);
        return;
    }
    tokenRefused(reply);
}

// A refused token may only have run out: the caller is asked once for a fresh one, and
// the login is tried again on this connection.
void SmtpDialogue::Impl::tokenRefused(const std::string& reply) {
    if (config.renewToken) {
        const auto renew = std::exchange(config.renewToken, nullptr);
        renew([this, reply](const std::string& fresh) {
            if (!isRunning) return;
            if (!fresh.empty() && fresh != config.password) {
                config.password = fresh;
                sendBearerLogin();
                return;
            }
            loginRefused(reply);
        });
        return;
    }
    loginRefused(reply);
}

void SmtpDialogue::Impl::loginRefused(const std::string& reply) {
    report(DeliveryProblem::LoginRefused, &reply);
    if (!isRunning) return;
    if (sock.State() != wsClosed) sock.AbortConnection();
    endDelivery();
}

// The session is open (greeted, encrypted and logged in as configured).
void SmtpDialogue::Impl::sessionReady() {
    startMessage();
}

// Before the next MAIL FROM: a new connection when this one has carried its share, or
// a wait so that messages go out no faster than the configured rate.
bool SmtpDialogue::Impl::pausedBeforeMessage() {
    if (config.perConnection > 0 && connectionMessages >= config.perConnection) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Reconnecting;
        event.number = static_cast<std::uint64_t>(config.perConnection);
        tell(std::move(event));
        if (!isRunning) return true;
        state = SessionState::Reconnecting;
        command("quit", Cmd::Quit, false);
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (rateSlotReserved) {
        // A timer may end a little early or late: the spacing counts from the real
        // start, unless another connection has already reserved the slot after ours.
        rateSlotReserved = false;
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
            waitingForRate = true;
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
    if (reconnecting()) {
        reconnect();
    } else if (waitingForRate) {
        waitingForRate = false;
        rateSlotReserved = true;
        startMessage();
    }
}

// The old connection closes first; its close event brings us back here.
void SmtpDialogue::Impl::reconnect() {
    if (sock.State() != wsClosed) {
        sock.CloseConnection();
        pause.start(0);
        return;
    }
    startConnecting();
}

} // namespace tandrel
