// SPDX-License-Identifier: GPL-3.0-or-later
// What the SMTP dialogue tells its listener: typed events, no words and no files. The
// mailing layer turns them into the report, the status line and the run log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tandrel {

// One reply of the server, taken apart.
struct ServerReply {
    int code = 0;               // of the final line; 0 when it carries none
    std::string enhancedStatus; // "5.1.1" when the final line gives one, else empty
    std::string text;           // every line as received (up to a NUL byte), line ends kept
};

// What became of one message of a run.
enum class MessageOutcome {
    Accepted,           // the server accepted its end of data
    Refused,            // refused for good (recipient, content, size)
    TemporarilyRefused, // refused for now (4xx): worth sending again later
    NotAttempted,       // not sent: cancelled, connection lost, time-out, run ended
    // Its end-of-data mark went out but no reply came (stop, time-out, lost
    // connection): the server may have stored it, so sending it again could duplicate it.
    MaybeDelivered
};

// Something the dialogue found wrong; each ends the run or the message it names.
enum class DeliveryProblem {
    CouldNotConnect,         // reply: the refusal, or the socket's text (socketError set)
    ConnectionRefusedForNow, // reply (a 4xx greeting, or a 421)
    ConnectionClosed,        // the server closed while something was still due
    NoAnswerInTime,          // a reply or a data block took longer than allowed
    ReplyTooLong,            // more text than any reply of SMTP
    UnexpectedReply,         // reply: nothing was asked, or it came too early
    TlsFailed,               // detail: the handshake's reason
    EhloRefused,             // reply
    NoStartTls,              // STARTTLS asked for but not offered
    StartTlsRefused,         // reply
    NoEncryptedLogin,        // a login asked for on a connection without TLS
    NoLoginMethod,           // neither AUTH PLAIN nor AUTH LOGIN offered
    LoginRefused,            // reply
    NoTokenLogin,            // neither AUTH XOAUTH2 nor OAUTHBEARER offered
    HeloNotRecognised,       // reply (5xx); the dialogue goes on
    HeloUnknownResponse,     // reply (other codes); the dialogue goes on
    SenderRefused,           // reply; the run ends
    RecipientRefused,        // address, reply
    CopyRecipientRefused,    // address, detail (the Cc or Bcc address), reply; the message goes on
    MessageRefused,          // address, reply: its end of data refused for good
    MessageRefusedForNow,    // address, reply (4xx)
    MessageGivenUp,          // address, reply: refusals that retrying did not cure
    MessageUnfit,            // detail: why the message cannot go out as it is
    MessageTooLarge,         // address, number: the server's SIZE limit
    MessageChanged,          // address, detail: its file changed while it was sent
    InternalFailure,         // detail: our own handling failed; the run ends
};

struct DeliveryEvent {
    enum class Kind {
        Connecting,        // the run starts: a connection is being made
        Connected,         // the run's first connection is made
        ConnectionNotMade, // the run's first connection never came (handshake: TLS failed)
        Reconnected,       // a later connection after the relay's limit
        Encrypted,         // STARTTLS completed
        CommandSent,       // detail: the command as recorded (logins masked), with CR LF
        ReplyReceived,     // reply
        UnfinishedReply,   // detail: bytes received but never completed as a reply
        Sending,           // number: the position of the message going out (1-based)
        RateWait,          // number: seconds until the next message may go
        Reconnecting,      // number: the messages each connection carries
        Accepted,          // message, address: its end of data accepted
        Problem,           // problem, with what it names
        RunEnded,          // number: messages accepted; errors: whether any problem arose
        // The server took the connection and has sent nothing since (no greeting, or no
        // answer to the handshake of encryption from the start, `handshake`); the wait
        // goes on. detail: the host, port: the port, number: the seconds so far.
        ServerSilent,
    };
    Kind kind = Kind::Connecting;
    DeliveryProblem problem = DeliveryProblem::InternalFailure;
    std::size_t message = 0; // index into the run's messages, where one is meant
    std::string address;
    ServerReply reply;
    std::string detail;
    std::uint64_t number = 0;
    std::size_t total = 0;  // messages (Sending: recipients) of the run
    std::string port;       // ServerSilent
    int socketError = 0;    // CouldNotConnect: the socket's error code, 0 for a reply
    bool handshake = false; // ConnectionNotMade: the TLS handshake failed; ServerSilent
    bool errors = false;    // RunEnded
};

// The dialogue's listener, called between the dialogue's steps, in order. Calls may run
// nested event loops (the dialogue goes on meanwhile; what it tells waits for the call
// to return), and may cancel or destroy the dialogue: it then drops the connection and
// calls nothing more.
class DeliveryListener {
public:
    virtual ~DeliveryListener() = default;
    virtual void deliveryEvent(const DeliveryEvent& event) = 0;
    virtual void progress(int percent) = 0; // 0..100
    // Each message's outcome, once, as soon as it is known; `message` is its index in
    // the list given to start(); `reply` is the server's answer that decided it (none
    // for a message that was not attempted or that the dialogue itself refused).
    // Those without one when the run ends (or is cancelled) get NotAttempted, or
    // MaybeDelivered when their end-of-data mark had gone out.
    virtual void messageOutcome(std::size_t message, MessageOutcome outcome,
                                const ServerReply* reply) = 0;
    // The run has ended (after the RunEnded event and the last outcomes).
    virtual void deliveryEnded() = 0;
};

} // namespace tandrel
