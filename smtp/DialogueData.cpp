// SPDX-License-Identifier: GPL-3.0-or-later
// The message data of a delivery run: dot-stuffed lines in batches, the end-of-data mark,
// and the size a message has on the wire.
#include "smtp/DialogueImpl.h"

namespace tandrel {

void SmtpDialogue::Impl::resetLines() {
    if (state == SessionState::SendingData) state = SessionState::Transaction;
    lineIndex = 0;
    linePart = LinePart::None;
    rest = {};
}

// The mark is on its way: its reply is awaited from now on.
void SmtpDialogue::Impl::markEndOfData() {
    state = SessionState::Transaction;
    transaction.step = TransactionStep::Idle;
    const std::size_t message = currentMessage;
    stages[message] = MessageStage::EndMarkSent;
    currentMessage = takeNext();
    transaction.retries = 0;
    pending.expect(Cmd::EndOfData, message, PendingReplies::kUnsent);
    armTimer();
}

// The next part of currentMessage, dot-stuffed, each line with CR LF: whole lines
// while they fit in one batch, a longer line in pieces over several batches. The
// gauge moves per line; the next batch goes out on the next onDataSent, so each
// batch waits for the earlier data to reach the network. The last line already ends
// in CR LF: the mark is "." CR LF alone, so the message arrives exactly as composed; it
// goes with the last lines when they leave room, else in a batch of its own.
void SmtpDialogue::Impl::sendLines() {
    const OutgoingMessage& m = mail(currentMessage);
    const std::size_t n = m.lines.size();
    if (lineIndex == 0 && linePart == LinePart::None) cursor = m.lines.cursor();
    batch.clear();
    for (;;) {
        if (linePart == LinePart::None) {
            if (lineIndex >= n) break;
            rest = cursor.next();
            linePart = !rest.empty() && rest[0] == '.' ? LinePart::RestWithDot : LinePart::Rest;
        }
        const std::size_t room = kBatchBytes - batch.size();
        const std::size_t whole = (linePart == LinePart::RestWithDot ? 1 : 0) + rest.size() + 2;
        if (whole > room) {
            // A line that does not fit starts the next batch, unless it could never
            // fit one: then it fills this one and goes on in the next.
            const bool fitsABatch = whole <= kBatchBytes;
            if (fitsABatch && !batch.empty()) break;
            if (!fitsABatch) {
                if (linePart == LinePart::RestWithDot) {
                    batch += '.';
                    linePart = LinePart::Rest;
                }
                const std::size_t take = std::min(rest.size(), kBatchBytes - batch.size());
                batch.append(rest.substr(0, take));
                rest.remove_prefix(take);
                if (batch.size() + 2 > kBatchBytes) break;
                continue; // only the line end is left of it
            }
        }
        if (linePart == LinePart::RestWithDot) batch += '.';
        batch.append(rest);
        batch += kCrLf;
        linePart = LinePart::None;
        setGauge(static_cast<long long>(lineIndex) * 100 / static_cast<long long>(n) /
                     recipientCount +
                 progressBase);
        ++lineIndex;
    }
    if (lineIndex >= n && linePart == LinePart::None) {
        if (cursor.failure()) {
            abandonMessage(*cursor.failure());
            return;
        }
        // The mark goes with the last lines: one write and one round trip less.
        if (batch.size() + 3 <= kBatchBytes) {
            batch += '.';
            batch += kCrLf;
            markEndOfData();
            const bool next = envelopeBehind(batch);
            send(batch);
            if (next) tellEnvelope();
            return;
        }
    }
    timer.start(dataBlockTimeoutMs());
    send(batch);
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
    const std::size_t message = currentMessage;
    dropConnection();
    reportAbout(DeliveryProblem::MessageChanged, message, nullptr, why);
    outcome(message, MessageOutcome::Refused);
    endDelivery();
}

} // namespace tandrel
