#include "SmtpDialogue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cctype>
#include <deque>
#include <optional>
#include <string_view>

#include "TextFile.h"
#include "WSocket.h"

namespace tandrel {

namespace {

constexpr const char* kCrLf = "\r\n";
// The longest reply taken (all its lines together). Replies to our commands are short;
// a server that sends more without ending its reply is not talking SMTP, and its text
// is neither taken for replies nor held without limit.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Received bytes held at most while a listener call runs a nested event loop.
constexpr std::size_t kMaxHeldBytes = 2 * kMaxReplyBytes;
// How much of an over-long or unfinished reply goes to the run log.
constexpr std::size_t kLoggedBytes = 1024;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// A NUL byte ends a text, as it ends a text file read back later: the run log must not
// carry one.
std::string UpToNul(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// Length of the first complete reply in `rx` (0 when it has not fully arrived). A reply
// is a run of lines ending in LF (normally CR LF); lines "ddd-..." continue it, any other
// line ends it.
std::size_t CompleteReplyLength(const std::string& rx) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = rx.find('\n', pos);
        if (eol == std::string::npos) return 0;
        const bool continues =
            eol - pos >= 4 && std::isdigit(static_cast<unsigned char>(rx[pos])) &&
            std::isdigit(static_cast<unsigned char>(rx[pos + 1])) &&
            std::isdigit(static_cast<unsigned char>(rx[pos + 2])) && rx[pos + 3] == '-';
        pos = eol + 1;
        if (!continues) return pos;
    }
}

} // namespace

struct SmtpDialogue::Impl {
    Impl(DeliveryListener& l, std::vector<std::string>& rl, std::vector<std::string>& sl)
        : listener(l), runLog(rl), sentLog(sl) {}

    DeliveryListener& listener;
    std::vector<std::string>& runLog;
    std::vector<std::string>& sentLog;
    TWSocket sock;

    OutgoingList messages;
    DeliveryConfig config;
    int recipientCount = 1;

    // Run variables.
    int DeliveryState = 0;
    bool ReplyReceived = false;
    bool ResetReplyPending = true;
    int RetryCount = 0;
    int SentCount = 0;
    std::size_t LineIndex = 0;
    std::size_t CurrentMessage = 0;  // index into messages; messages.size() = none left
    std::size_t LastSentMessage = 0; // index into messages
    bool ErrorsOccurred = false;
    int ProgressBase = 0;

    bool isRunning = false;
    bool hasEnded = false;
    int gauge = -1;                           // last value reported
    std::string rx;                           // received bytes not yet taken as a reply
    bool rxOverflow = false;                  // more arrived than could be held
    MessageLines::Cursor cursor;              // next line of CurrentMessage
    std::optional<std::string_view> heldLine; // read, did not fit the last batch
    std::string batch;

    // Socket events that arrive while one of our handlers is on the stack: the
    // connection went during a send of ours, or a listener call runs a nested event
    // loop. They are handled in their order once the handler has returned, so that the
    // dialogue never runs inside itself.
    enum class Deferred { DataSent, Replies, Closed };
    int depth = 0; // handlers of ours on the stack
    std::deque<Deferred> deferred;

    // The owner went away while a handler of ours was on the stack: the listener and
    // the logs are gone, and this is released once the handler has returned.
    bool orphaned = false;
    bool releasePosted = false;
    unsigned stops = 0; // cancel() and closeConnection() calls

    // --- reporting (nothing reaches the listener or the logs once orphaned) ---
    void memoAppend(const std::string& line) {
        if (!orphaned) listener.memoAppend(line);
    }
    void memoClear() {
        if (!orphaned) listener.memoClear();
    }
    void setStatus(const std::string& text) {
        if (!orphaned) listener.setStatus(text);
    }
    void log(const std::string& item) {
        if (!orphaned) runLog.push_back(item);
    }
    void setGauge(long long value) {
        const int v = static_cast<int>(std::clamp<long long>(value, 0, 100));
        if (v == gauge) return;
        gauge = v;
        if (!orphaned) listener.setGauge(v);
    }

