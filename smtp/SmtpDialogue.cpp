#include "SmtpDialogue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <deque>
#include <stdexcept>
#include <string_view>

#include "SmtpReply.h"
#include "TextFile.h"
#include "WSocket.h"
#include "WireRules.h"

namespace tandrel {

namespace {

constexpr const char* kCrLf = "\r\n";
// The longest reply taken (all its lines together). Replies to our commands are short;
// a server that sends more without ending its reply is not talking SMTP, and its text
// is neither taken for replies nor held without limit.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Received bytes held at most while a listener call runs a nested event loop.
constexpr std::size_t kMaxHeldBytes = 2 * kMaxReplyBytes;
// How much of a reply goes to the run log and the memo.
constexpr std::size_t kLoggedBytes = 4096;
// Before a command is given up after refusals that may be passing.
constexpr int kRetries = 6;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

bool Positive(int code) {
    return code / 100 == 2;
}
bool Temporary(int code) {
    return code / 100 == 4;
}
// Refusals that may come from a confused session: answered by starting the message
// again after RSET.
bool CommandError(int code) {
    return code == 500 || code == 501 || code == 503;
}
// Only a success that is not a greeting or a farewell accepts a message.
bool AcceptsMessage(int code) {
    return Positive(code) && code != 220 && code != 221;
}

} // namespace

struct SmtpDialogue::Impl {
    Impl(DeliveryListener& l, std::vector<std::string>& rl, std::vector<std::string>& sl)
        : listener(l), runLog(rl), sentLog(sl) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { onTimer(); });
    }

    DeliveryListener& listener;
    std::vector<std::string>& runLog;
    std::vector<std::string>& sentLog;
    TWSocket sock;
    QTimer timer; // the time-out of what is awaited now

    OutgoingList messages;
    DeliveryConfig config;
    int recipientCount = 1;

    // What the server still has to answer, in the order it was sent: each reply is
    // matched to the front entry.
    enum class Cmd { Greeting, Helo, Mail, Rcpt, Data, EndOfData, Rset, Quit };
    struct Outstanding {
        Cmd cmd;
        std::size_t message; // index into messages
    };
    std::deque<Outstanding> outstanding;

    // Run variables.
    int DeliveryState = 0;
    int RetryCount = 0;
    int SentCount = 0;
    std::size_t CurrentMessage = 0; // index into messages; messages.size() = none left
    bool ErrorsOccurred = false;
    int ProgressBase = 0;

    // The body of CurrentMessage on its way out.
    bool sendingData = false; // from the 354 until the end-of-data mark has gone
    bool linesDone = false;   // every line is with the socket; the mark is next
    std::size_t LineIndex = 0;
    MessageLines::Cursor cursor;
    bool lineOpen = false; // `rest` is the unsent part of line LineIndex
    bool restDot = false;  // it still needs its stuffing dot
    std::string_view rest; // followed by CR LF
    std::size_t checkedMessage = static_cast<std::size_t>(-1);
    std::string checkResult;

    bool isRunning = false;
    bool connected = false; // the TCP connection of this run was made
    bool hasEnded = false;
    int gauge = -1;          // last value reported
    std::string rx;          // received bytes not yet taken as a reply
    bool rxOverflow = false; // more arrived than could be held
    std::string batch;

    // Socket and timer events that arrive while one of our handlers is on the stack:
    // the connection went during a send of ours, or a listener call runs a nested event
    // loop. They are handled in their order once the handler has returned, so that the
    // dialogue never runs inside itself.
    enum class Deferred { DataSent, Replies, Closed, TimedOut };
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
            const std::string shown = Shortened(*reply, kLoggedBytes);
            memoReply(shown);
            log(shown);
        }
        if (emptyLine) {
            memoAppend("");
            log("");
        }
    }

    const std::string& address(std::size_t i) const { return messages[i].address; }
    bool messageLeft() const { return CurrentMessage < messages.size(); }

    // Every message has had its outcome; at most the QUIT is unanswered.
    bool allDealtWith() const {
        return !messageLeft() && !sendingData &&
               std::all_of(outstanding.begin(), outstanding.end(),
                           [](const Outstanding& o) { return o.cmd == Cmd::Quit; });
    }

    int timeoutMs(Cmd cmd) const {
        if (config.timeoutSeconds > 0) return config.timeoutSeconds * 1000;
        constexpr int minute = 60 * 1000;
        switch (cmd) {
        case Cmd::Data:
        case Cmd::Quit:
            return 2 * minute;
        case Cmd::EndOfData:
            return 10 * minute;
        default:
            return 5 * minute;
        }
    }
    int dataBlockTimeoutMs() const {
        return config.timeoutSeconds > 0 ? config.timeoutSeconds * 1000 : 3 * 60 * 1000;
    }
    // Times what is awaited now: the front reply, or the data block in flight.
    void armTimer() {
        if (!outstanding.empty())
            timer.start(timeoutMs(outstanding.front().cmd));
        else if (sendingData)
            timer.start(dataBlockTimeoutMs());
        else
            timer.stop();
    }

    // A command line: never sent when a byte taken from data would split it.
    void command(const std::string& line, Cmd cmd, bool logged) {
        if (HasLineBreak(line))
            throw std::runtime_error("Error, a command would hold a line break; not sent");
        const std::string text = line + kCrLf;
        if (logged) log(text);
        outstanding.push_back({cmd, CurrentMessage});
        armTimer();
        sock.SendText(text);
    }

    // --- socket and timer events ---
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
        guarded([this] { sendMoreData(); });
    }

    void onSocketClosed() {
        if (!isRunning) return;
        if (depth > 0) {
            defer(Deferred::Closed);
            return;
        }
        guarded([this] { connectionLost(); });
    }

    void onTimer() {
        if (!isRunning) return;
        if (depth > 0) {
            defer(Deferred::TimedOut);
            return;
        }
        guarded([this] { timedOut(); });
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
                    sendMoreData();
                    break;
                case Deferred::Replies:
                    takeReplies();
                    break;
                case Deferred::Closed:
                    connectionLost();
                    break;
                case Deferred::TimedOut:
                    timedOut();
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
            if (!allDealtWith()) {
                ErrorsOccurred = true;
                memoReply(text);
                log(text);
            }
            endDelivery();
        } catch (...) {
            isRunning = false;
        }
    }

    void connectionLost() {
        if (!isRunning) return;
        if (!rx.empty()) {
            log(Shortened(UpToNul(rx), kLoggedBytes)); // an unfinished reply, for the record
            rx.clear();
        }
        // Gone after the last message had its answer: nothing was lost.
        if (!allDealtWith()) report("Error, connection closed by server", nullptr, false);
        endDelivery();
    }

    void timedOut() {
        if (!isRunning) return;
        if (!connected) { // reported like a connection that could not be made
            memoClear();
            log("");
            log("");
        }
        if (!allDealtWith())
            report("Error, server did not answer in time, disconnecting", nullptr, false);
        if (!isRunning) return;
        if (sock.State() != wsClosed) sock.AbortConnection();
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
        connected = true;
        DeliveryState = 0;
        SentCount = 0;
        CurrentMessage = 0;
        RetryCount = 0;
        resetLines();
        outstanding.clear();
        outstanding.push_back({Cmd::Greeting, 0});
        armTimer();
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
        log(Shortened(UpToNul(rx), kLoggedBytes)); // the beginning, for the record
        rx.clear();
        rxOverflow = false;
        report("Error, reply from server too long, disconnecting", nullptr, false);
        if (!isRunning) return;
        sock.AbortConnection(); // nothing more is taken from it
        endDelivery();
    }

    void handleReply(const std::string& received) {
        const std::string reply = UpToNul(received);
        log(Shortened(reply, kLoggedBytes));
        const int code = ReplyCode(reply);
        if (outstanding.empty()) {
            // Nothing was asked: the server is not answering what we sent, so no later
            // reply could be trusted to mean what it says.
            report("Error, unexpected reply from server", &reply, false);
            if (!isRunning) return;
            sock.AbortConnection();
            endDelivery();
            return;
        }
        const Outstanding o = outstanding.front();
        // A greeting spread over several "220 " replies: the extra ones precede the
        // answer to HELO.
        if (o.cmd == Cmd::Helo && code == 220) return;
        outstanding.pop_front();
        armTimer();
        switch (o.cmd) {
        case Cmd::Greeting:
            onGreeting(code, reply);
            break;
        case Cmd::Helo:
            onHelo(code, reply);
            break;
        case Cmd::Mail:
            onMailOrRcpt(code, reply, false);
            break;
        case Cmd::Rcpt:
            onMailOrRcpt(code, reply, true);
            break;
        case Cmd::Data:
            onData(code, reply);
            break;
        case Cmd::EndOfData:
            onEndOfData(code, reply, o.message);
            break;
        case Cmd::Rset:
            if (code == 421) {
                connectionRefusedForNow(reply);
                break;
            }
            startMessage();
            break;
        case Cmd::Quit:
            endDelivery();
            break;
        }
    }

    void connectionRefusedForNow(const std::string& reply) {
        report("Error, server temporarily refused the connection, try again later:", &reply, false);
        endDelivery();
    }

    void messageRefusedForNow(std::size_t message, const std::string& reply) {
        report("Error, mail to: " + Quoted(address(message)) +
                   " temporarily refused, try again later:",
               &reply, true);
    }

    void onGreeting(int code, const std::string& reply) {
        if (Positive(code)) {
            sendHelo();
        } else if (Temporary(code)) {
            connectionRefusedForNow(reply);
        } else {
            report("Error, could not connect to server:", &reply, false);
            endDelivery();
        }
    }

    void onHelo(int code, const std::string& reply) {
        if (Positive(code)) {
            startMessage();
        } else if (code == 421) {
            connectionRefusedForNow(reply);
        } else if (CommandError(code) && messageLeft()) {
            retryOrGiveUp(reply);
        } else {
            report(code / 100 == 5
                       ? "Warning, server did not recognize helo command, attempting to resume:"
                       : "Error, unknown response sending helo command, attempting to resume:",
                   &reply, true);
            if (isRunning) startMessage();
        }
    }

    void onMailOrRcpt(int code, const std::string& reply, bool rcpt) {
        if (Positive(code)) {
            if (rcpt) {
                DeliveryState = 4;
                command("data", Cmd::Data, false);
            } else {
                sendRcpt();
            }
        } else if (Temporary(code)) {
            messageRefusedForNow(CurrentMessage, reply);
            if (!isRunning) return;
            if (code == 421)
                endDelivery();
            else
                skipCurrent();
        } else if (CommandError(code)) {
            retryOrGiveUp(reply);
        } else if (rcpt) {
            report("Error, illegal receipient " + Quoted(address(CurrentMessage)) + ", resuming:",
                   &reply, true);
            if (isRunning) skipCurrent();
        } else {
            report("Error, server could not process sender's address, disconnecting:", &reply,
                   true);
            endDelivery();
        }
    }

    void onData(int code, const std::string& reply) {
        if (code / 100 == 3) {
            resetLines();
            sendingData = true;
            sendLines();
        } else if (Temporary(code)) {
            messageRefusedForNow(CurrentMessage, reply);
            if (!isRunning) return;
            if (code == 421)
                endDelivery();
            else
                skipCurrent();
        } else if (CommandError(code)) {
            retryOrGiveUp(reply);
        } else if (RetryCount < kRetries) {
            // DATA refused: ask again, a bounded number of times.
            ++RetryCount;
            command("data", Cmd::Data, false);
        } else {
            giveUpCurrent(reply);
        }
    }

    void onEndOfData(int code, const std::string& reply, std::size_t message) {
        if (AcceptsMessage(code)) {
            const std::string& addr = address(message);
            const std::string line = "Mail was sent to: " + Quoted(addr);
            log(line);
            if (!orphaned) sentLog.push_back(addr);
            ++SentCount;
            memoAppend(line);
            setGauge(static_cast<long long>(SentCount) * 100 / recipientCount);
            ProgressBase = gauge;
            if (!isRunning) return;
            startMessage();
            return;
        }
        if (Temporary(code))
            messageRefusedForNow(message, reply);
        else
            report("Error, mail to: " + Quoted(address(message)) + " could not be sent:", &reply,
                   true);
        if (!isRunning) return;
        if (code == 421)
            endDelivery();
        else if (messageLeft())
            sendRset();
        else
            sendQuit();
    }

    void sendHelo() {
        DeliveryState = 1;
        command("helo " + HeloArgument(config.localComputerName, sock.Handle()), Cmd::Helo, true);
    }

    const std::string& messageProblem(std::size_t i) {
        if (checkedMessage != i) {
            checkedMessage = i;
            checkResult = MessageProblem(config.fromaddy, messages[i]);
        }
        return checkResult;
    }

    // MAIL FROM for the next message that can go out, or QUIT when none is left.
    void startMessage() {
        while (messageLeft()) {
            const std::string problem = messageProblem(CurrentMessage);
            if (problem.empty()) break;
            report(problem, nullptr, true);
            if (!isRunning) return;
            ++CurrentMessage;
            RetryCount = 0;
        }
        if (!messageLeft()) {
            sendQuit();
            return;
        }
        DeliveryState = 2;
        command("MAIL FROM:<" + config.fromaddy + ">", Cmd::Mail, true);
        setStatus("Sending " + std::to_string(SentCount + 1) + " of " +
                  std::to_string(recipientCount));
    }

    void sendRcpt() {
        DeliveryState = 3;
        command("RCPT TO:<" + address(CurrentMessage) + ">", Cmd::Rcpt, true);
    }

    void sendQuit() {
        DeliveryState = 7;
        command("quit", Cmd::Quit, false);
    }

    // Starts CurrentMessage again from MAIL FROM after the RSET is answered.
    void sendRset() {
        resetLines();
        DeliveryState = 1;
        command("rset", Cmd::Rset, false);
    }

    void retryOrGiveUp(const std::string& reply) {
        if (RetryCount < kRetries) {
            ++RetryCount;
            sendRset();
        } else {
            giveUpCurrent(reply);
        }
    }

    void skipCurrent() {
        ++CurrentMessage;
        RetryCount = 0;
        resetLines();
        if (messageLeft())
            sendRset();
        else
            sendQuit();
    }

    void giveUpCurrent(const std::string& reply) {
        report("Error, unknown problem with " + Quoted(address(CurrentMessage)) + ", resuming:",
               &reply, true);
        if (isRunning) skipCurrent();
    }

    void resetLines() {
        sendingData = false;
        linesDone = false;
        LineIndex = 0;
        lineOpen = false;
        restDot = false;
        rest = {};
    }

    void sendMoreData() {
        if (!sendingData) return;
        if (linesDone)
            sendEndOfData();
        else
            sendLines();
    }

    // The last line already ended in CR LF: the mark is "." CR LF alone, so the message
    // arrives exactly as composed.
    void sendEndOfData() {
        sendingData = false;
        linesDone = false;
        const std::size_t message = CurrentMessage;
        ++CurrentMessage;
        RetryCount = 0;
        DeliveryState = messageLeft() ? 1 : 6;
        outstanding.push_back({Cmd::EndOfData, message});
        armTimer();
        sock.SendText(std::string(".") + kCrLf);
    }

    // The next part of CurrentMessage, dot-stuffed, each line with CR LF: whole lines
    // while they fit in one batch, a longer line in pieces over several batches. The
    // gauge moves per line; the next batch goes out on the next OnDataSent, so each
    // batch waits for the earlier data to reach the network.
    void sendLines() {
        const MailNode& m = messages[CurrentMessage];
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
            DeliveryState = 5;
            linesDone = true;
        }
        if (batch.empty()) {
            sendEndOfData();
            return;
        }
        timer.start(dataBlockTimeoutMs());
        sock.Send(batch.data(), static_cast<int>(batch.size()));
    }

    void endDelivery() {
        if (!isRunning) return;
        isRunning = false;
        hasEnded = true;
        timer.stop();
        sendingData = false;
        outstanding.clear();
        if (static_cast<std::size_t>(SentCount) >= messages.size())
            memoAppend("All letters have been sent");
        else
            memoAppend(std::to_string(SentCount) + " of " + std::to_string(messages.size()) +
                       " letters have been sent");
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
        timer.stop();
        outstanding.clear();
        resetLines();
        cursor = MessageLines::Cursor();
        messages.clear();
        checkedMessage = static_cast<std::size_t>(-1);
        CurrentMessage = 0;
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
        r.SentCount = 0;
        r.connected = false;
        r.timer.start(r.timeoutMs(Impl::Cmd::Greeting));
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
int SmtpDialogue::acceptedCount() const {
    return d->SentCount;
}

} // namespace tandrel
