// The SMTP dialogue of one delivery run, without any window: it drives a TWSocket and
// reports what a delivery window shows through a listener.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "Model.h"

namespace tandrel {

class TWSocket;

// What became of one message of a run.
enum class MessageOutcome {
    Accepted,           // the server accepted its end of data
    Refused,            // refused for good (recipient, content, size)
    TemporarilyRefused, // refused for now (4xx): worth sending again later
    NotAttempted        // not sent: cancelled, connection lost, time-out, run ended
};

class DeliveryListener {
public:
    virtual ~DeliveryListener() = default;
    virtual void memoClear() = 0;
    virtual void memoAppend(const std::string& line) = 0;
    virtual void setStatus(const std::string& text) = 0; // the status line
    virtual void setGauge(int value) = 0;                // 0..100
    // The run has ended (EndDelivery). `logSaved` is false when the run log file could
    // not be written: the window then keeps Cancel enabled and Close disabled.
    virtual void deliveryEnded(bool logSaved) = 0;
    // Each message's outcome, once, as soon as it is known; `message` is its index in
    // the list given to start(). Those without one when the run ends (or is cancelled)
    // get NotAttempted, before deliveryEnded.
    virtual void messageOutcome(std::size_t message, MessageOutcome outcome) {
        (void)message;
        (void)outcome;
    }
};

enum class Security {
    None,     // plain SMTP
    StartTls, // plain connection, encrypted with STARTTLS before anything else
    Tls       // encrypted from the first byte
};

struct DeliveryConfig {
    std::string smtp;
    std::string port;
    std::string fromaddy;
    std::string localComputerName; // HELO names it when it holds a dot
    std::string runLogPath;
    // Seconds to wait for any one reply or data block; 0 keeps the usual limits of a
    // mail client (5 minutes for the greeting, MAIL and RCPT, 2 for DATA and QUIT, 3 per
    // data block, 10 for the end of data).
    int timeoutSeconds = 0;
    // With Security::None, no user and no `extensions`, the session opens with HELO;
    // otherwise with EHLO, which brings PIPELINING and SIZE when the server offers them.
    Security security = Security::None;
    std::string user{}; // login name; empty: no login
    std::string password{};
    bool extensions = false;
    int perConnection = 0; // messages per connection, then a new one; 0: no limit
    int ratePerMinute = 0; // messages per minute, evenly spaced; 0: no limit
};

// Listener calls may run nested event loops (socket events that arrive meanwhile are
// handled after the call returns, in their order), and may destroy the dialogue: it
// then drops the connection and touches neither the listener nor the logs again.
class SmtpDialogue {
public:
    SmtpDialogue(DeliveryListener& listener, std::vector<std::string>& runLog,
                 std::vector<std::string>& sentLog);
    ~SmtpDialogue();
    SmtpDialogue(const SmtpDialogue&) = delete;
    SmtpDialogue& operator=(const SmtpDialogue&) = delete;

    // The show step: gauge 0, "Connecting...", Addr/Port from the config, Connect.
    // Immediate failures throw (ESocketException, a std::runtime_error) with the
    // socket's text; nothing is written to the memo or the run log then, and the
    // dialogue is idle again (the next start() works). The messages are copied (sharing
    // their line blocks), so the caller may release its list at any time. An empty
    // runLogPath keeps the run log in memory only; otherwise the lines this run adds to
    // the run log are appended to that file when it ends.
    void start(const OutgoingList& messages, int recipientCount, const DeliveryConfig& config);
    // Cancel: abandon the dialogue where it stands; nothing more is sent.
    void cancel();
    // The caller's clean-up after the window has closed: the orderly close.
    void closeConnection();

    bool ended() const;
    bool errorsOccurred() const;
    TWSocket& socket();

    // True from start() until the run ends, is cancelled or closed.
    bool running() const;
    // The position in the dialogue (0 greeting ... 7 QUIT sent).
    int deliveryState() const;
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