    // A reply shown in the memo: one memo line per reply line, without line ends.
    void memoReply(const std::string& reply) {
        std::size_t pos = 0;
        do {
            std::size_t eol = reply.find('\n', pos);
            const std::size_t next = eol == std::string::npos ? reply.size() : eol + 1;
            if (eol == std::string::npos) eol = reply.size();
            std::size_t end = eol;
            if (end > pos && reply[end - 1] == '\r') --end;
            memoAppend(reply.substr(pos, end - pos));
            pos = next;
        } while (pos < reply.size());
    }

    // An error report: the heading, optionally the reply and an empty line, to the memo
    // and, in the same order, to the run log.
    void report(const std::string& heading, const std::string* reply, bool emptyLine) {
        ErrorsOccurred = true;
        memoAppend(heading);
        log(heading);
        if (reply) {
            memoReply(*reply);
            log(*reply);
        }
        if (emptyLine) {
            memoAppend("");
            log("");
        }
    }

    const std::string& address(std::size_t i) const { return messages[i].address; }
    bool messageLeft() const { return CurrentMessage < messages.size(); }

    void send(const std::string& text) { sock.SendText(text); }

    // --- socket events ---
    void onSocketConnected(int error) {
        guarded([this, error] { onConnected(error); });
    }

    void onSocketData() {
        if (!isRunning) {
            // The run is over but the connection stays until the caller closes it:
            // whatever still comes is dropped rather than offered again and again.
            char buf[4096];
            sock.ReceiveData(buf, sizeof buf);
            return;
        }
        if (depth > 0) {
            // Read now (the socket would offer the bytes again and again), take later.
            defer(receive() ? Deferred::Replies : Deferred::Closed);
            return;
        }
        guarded([this] {
            if (receive())
                takeReplies();
            else
                connectionLost();
        });
    }

    void onSocketDataSent() {
        if (!isRunning) return;
        if (depth > 0) {
            defer(Deferred::DataSent);
            return;
        }
        guarded([this] { sendNextCommand(); });
    }

    void onSocketClosed() {
        if (!isRunning) return;
        if (depth > 0) {
            defer(Deferred::Closed);
            return;
        }
        guarded([this] { connectionLost(); });
    }

    void defer(Deferred what) {
        if (what == Deferred::Replies && !deferred.empty() && deferred.back() == what) return;
        deferred.push_back(what);
    }

    // Runs a handler of ours, then what was deferred meanwhile.
    template <class F> void guarded(F&& f) {
        if (!isRunning) return;
        runHandler(f);
        while (depth == 0 && isRunning && !deferred.empty()) {
            const Deferred what = deferred.front();
            deferred.pop_front();
            runHandler([this, what] {
                switch (what) {
                case Deferred::DataSent:
                    sendNextCommand();
                    break;
                case Deferred::Replies:
                    takeReplies();
                    break;
                case Deferred::Closed:
                    connectionLost();
                    break;
                }
            });
        }
        if (depth > 0) return;
        if (!isRunning) deferred.clear();
        if (orphaned) releaseLater();
    }

    template <class F> void runHandler(F&& f) {
        ++depth;
        try {
            f();
        } catch (const std::exception& e) {
            handlerFailed(e.what());
        } catch (...) {
            handlerFailed("Error, unknown failure");
        }
        --depth;
    }

    // Something failed inside our own handling (for example a send on a connection
    // that has gone): report it and end the run instead of waiting forever.
    void handlerFailed(const std::string& text) {
        if (!isRunning) return;
        try {
            if (std::find(deferred.begin(), deferred.end(), Deferred::Closed) != deferred.end()) {
                deferred.clear();
                connectionLost();
                return;
            }
            ErrorsOccurred = true;
            memoReply(text);
            log(text);
            endDelivery();
        } catch (...) {
            isRunning = false;
        }
    }

    void connectionLost() {
        if (!isRunning) return;
        if (!rx.empty()) {
            log(UpToNul(rx.substr(0, kLoggedBytes))); // an unfinished reply, for the record
            rx.clear();
        }
        report("Error, connection closed by server", nullptr, false);
        endDelivery();
    }

    void onConnected(int error) {
        if (error != 0) {
            // The TCP connection could not be made: say so and end the run.
            memoClear();
            log("");
            log("");
            const std::string desc = ErrorDesc(error);
            report("Error, could not connect to server:", &desc, false);
            endDelivery();
            return;
        }
        DeliveryState = 0;
        SentCount = 0;
        CurrentMessage = 0;
        LastSentMessage = 0;
        ResetReplyPending = true;
        RetryCount = 0;
        ReplyReceived = false;
        LineIndex = 0;
        heldLine.reset();
        rx.clear();
        rxOverflow = false;
        memoClear();
        log("");
        log("");
        log("Connected to server - session initiated");
        if (!isRunning) return;
        setStatus("Connected to Host");
    }

