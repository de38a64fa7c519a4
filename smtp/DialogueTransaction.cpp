// SPDX-License-Identifier: GPL-3.0-or-later
// The transactions of an SMTP session (see DialogueTransaction.h for their steps): MAIL,
// RCPT and DATA one by one or pipelined, the end-of-data replies, RSET, and what a
// refusal means as the command table says.
#include "smtp/DialogueImpl.h"

#include <stdexcept>

namespace tandrel {

void SmtpDialogue::Impl::onTransactionReply(const PendingReplies::Awaited& awaited, int code,
                                            const std::string& reply) {
    if (awaited.command == Cmd::CopyRcpt) {
        onCopyRcpt(code, reply, awaited.message);
        return;
    }
    if (!Succeeded(awaited.command, code)) {
        refused(awaited, code, reply);
        return;
    }
    switch (awaited.command) {
    case Cmd::Mail:
    case Cmd::Rcpt:
        onMailOrRcpt(awaited.command);
        break;
    case Cmd::Data:
        resetLines();
        transaction.step = TransactionStep::Lines;
        state = SessionState::SendingData;
        sendLines();
        break;
    case Cmd::EndOfData:
        onEndOfData(reply, awaited.message);
        break;
    default: // RSET: the message begins again
        transaction.step = TransactionStep::Idle;
        startMessage();
        break;
    }
}

// A reply that is no success, as the command table says. The message it concerns is the
// current one, except for an end of data: by then the current one is the next.
void SmtpDialogue::Impl::refused(const PendingReplies::Awaited& awaited, int code,
                                 const std::string& reply) {
    const bool endOfData = awaited.command == Cmd::EndOfData;
    const std::size_t message = endOfData ? awaited.message : currentMessage;
    const ReplyPolicy& policy = PolicyFor(awaited.command, code);
    switch (policy.refusal) {
    case Refusal::SessionForNow:
        connectionRefusedForNow(reply);
        return;
    case Refusal::Proceeds:
        transaction.step = TransactionStep::Idle;
        startMessage();
        return;
    case Refusal::MessageAgain:
        retryOrGiveUp(reply);
        return;
    case Refusal::CommandAgain:
        if (transaction.retries < kRetries) {
            ++transaction.retries;
            command("data", Cmd::Data);
        } else {
            giveUpCurrent(reply);
        }
        return;
    case Refusal::MessageForNow:
        messageRefusedForNow(message, reply);
        if (code == 421)
            endDelivery();
        else if (endOfData)
            afterEndOfData();
        else
            skipCurrent();
        return;
    case Refusal::MessageForGood:
        reportAbout(policy.problem, message, &reply);
        outcome(message, MessageOutcome::Refused, &reply);
        if (endOfData)
            afterEndOfData();
        else
            skipCurrent();
        return;
    case Refusal::EndsRun:
        report(policy.problem, &reply);
        endDelivery();
        return;
    default:
        endAtOnce(policy.problem, &reply);
        return;
    }
}

void SmtpDialogue::Impl::onMailOrRcpt(Cmd cmd) {
    if (transaction.pipelined()) return; // DATA went with the envelope, or follows the copies
    if (cmd == Cmd::Rcpt) {
        transaction.copiesSent = 0;
        sendCopyRcptOrData();
    } else {
        sendRcpt();
    }
}

void SmtpDialogue::Impl::onEndOfData(const std::string& reply, std::size_t message) {
    ++acceptedCount;
    DeliveryEvent event;
    event.kind = DeliveryEvent::Kind::Accepted;
    event.message = message;
    event.address = address(message);
    event.reply = ParseServerReply(reply);
    tell(std::move(event));
    setGauge(static_cast<long long>(acceptedCount) * 100 / recipientCount);
    progressBase = gauge;
    outcome(message, MessageOutcome::Accepted, &reply);
    if (transaction.step == TransactionStep::EnvelopeBehindMark) {
        transaction.step = TransactionStep::PipelinedEnvelope;
        tellSending();
    } else {
        startMessage();
    }
}

// After a refused end of data: the next envelope is under way, or begins after RSET.
void SmtpDialogue::Impl::afterEndOfData() {
    if (transaction.step == TransactionStep::EnvelopeBehindMark) {
        transaction.step = TransactionStep::PipelinedEnvelope;
        tellSending();
    } else if (messageLeft()) {
        sendRset();
    } else {
        sendQuit();
    }
}

void SmtpDialogue::Impl::messageRefusedForNow(std::size_t message, const std::string& reply) {
    reportAbout(DeliveryProblem::MessageRefusedForNow, message, &reply);
    outcome(message, MessageOutcome::TemporarilyRefused, &reply);
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
        const std::string problem = messageProblem(currentMessage);
        if (problem.empty() && opening.offer.maxSize > 0 &&
            wireSize(currentMessage) > opening.offer.maxSize) {
            reportAbout(DeliveryProblem::MessageTooLarge, currentMessage, nullptr);
        } else if (problem.empty()) {
            break;
        } else {
            reportAbout(DeliveryProblem::MessageUnfit, currentMessage, nullptr, problem);
        }
        outcome(currentMessage, MessageOutcome::Refused);
        currentMessage = takeNext();
        transaction.retries = 0;
    }
    if (!messageLeft()) {
        sendQuit();
        return;
    }
    if (pausedBeforeMessage()) return;
    state = SessionState::Transaction;
    if (opening.offer.pipelining) {
        transaction.step = TransactionStep::PipelinedEnvelope;
        const std::string text = envelope();
        tellEnvelope();
        expectEnvelope();
        armTimer();
        send(text);
    } else {
        transaction.step = TransactionStep::Envelope;
        command("MAIL FROM:<" + config.fromAddress + ">", Cmd::Mail);
    }
    tellSending();
}

