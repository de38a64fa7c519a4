// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of an SMTP session that still wait for their replies, in the order they
// were sent, and the state of a pipelined transaction (MAIL, RCPT and DATA sent
// together). After one of those failed, the replies still due for the others are taken
// without effect, and the commands the failure calls for are held until then, so that
// none of them can land inside message data.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "smtp/SmtpCommands.h"

namespace tandrel {

class PendingReplies {
public:
    struct Awaited {
        SmtpCommand command;
        std::size_t message; // the message it was sent for
        std::uint64_t after; // bytes received when it was sent: earlier ones cannot answer it
    };
    struct Held {
        std::string line;
        SmtpCommand command;
        std::string logText;
    };

    // `after` of a command still waiting in the dialogue's outbox: no reply answers it yet.
    static constexpr std::uint64_t kUnsent = UINT64_MAX;

    bool empty() const { return awaited_.empty(); }
    const Awaited& front() const { return awaited_.front(); }
    void expect(SmtpCommand command, std::size_t message, std::uint64_t after) {
        awaited_.push_back({command, message, after});
    }
    // The front entry, taken; `pipelined` tells whether it belonged to a pipelined
    // transaction.
    Awaited take(bool& pipelined) {
        const Awaited a = awaited_.front();
        awaited_.pop_front();
        pipelined =
            due_ > 0 && (a.command == SmtpCommand::Mail || a.command == SmtpCommand::Rcpt ||
                         a.command == SmtpCommand::CopyRcpt || a.command == SmtpCommand::Data);
        if (pipelined) --due_;
        return a;
    }
    // Nothing but (at most) the QUIT is unanswered.
    bool onlyQuitLeft() const {
        return std::all_of(awaited_.begin(), awaited_.end(),
                           [](const Awaited& a) { return a.command == SmtpCommand::Quit; });
    }
    // The commands written so far left with `after` bytes received.
    void sent(std::uint64_t after) {
        for (Awaited& a : awaited_)
            if (a.after == kUnsent) a.after = after;
    }
    // Replies awaited and held commands are forgotten; so is the pipelined transaction.
    void clear() {
        awaited_.clear();
        held_.clear();
        due_ = 0;
    }
    void clearAwaited() { awaited_.clear(); }

    // MAIL and RCPT (the To address, then `copies` more) of one message went out
    // together, with DATA when `withData`.
    void expectPipelined(std::size_t message, std::uint64_t after, std::size_t copies,
                         bool withData) {
        expect(SmtpCommand::Mail, message, after);
        expect(SmtpCommand::Rcpt, message, after);
        for (std::size_t i = 0; i < copies; ++i)
            expect(SmtpCommand::CopyRcpt, message, after);
        if (withData) expect(SmtpCommand::Data, message, after);
        due_ = 2 + static_cast<int>(copies) + (withData ? 1 : 0);
    }
    bool pipelinedDue() const { return due_ > 0; }
    // A part of the transaction failed: commands are held until its replies are in.
    bool pipelineFailed() const { return !held_.empty(); }
    // A command issued while pipelined replies are due: a part of the transaction failed.
    void hold(Held command) { held_.push_back(std::move(command)); }
    // The held commands, once no reply of the failed transaction is due any more
    // (nothing otherwise).
    std::vector<Held> releaseHeld() {
        if (due_ > 0) return {};
        for (const Awaited& a : awaited_)
            if (a.command == SmtpCommand::Discarded) return {};
        std::vector<Held> now;
        now.swap(held_);
        return now;
    }

private:
    std::deque<Awaited> awaited_;
    int due_ = 0;
    std::vector<Held> held_;
};

} // namespace tandrel
