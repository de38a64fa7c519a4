// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of an SMTP session and what each one's replies mean: one row per command
// with its time-out and its reply policy, read by every step of the dialogue instead of
// rules written out in each of them.
#pragma once

#include <array>
#include <cstddef>

#include "smtp/DeliveryEvents.h"

namespace tandrel {

enum class SmtpCommand {
    Greeting, // not sent: the server's greeting is awaited like a reply
    Helo,
    Ehlo,
    StartTls,
    Auth, // every line of a login: AUTH, the answers to the server's challenges
    Mail,
    Rcpt,
    CopyRcpt, // a Cc or Bcc address of the same message
    Data,
    EndOfData,
    Rset,
    Quit,
    Discarded, // the end of data sent only to close a failed pipelined transaction
};
inline constexpr std::size_t kSmtpCommandCount = 13;

// Which replies let the step go on.
enum class Success {
    Completion,   // 2xx
    Intermediate, // 3xx (DATA: "go on")
    Delivery,     // 2xx other than a greeting or a farewell (220, 221): the message stored
    TlsReady,     // 220 alone
};

// What a reply that is no success means.
enum class Refusal {
    StepDecides,    // the step that sent the command reads the reply itself
    SessionForNow,  // the server will not serve this session now: the run ends
    EndsRun,        // `problem`, and the run ends; the connection waits for the caller
    EndsRunAtOnce,  // `problem`, the connection is dropped, and the run ends
    MessageForNow,  // the message is refused for now; a 421 ends the run, else the next one
    MessageAgain,   // the session may be confused: RSET and the message again, a few times
    CommandAgain,   // the same command again, a few times, then the message is given up
    MessageForGood, // `problem` for the message, refused; the next one
    Warning,        // `problem` is told, and the session goes on
    Proceeds,       // taken like a success
};

struct ReplyPolicy {
    Refusal refusal;
    DeliveryProblem problem = DeliveryProblem::InternalFailure;
};

// Whether the command goes to the transcript as sent (logins masked).
enum class Transcript { Recorded, Unrecorded };

struct CommandRule {
    SmtpCommand command;
    int timeoutMinutes; // the usual limit of a mail client, when none is configured
    Transcript transcript;
    Success success;
    ReplyPolicy closing;      // 421: the server is closing the session
    ReplyPolicy temporary;    // other 4xx
    ReplyPolicy commandError; // 500, 501, 503: refusals a confused session may cause
    ReplyPolicy permanent;    // other 5xx
    ReplyPolicy other;        // any other code, or none
};

namespace command_rules {
using P = DeliveryProblem;
using R = Refusal;
using C = SmtpCommand;
inline constexpr ReplyPolicy kForNow{R::SessionForNow};
inline constexpr ReplyPolicy kMessageForNow{R::MessageForNow};
inline constexpr ReplyPolicy kMessageAgain{R::MessageAgain};
inline constexpr ReplyPolicy kProceeds{R::Proceeds};
inline constexpr ReplyPolicy kConnect{R::EndsRun, P::CouldNotConnect};
inline constexpr ReplyPolicy kEhlo{R::StepDecides, P::EhloRefused};
inline constexpr ReplyPolicy kStartTls{R::EndsRunAtOnce, P::StartTlsRefused};
inline constexpr ReplyPolicy kLogin{R::StepDecides, P::LoginRefused};
inline constexpr ReplyPolicy kSender{R::EndsRun, P::SenderRefused};
inline constexpr ReplyPolicy kRecipient{R::MessageForGood, P::RecipientRefused};
inline constexpr ReplyPolicy kCopy{R::StepDecides, P::CopyRecipientRefused};
inline constexpr ReplyPolicy kMessage{R::MessageForGood, P::MessageRefused};
inline constexpr ReplyPolicy kHeloUnknown{R::Warning, P::HeloUnknownResponse};
inline constexpr ReplyPolicy kHeloNotKnown{R::Warning, P::HeloNotRecognised};
inline constexpr ReplyPolicy kDataAgain{R::CommandAgain, P::MessageGivenUp};
constexpr Transcript kRec = Transcript::Recorded;
constexpr Transcript kUnrec = Transcript::Unrecorded;
constexpr Success k2xx = Success::Completion;

// clang-format off
inline constexpr std::array<CommandRule, kSmtpCommandCount> kRules = {{
//   command        min  transcript success                 421             4xx             500/501/503     5xx            other
    {C::Greeting,   5,   kUnrec, k2xx,                      kForNow,        kForNow,        kConnect,       kConnect,      kConnect},
    {C::Helo,       5,   kRec,   k2xx,                      kForNow,        kHeloUnknown,   kMessageAgain,  kHeloNotKnown, kHeloUnknown},
    {C::Ehlo,       5,   kRec,   k2xx,                      kForNow,        kEhlo,          kEhlo,          kEhlo,         kEhlo},
    {C::StartTls,   5,   kRec,   Success::TlsReady,         kStartTls,      kStartTls,      kStartTls,      kStartTls,     kStartTls},
    {C::Auth,       5,   kRec,   k2xx,                      kLogin,         kLogin,         kLogin,         kLogin,        kLogin},
    {C::Mail,       5,   kRec,   k2xx,                      kMessageForNow, kMessageForNow, kMessageAgain,  kSender,       kSender},
    {C::Rcpt,       5,   kRec,   k2xx,                      kMessageForNow, kMessageForNow, kMessageAgain,  kRecipient,    kRecipient},
    {C::CopyRcpt,   5,   kRec,   k2xx,                      kCopy,          kCopy,          kCopy,          kCopy,         kCopy},
    {C::Data,       2,   kUnrec, Success::Intermediate,     kMessageForNow, kMessageForNow, kMessageAgain,  kDataAgain,    kDataAgain},
    {C::EndOfData,  10,  kUnrec, Success::Delivery,         kMessageForNow, kMessageForNow, kMessage,       kMessage,      kMessage},
    {C::Rset,       5,   kUnrec, k2xx,                      kForNow,        kProceeds,      kProceeds,      kProceeds,     kProceeds},
    {C::Quit,       2,   kUnrec, k2xx,                      kProceeds,      kProceeds,      kProceeds,      kProceeds,     kProceeds},
    {C::Discarded,  5,   kUnrec, k2xx,                      kProceeds,      kProceeds,      kProceeds,      kProceeds,     kProceeds},
}};
// clang-format on
} // namespace command_rules

constexpr const CommandRule& RuleOf(SmtpCommand command) {
    return command_rules::kRules[static_cast<std::size_t>(command)];
}

// Each row stands at its command's place.
constexpr bool RulesInOrder() {
    for (std::size_t i = 0; i < kSmtpCommandCount; ++i)
        if (static_cast<std::size_t>(command_rules::kRules[i].command) != i) return false;
    return true;
}
static_assert(RulesInOrder(), "kRules must list the commands in their order");

constexpr bool Succeeded(SmtpCommand command, int code) {
    switch (RuleOf(command).success) {
    case Success::Completion:
        return code / 100 == 2;
    case Success::Intermediate:
        return code / 100 == 3;
    case Success::Delivery:
        return code / 100 == 2 && code != 220 && code != 221;
    case Success::TlsReady:
        return code == 220;
    }
    return false;
}

// What a reply that did not succeed means for `command`.
constexpr const ReplyPolicy& PolicyFor(SmtpCommand command, int code) {
    const CommandRule& rule = RuleOf(command);
    if (code == 421) return rule.closing;
    if (code / 100 == 4) return rule.temporary;
    if (code == 500 || code == 501 || code == 503) return rule.commandError;
    if (code / 100 == 5) return rule.permanent;
    return rule.other;
}

} // namespace tandrel