// MAIL, RCPT and DATA of currentMessage as one piece of text, for PIPELINING. A message
// with Cc or Bcc addresses goes without its DATA: a server takes DATA once any one
// recipient is accepted, so sent ahead it would open a message for the copies of a
// person whose own address was refused. Its DATA follows when the replies have shown
// the person's address accepted (onCopyRcpt).
std::string SmtpDialogue::Impl::envelope() {
    std::vector<std::string> commands = {"MAIL FROM:<" + config.fromAddress + ">",
                                         "RCPT TO:<" + address(currentMessage) + ">"};
    const std::vector<std::string>& copies = mail(currentMessage).copyRecipients;
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
    if (!opening.offer.pipelining || config.ratePerMinute > 0 || !messageLeft()) return false;
    if (config.perConnection > 0 && connectionMessages >= config.perConnection) return false;
    if (!messageProblem(currentMessage).empty()) return false;
    if (opening.offer.maxSize > 0 && wireSize(currentMessage) > opening.offer.maxSize) return false;
    const std::string text = envelope();
    if (out.size() + text.size() > kBatchBytes) return false; // batches keep their limit
    out += text;
    ++connectionMessages;
    transaction.step = TransactionStep::EnvelopeBehindMark;
    expectEnvelope();
    return true;
}

// The replies due for the envelope of currentMessage, written as envelope() made it.
void SmtpDialogue::Impl::expectEnvelope() {
    const std::size_t copies = mail(currentMessage).copyRecipients.size();
    transaction.copiesAnswered = 0;
    pending.expectPipelined(currentMessage, PendingReplies::kUnsent, copies, copies == 0);
}

// The transcript of the envelope, as the commands would be logged one by one.
void SmtpDialogue::Impl::tellEnvelope() {
    std::vector<std::string> lines = {"MAIL FROM:<" + config.fromAddress + ">",
                                      "RCPT TO:<" + address(currentMessage) + ">"};
    for (const std::string& copy : mail(currentMessage).copyRecipients)
        lines.push_back("RCPT TO:<" + copy + ">");
    for (const std::string& line : lines) {
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::CommandSent;
        event.detail = line + kCrLf;
        tell(std::move(event));
    }
}

void SmtpDialogue::Impl::tellSending() {
    DeliveryEvent sending;
    sending.kind = DeliveryEvent::Kind::Sending;
    sending.number = static_cast<std::uint64_t>(acceptedCount) + 1;
    sending.total = static_cast<std::size_t>(recipientCount);
    tell(std::move(sending));
}

// The Cc and Bcc addresses go after the To address was accepted, one at a time; then DATA.
void SmtpDialogue::Impl::sendCopyRcptOrData() {
    const std::vector<std::string>& copies = mail(currentMessage).copyRecipients;
    if (transaction.copiesSent < copies.size()) {
        command("RCPT TO:<" + copies[transaction.copiesSent++] + ">", Cmd::CopyRcpt);
        return;
    }
    transaction.step = TransactionStep::DataAsked;
    command("data", Cmd::Data);
}

// A refused copy address is told for its message, which still goes to its To address; it
// does not count as a failed run. A pipelined envelope's copy replies are taken only
// while its MAIL and the person's RCPT stand accepted, so after the last one its DATA
// may go.
void SmtpDialogue::Impl::onCopyRcpt(int code, const std::string& reply, std::size_t message) {
    const bool pipelined = transaction.pipelined();
    if (!Succeeded(Cmd::CopyRcpt, code)) {
        const std::vector<std::string>& copies = mail(message).copyRecipients;
        const std::size_t index =
            pipelined ? transaction.copiesAnswered : transaction.copiesSent - 1;
        DeliveryEvent event;
        event.kind = DeliveryEvent::Kind::Problem;
        event.problem = PolicyFor(Cmd::CopyRcpt, code).problem;
        event.message = message;
        event.address = address(message);
        event.reply = ParseServerReply(reply);
        event.detail = index < copies.size() ? copies[index] : std::string();
        tell(std::move(event));
    }
    ++transaction.copiesAnswered;
    if (!pipelined) {
        sendCopyRcptOrData();
    } else if (transaction.copiesAnswered == mail(message).copyRecipients.size()) {
        transaction.step = TransactionStep::DataAsked;
        command("data", Cmd::Data);
    }
}

void SmtpDialogue::Impl::sendRcpt() {
    command("RCPT TO:<" + address(currentMessage) + ">", Cmd::Rcpt);
}

// Starts currentMessage again from MAIL FROM after the RSET is answered.
void SmtpDialogue::Impl::sendRset() {
    resetLines();
    transaction.step = TransactionStep::Resetting;
    command("rset", Cmd::Rset);
}

void SmtpDialogue::Impl::retryOrGiveUp(const std::string& reply) {
    if (transaction.retries < kRetries) {
        ++transaction.retries;
        sendRset();
    } else {
        giveUpCurrent(reply);
    }
}

void SmtpDialogue::Impl::skipCurrent() {
    currentMessage = takeNext();
    transaction.retries = 0;
    resetLines();
    if (messageLeft())
        sendRset();
    else
        sendQuit();
}

void SmtpDialogue::Impl::giveUpCurrent(const std::string& reply) {
    reportAbout(DeliveryProblem::MessageGivenUp, currentMessage, &reply);
    outcome(currentMessage, MessageOutcome::Refused, &reply);
    skipCurrent();
}

} // namespace tandrel
