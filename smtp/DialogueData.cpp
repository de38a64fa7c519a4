// SPDX-License-Identifier: GPL-3.0-or-later
// The message data of a delivery run: dot-stuffed lines in batches, the end-of-data mark,
// and the size a message has on the wire.
#include "smtp/DialogueImpl.h"

namespace tandrel {

void SmtpDialogue::Impl::resetLines() {
    if (state == SessionState::SendingData) state = SessionState::Transaction;
    linesDone = false;
    LineIndex = 0;
    lineOpen = false;
    restDot = false;
    rest = {};
}

void SmtpDialogue::Impl::sendMoreData() {
    if (!sendingData()) return;
    if (linesDone)
        sendEndOfData();
    else
        sendLines();
}

// The last line already ended in CR LF: the mark is "." CR LF alone, so the message
// arrives exactly as composed.
void SmtpDialogue::Impl::sendEndOfData() {
    markEndOfData();
    std::string text = std::string(".") + kCrLf;
    const bool next = envelopeBehind(text);
    sock.SendText(text);
    if (next) tellEnvelope();
}

// The mark is on its way: its reply is awaited from now on.
void SmtpDialogue::Impl::markEndOfData() {
    state = SessionState::Transaction;
    linesDone = false;
    const std::size_t message = CurrentMessage;
    held[message] = kEndSent;
    CurrentMessage = takeNext();
    RetryCount = 0;
    pending.expect(Cmd::EndOfData, message, rxTotal);
    if (message < endMarkSent.size()) endMarkSent[message] = 1;
    armTimer();
}

// The next part of CurrentMessage, dot-stuffed, each line with CR LF: whole lines
// while they fit in one batch, a longer line in pieces over several batches. The
// gauge moves per line; the next batch goes out on the next OnDataSent, so each
// batch waits for the earlier data to reach the network.
void SmtpDialogue::Impl::sendLines() {
    const OutgoingMessage& m = mail(CurrentMessage);
    const std::size_t n = m.lines.size();
    if (LineIndex == 0 && !lineOpen) cursor = m.lines.cursor();
    batch.clear();
    for (;;) {
        if (!lineOpen) {
            if (LineIndex >= n) break;
            rest = cursor.next();
            restDot = !rest.empty() && rest[0] == '.';
            lineOpen = true;
        }
        const std::size_t room = kBatchBytes - batch.size();
        const std::size_t whole = (restDot ? 1 : 0) + rest.size() + 2;
        if (whole > room) {
            // A line that does not fit starts the next batch, unless it could never
            // fit one: then it fills this one and goes on in the next.
            const bool fitsABatch = whole <= kBatchBytes;
            if (fitsABatch && !batch.empty()) break;
            if (!fitsABatch) {
                if (restDot) {
                    batch += '.';
                    restDot = false;
                }
                const std::size_t take = std::min(rest.size(), kBatchBytes - batch.size());
                batch.append(rest.substr(0, take));
                rest.remove_prefix(take);
                if (batch.size() + 2 > kBatchBytes) break;
                continue; // only the line end is left of it
            }
        }
        if (restDot) batch += '.';
        batch.append(rest);
        batch += kCrLf;
        lineOpen = false;
        setGauge(static_cast<long long>(LineIndex) * 100 / static_cast<long long>(n) /
                     recipientCount +
                 ProgressBase);
        if (!isRunning) return;
        ++LineIndex;
    }
    if (LineIndex >= n && !lineOpen) {
        if (cursor.failure()) {
            abandonMessage(*cursor.failure());
            return;
        }
        linesDone = true;
        // The mark goes with the last lines: one write and one round trip less.
        if (batch.size() + 3 <= kBatchBytes) {
            batch += '.';
            batch += kCrLf;
            markEndOfData();
            const bool next = envelopeBehind(batch);
            sock.Send(batch.data(), static_cast<int>(batch.size()));
            if (next) tellEnvelope();
            return;
        }
    }
    if (batch.empty()) {
        sendEndOfData();
        return;
    }
    timer.start(dataBlockTimeoutMs());
    sock.Send(batch.data(), static_cast<int>(batch.size()));
}
// Bytes of the message between DATA and its end-of-data mark, dot-stuffing included:
// what a server compares with its SIZE limit.
std::uint64_t SmtpDialogue::Impl::wireSize(std::size_t message) {
    std::uint64_t bytes = 0;
    mail(message).lines.forEach([&bytes](std::string_view line) {
        bytes += line.size() + 2 + (!line.empty() && line[0] == '.' ? 1 : 0);
    });
    return bytes;
}

// A person's file changed after it was counted, so the lines just read are not the
// message that was built. Without its end-of-data mark the server discards what it got
// once the connection drops; the people after this one are left for another run.
void SmtpDialogue::Impl::abandonMessage(const std::string& why) {
    const std::size_t message = CurrentMessage;
    sock.AbortConnection();
    reportAbout(DeliveryProblem::MessageChanged, message, nullptr, why);
    if (!isRunning) return;
    outcome(message, MessageOutcome::Refused);
    if (!isRunning) return;
    endDelivery();
}

} // namespace tandrel
