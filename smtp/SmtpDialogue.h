// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP dialogue of one delivery run: it drives a ClientSocket and tells its listener
// what happens as typed events. It writes no file and no words of the report.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "smtp/DeliveryEvents.h"
#include "model/Model.h"

namespace tandrel {

class ClientSocket;
class MessageQueue;
class MessageSource;

enum class Security {
    None,     // plain SMTP
    StartTls, // plain connection, encrypted with STARTTLS before anything else
    Tls       // encrypted from the first byte
};

struct DeliveryConfig {
    std::string smtp;
    std::string port;
    std::string fromAddress;
    std::string localComputerName; // HELO names it when it holds a dot
    // Seconds to wait for any one reply or data block; 0 keeps the usual limits of a
    // mail client (5 minutes for the greeting, MAIL and RCPT, 2 for DATA and QUIT, 3 per
    // data block, 10 for the end of data).
    int timeoutSeconds = 0;
    // With Security::None, no user and no `extensions`, the session opens with HELO;
    // otherwise with EHLO, which brings PIPELINING and SIZE when the server offers them.
    Security security = Security::None;
    std::string user{}; // login name; empty: no login
    std::string password{};
    // The login proves itself with an OAuth 2.0 bearer token, held in `password`
    // (AUTH XOAUTH2 or OAUTHBEARER), instead of a password.
    bool bearerToken = false;
    // Called at most once per run when the server refuses the token; `answer` is called
    // exactly once, at once or later, with a fresh token, or "" when there is none worth
    // trying.
    std::function<void(std::function<void(std::string)> answer)> renewToken{};
    bool extensions = false;
    int perConnection = 0; // messages per connection, then a new one; 0: no limit
    int ratePerMinute = 0; // messages per minute, evenly spaced; 0: no limit
    int connections = 1;   // dialogues at once, sharing the messages (see DeliveryRun)
};

// Where the session stands; the dialogue decides by it what an event means.
enum class SessionState {
    Idle,         // no run, or the run was cancelled or closed
    Connecting,   // the connection (and an implicit TLS handshake) is being made
    Opening,      // greeting, HELO or EHLO, STARTTLS, login
    Transaction,  // MAIL FROM sent: a message's envelope and its replies
    SendingData,  // from the 354 until the end-of-data mark has gone
    Reconnecting, // QUIT sent to open a new connection after the relay's limit
    Closing,      // QUIT sent: every message dealt with
    Ended,        // the run has ended
};

// Listener calls may run nested event loops and may destroy the dialogue: it then drops
// the connection and calls the listener no more.
class SmtpDialogue {
public:
    explicit SmtpDialogue(DeliveryListener& listener);
    ~SmtpDialogue();
    SmtpDialogue(const SmtpDialogue&) = delete;
    SmtpDialogue& operator=(const SmtpDialogue&) = delete;

    // The show step: progress 0, the Connecting event, Addr/Port from the config,
    // Connect. Immediate failures throw (ESocketException, a std::runtime_error) with
    // the socket's text; no further event is told then, and the dialogue is idle again
    // (the next start() works). The dialogue keeps its share of `messages` until the
    // run is over, and releases each one whose outcome it told.
    // With a `queue` shared with other dialogues, this one takes its messages from it
    // and tells outcomes only of those it took (see MessageQueue).
    void start(std::shared_ptr<MessageSource> messages, int recipientCount,
               const DeliveryConfig& config, std::shared_ptr<MessageQueue> queue = nullptr);
    // The same over messages made beforehand (copied, sharing their line blocks, so the
    // caller may release its list at any time).
    void start(const OutgoingList& messages, int recipientCount, const DeliveryConfig& config);
    // Cancel: abandon the dialogue where it stands; nothing more is sent.
    void cancel();
    // The caller's clean-up after the window has closed: the orderly close.
    void closeConnection();

    bool ended() const;
    bool errorsOccurred() const;
    ClientSocket& socket();

    // True from start() until the run ends, is cancelled or closed.
    bool running() const;
    SessionState state() const;
    // Messages whose end of data the server accepted in this run.
    int acceptedCount() const;
    // Messages are handed to the socket in batches of at most this many bytes: whole
    // lines while they fit, a longer line in pieces.
    static constexpr std::size_t kBatchBytes = 64 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace tandrel