    // One read into the received bytes; false when the server has closed the connection.
    bool receive() {
        char buf[4096];
        const int n = sock.ReceiveData(buf, sizeof buf);
        if (n == 0) return false;
        if (n < 0) return true; // nothing waiting, or a failure the close event reports
        if (rx.size() + static_cast<std::size_t>(n) > kMaxHeldBytes)
            rxOverflow = true;
        else
            rx.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    // Handles every complete reply received, in order.
    void takeReplies() {
        while (isRunning) {
            const std::size_t len = CompleteReplyLength(rx);
            if (len > kMaxReplyBytes || (len == 0 && (rx.size() > kMaxReplyBytes || rxOverflow))) {
                replyTooLong();
                return;
            }
            if (len == 0) return;
            const std::string reply = rx.substr(0, len);
            rx.erase(0, len);
            handleReply(reply);
        }
    }

    void replyTooLong() {
        log(UpToNul(rx.substr(0, kLoggedBytes))); // the beginning, for the record
        rx.clear();
        rxOverflow = false;
        report("Error, reply from server too long, disconnecting", nullptr, false);
        if (!isRunning) return;
        sock.AbortConnection(); // nothing more is taken from it
        endDelivery();
    }

    void handleReply(const std::string& received) {
        ReplyReceived = true;
        const std::string reply = UpToNul(received);
        log(reply);
        const std::string code = reply.substr(0, 3);
        const char first = reply.empty() ? '\0' : reply[0];
        if (first != '2' && first != '3') {
            handleErrorReply(code, reply);
            return;
        }
        if ((DeliveryState == 1 || DeliveryState == 6) && !ResetReplyPending) {
            const std::string& addr = address(LastSentMessage);
            const std::string line = "Mail was sent to: " + Quoted(addr);
            log(line);
            if (!orphaned) sentLog.push_back(addr);
            ++SentCount;
            memoAppend(line);
            setGauge(static_cast<long long>(SentCount) * 100 / recipientCount);
            ProgressBase = gauge;
            if (!isRunning) return;
        }
        sendNextCommand();
    }

    void sendNextCommand() {
        if (!ReplyReceived || !isRunning) return;
        switch (DeliveryState) {
        case 0: {
            const std::string cmd = "helo " + config.localComputerName + kCrLf;
            log(cmd);
            send(cmd);
            ReplyReceived = false;
            DeliveryState = 1;
            break;
        }
        case 1: {
            if (!messageLeft()) { // nothing left to start: finish instead
                DeliveryState = 6;
                sendNextCommand();
                return;
            }
            const std::string cmd = "mail from: <" + config.fromaddy + ">" + kCrLf;
            log(cmd);
            send(cmd);
            ReplyReceived = false;
            DeliveryState = 2;
            setStatus("Sending " + std::to_string(SentCount + 1) + " of " +
                      std::to_string(recipientCount));
            break;
        }
        case 2: {
            const std::string cmd = "rcpt to: <" + address(CurrentMessage) + ">" + kCrLf;
            log(cmd);
            send(cmd);
            ReplyReceived = false;
            DeliveryState = 3;
            break;
        }
        case 3:
            send(std::string("data") + kCrLf);
            ReplyReceived = false;
            DeliveryState = 4;
            break;
        case 4:
            sendLines();
            break;
        case 5:
            ResetReplyPending = false;
            // The last line already ended in CR LF: the mark is "." CR LF alone, so the
            // message arrives exactly as composed.
            send(std::string(".") + kCrLf);
            RetryCount = 0;
            ReplyReceived = false;
            DeliveryState = messageLeft() ? 1 : 6;
            break;
        case 6:
            send(std::string("quit") + kCrLf);
            ReplyReceived = false;
            DeliveryState = 7;
            break;
        case 7:
            endDelivery();
            break;
        }
    }

    // The next lines of CurrentMessage, dot-stuffed, each with CR LF, as many as fit in
    // one batch. The gauge moves per line; the next batch goes out on the next
    // OnDataSent, so each batch waits for the earlier data to reach the network.
    void sendLines() {
        const MailNode& m = messages[CurrentMessage];
        const std::size_t n = m.lines.size();
        if (LineIndex == 0) {
            cursor = m.lines.cursor();
            heldLine.reset();
        }
        batch.clear();
        while (LineIndex < n) {
            const std::string_view line = heldLine ? *heldLine : cursor.next();
            heldLine.reset();
            const bool stuff = !line.empty() && line[0] == '.';
            const std::size_t need = line.size() + 2 + (stuff ? 1 : 0);
            if (!batch.empty() && batch.size() + need > kBatchBytes) {
                heldLine = line;
                break;
            }
            if (stuff) batch += '.';
            batch.append(line);
            batch += kCrLf;
            setGauge(static_cast<long long>(LineIndex) * 100 / static_cast<long long>(n) /
                         recipientCount +
                     ProgressBase);
            if (!isRunning) return;
            ++LineIndex;
        }
        if (LineIndex >= n) {
            DeliveryState = 5;
            LastSentMessage = CurrentMessage;
            ++CurrentMessage;
            LineIndex = 0;
            heldLine.reset();
        }
        sock.Send(batch.data(), static_cast<int>(batch.size()));
    }

    // Starts CurrentMessage again from MAIL FROM after an RSET.
    void sendReset() {
        LineIndex = 0;
        heldLine.reset();
        DeliveryState = 1;
        ReplyReceived = false;
        ResetReplyPending = true;
        send(std::string("rset") + kCrLf);
    }

    void skipCurrent() {
        ++CurrentMessage;
        LineIndex = 0;
        heldLine.reset();
        if (messageLeft()) {
            sendReset();
        } else {
            DeliveryState = 6;
            sendNextCommand();
        }
    }

    void giveUpCurrent(const std::string& reply) {
        report("Error, unknown problem with " + Quoted(address(CurrentMessage)) + ", resuming:",
               &reply, true);
        RetryCount = 0;
        skipCurrent();
    }

    void reportNotSent(const std::string& reply) {
        report("Error, mail to: " + Quoted(address(LastSentMessage)) + " could not be sent:",
               &reply, true);
    }

    void handleErrorReply(const std::string& code, const std::string& reply) {
        const bool commandError = code == "503" || code == "500" || code == "501";
        const bool answersEndOfData =
            (DeliveryState == 1 && !ResetReplyPending) || DeliveryState == 6;
        // A rejected end of data concerns LastSentMessage, and with no message left there
        // is nothing to start again: those go by the table below.
        if (commandError && messageLeft() && !answersEndOfData) {
            if (RetryCount < 6) {
                ++RetryCount;
                sendReset();
            } else {
                giveUpCurrent(reply);
            }
            return;
        }
        switch (DeliveryState) {
        case 0:
            report("Error, could not connect to server:", &reply, false);
            endDelivery();
            break;
        case 1:
            if (ResetReplyPending) {
                report(!reply.empty() && reply[0] == '5'
                           ? "Warning, server did not recognize helo command, attempting to resume:"
                           : "Error, unknown response sending helo command, attempting to resume:",
                       &reply, true);
                if (isRunning) sendNextCommand();
            } else {
                reportNotSent(reply);
                if (isRunning) sendReset();
            }
            break;
        case 2:
            report("Error, server could not process sender's address, disconnecting:", &reply,
                   true);
            endDelivery();
            break;
        case 3:
            report("Error, illegal receipient " + Quoted(address(CurrentMessage)) + ", resuming:",
                   &reply, true);
            if (isRunning) skipCurrent();
            break;
        case 4:
            // DATA refused: ask again, a bounded number of times.
            if (RetryCount < 6) {
                ++RetryCount;
                LineIndex = 0;
                heldLine.reset();
                DeliveryState = 3;
                sendNextCommand();
            } else {
                giveUpCurrent(reply);
            }
            break;
        case 6:
            reportNotSent(reply);
            if (isRunning) sendNextCommand();
            break;
        case 7:
            // QUIT refused: every message has been dealt with, so the run is over all
            // the same (waiting here would only leave the user to cancel).
            endDelivery();
            break;
        default: // 5: nothing awaited
            break;
        }
    }

    void endDelivery() {
        if (!isRunning) return;
        isRunning = false;
        hasEnded = true;
        memoAppend("All letters have been sent");
        setStatus("Disconnected");
        if (ErrorsOccurred) memoAppend("Some errors occurred!");
        if (orphaned) return;
        bool saved = true;
        if (!config.runLogPath.empty()) {
            try {
                WriteTextFile(config.runLogPath, runLog);
            } catch (const std::exception&) {
                saved = false;
            }
        }
        if (!orphaned) listener.deliveryEnded(saved);
    }

    void releaseMessages() {
        heldLine.reset();
        cursor = MessageLines::Cursor();
        messages.clear();
        CurrentMessage = LastSentMessage = 0;
    }

    // The owner is going away. From inside a listener call (a handler of ours on the
    // stack) the connection is dropped at once and this is released when the handler
    // has returned; otherwise at once.
    void orphan() {
        orphaned = true;
        isRunning = false;
        deferred.clear();
        if (depth == 0) {
            delete this;
            return;
        }
        try {
            if (sock.State() != wsClosed) sock.AbortConnection();
        } catch (...) {
        }
    }

    // Called with no handler of ours on the stack, but maybe from inside the socket's
    // own dispatch: the release waits for the event loop.
    void releaseLater() {
        if (releasePosted) return;
        releasePosted = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { delete this; }, Qt::QueuedConnection);
    }
};

