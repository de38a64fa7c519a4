// SPDX-License-Identifier: GPL-3.0-or-later
// The client of the user's mailbox (IMAP), beside the relay: it lists the folders and
// appends messages to one of them, flagged \Seen. The protocol, TLS and the login are
// libcurl's (OpenSSL underneath); one request at a time runs on a worker thread of its
// own, and every answer reaches the caller from the event loop of the thread that made
// the client, never inside the call that asked. There is no nested event loop.
//
// The requests (MailboxState):
//
//   state      event                                          next
//   ---------  ---------------------------------------------  ----------------------------
//   Idle       listFolders() / appendMessages(), values fit   Listing / Appending (worker)
//   Idle       a value unfit for the wire, no encryption      Idle (the refusal is posted)
//   Listing    the folders, or why there are none, posted     Idle
//   Appending  a message stored, refused or not attempted     Appending (reported)
//   Appending  every message reported, the end posted         Idle
//   Listing,   another request                                unchanged (refused: busy)
//   Appending
//   any        cancel() or destruction                        Idle (nothing more is told)
//
// A connection per worker transfer: libcurl connects, STARTTLS or TLS from the first
// byte (TLS 1.2 at least, the host name checked against the system's authorities and
// SSL_CERT_FILE), logs in (the password, or the bearer token with XOAUTH2 or
// OAUTHBEARER) and keeps the connection for the next message. What becomes of a message:
//
//   outcome       when
//   ------------  ---------------------------------------------------------------------
//   Stored        the server answered OK to its APPEND
//   Refused       the server said NO to it, or its bytes cannot be a message (NUL, a
//                 bare CR or LF): the next message goes on
//   Failed        the connection broke while its bytes were under way: it may be stored
//   NotAttempted  none of its bytes left (the login was refused, the server could not be
//                 reached, the request was cancelled)
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imap/MailboxNames.h"

class QObject;

namespace tandrel::imap {

enum class Security {
    Tls,      // TLS from the first byte (port 993)
    StartTls, // STARTTLS, required (port 143)
    None      // refused: the mailbox is never logged into without encryption
};

enum class BearerMechanism { XOAuth2, OAuthBearer };

struct MailboxConfig {
    std::string host;
    std::uint16_t port = 993;
    Security security = Security::Tls;
    std::string user;
    std::string password;    // the login when bearerToken is empty
    std::string bearerToken; // an OAuth 2.0 access token
    BearerMechanism bearerMechanism = BearerMechanism::XOAuth2;
    int timeoutSeconds = 60; // to connect, and for a stalled transfer
    int connections = 1;     // connections that append side by side (1 keeps the order)
};

enum class MailboxState { Idle, Listing, Appending };

struct FolderListing {
    std::vector<Folder> folders;
    std::string error; // "" when the folders were listed
};

enum class AppendOutcome { Stored, Refused, Failed, NotAttempted };

struct AppendReport {
    std::size_t index = 0; // into the messages given
    AppendOutcome outcome = AppendOutcome::NotAttempted;
    std::string detail; // why it was not stored (with the server's words when it said any)
};

struct AppendEnd {
    std::size_t stored = 0;
    std::string error; // why the request stopped early ("" when every message was tried)
};

class MailboxClient {
public:
    explicit MailboxClient(MailboxConfig config);
    ~MailboxClient(); // cancels: the worker is stopped and waited for
    MailboxClient(const MailboxClient&) = delete;
    MailboxClient& operator=(const MailboxClient&) = delete;

    MailboxState state() const { return state_; }

    void listFolders(std::function<void(const FolderListing&)> done);
    // Appends each message (its bytes as given, lines ending in CR LF) to the folder of
    // this name (as FolderListing names it, UTF-8), flagged \Seen. `report` hears of
    // every message once (in the order of the messages with one connection); `done`
    // comes last. A refused request reports nothing and only calls `done`.
    void appendMessages(const std::string& folder, std::vector<std::string> messages,
                        std::function<void(const AppendReport&)> report,
                        std::function<void(const AppendEnd&)> done);
    // Stops the request under way; none of its callbacks is called after this.
    void cancel();

private:
    struct Worker;
    // Why the request cannot go on the wire ("" when it can); `folder` for an append.
    std::string refusal(const std::string* folder) const;
    // Posts a refusal made before the wire: only cancel() drops it.
    void postRefusal(std::function<void()> fn);
    // For the worker: posts an answer of the request under way, dropped once that request
    // is over (cancelled, or a later one begun).
    std::function<void(std::function<void()>)> answerPoster();
    void finish(); // the worker's last answer: it is joined, the client is Idle

    MailboxConfig config_;
    MailboxState state_ = MailboxState::Idle;
    unsigned epoch_ = 0;    // counts cancel()s
    unsigned requests_ = 0; // requests begun
    unsigned request_ = 0;  // the one under way (0: none)
    std::function<void(const FolderListing&)> listDone_;
    std::function<void(const AppendReport&)> report_;
    std::function<void(const AppendEnd&)> appendDone_;
    std::unique_ptr<Worker> worker_;
    std::unique_ptr<QObject> context_; // answers are posted to it
};

} // namespace tandrel::imap