SmtpDialogue::SmtpDialogue(DeliveryListener& listener, std::vector<std::string>& runLog,
                           std::vector<std::string>& sentLog)
    : d(std::make_unique<Impl>(listener, runLog, sentLog)) {
    Impl* p = d.get();
    p->sock.setPort("25");
    p->sock.OnSessionConnected = [p](TWSocket*, int error) { p->onSocketConnected(error); };
    p->sock.OnDataAvailable = [p](TWSocket*, int) { p->onSocketData(); };
    p->sock.OnDataSent = [p](TWSocket*, int) { p->onSocketDataSent(); };
    p->sock.OnSessionClosed = [p](TWSocket*, int) { p->onSocketClosed(); };
}

SmtpDialogue::~SmtpDialogue() {
    d.release()->orphan();
}

void SmtpDialogue::start(const OutgoingList& messages, int recipientCount,
                         const DeliveryConfig& config) {
    Impl& r = *d;
    const bool wasClosed = r.sock.State() == wsClosed;
    if (r.isRunning || !wasClosed) throw ESocketException("Connect: Socket already in use");
    r.releaseMessages();
    r.messages = messages;
    r.recipientCount =
        recipientCount > 0 ? recipientCount : std::max<int>(1, static_cast<int>(messages.size()));
    r.config = config;
    r.hasEnded = false;
    r.deferred.clear();
    // The listener's calls may run a nested event loop, in which the user may cancel
    // or the owner may go.
    const unsigned stops = r.stops;
    ++r.depth;
    r.gauge = -1;
    r.setGauge(0);
    r.ErrorsOccurred = false;
    r.setStatus("Connecting...");
    --r.depth;
    if (r.orphaned) {
        delete &r;
        return;
    }
    if (r.stops != stops) {
        r.releaseMessages();
        return;
    }
    r.ProgressBase = 0;
    try {
        r.sock.setAddr(config.smtp);
        r.sock.setPort(config.port);
        r.isRunning = true;
        r.sock.Connect();
    } catch (...) {
        r.isRunning = false;
        if (r.sock.State() != wsClosed) {
            try {
                r.sock.AbortConnection();
            } catch (...) {
            }
        }
        r.releaseMessages();
        throw;
    }
}

void SmtpDialogue::cancel() {
    ++d->stops;
    d->isRunning = false;
    d->deferred.clear();
    try {
        if (d->sock.State() != wsClosed) d->sock.AbortConnection();
    } catch (...) {
    }
    d->releaseMessages();
}

void SmtpDialogue::closeConnection() {
    ++d->stops;
    d->isRunning = false;
    d->deferred.clear();
    d->sock.CloseConnection();
    d->releaseMessages();
}

bool SmtpDialogue::ended() const {
    return d->hasEnded;
}
bool SmtpDialogue::errorsOccurred() const {
    return d->ErrorsOccurred;
}
TWSocket& SmtpDialogue::socket() {
    return d->sock;
}
bool SmtpDialogue::running() const {
    return d->isRunning;
}
int SmtpDialogue::deliveryState() const {
    return d->DeliveryState;
}

} // namespace tandrel
