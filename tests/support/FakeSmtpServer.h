// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted SMTP peer for tests: a real listening socket on 127.0.0.1 (port chosen by
// the system) served by a thread of its own that plays a script step by step: expected
// client lines or bytes, replies (whole, split or raw), pauses and closes.
//
// Every mismatch, time-out or early close is recorded as a failure. When the object is
// destroyed the test fails (ADD_FAILURE) if the script was not used up, if anything
// went wrong, or if the client sent bytes after the last step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tandrel::test {

class FakeSmtpServer {
public:
    FakeSmtpServer();
    ~FakeSmtpServer();
    FakeSmtpServer(const FakeSmtpServer&) = delete;
    FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }

    // --- script (build it before start()) ---
    // Bytes sent exactly as given.
    FakeSmtpServer& send(std::string bytes);
    // Bytes sent as far as the client takes them: its close or reset before the end is
    // not a failure (for hostile servers that stream until the client gives up).
    FakeSmtpServer& flood(std::string bytes);
    // One reply line: the text followed by CR LF.
    FakeSmtpServer& reply(const std::string& line);
    // One line from the client, compared without its CR LF (which must be there).
    FakeSmtpServer& expect(const std::string& line);
    // Exactly these bytes from the client (for message data and odd framing).
    FakeSmtpServer& expectBytes(std::string bytes);
    FakeSmtpServer& pause(int ms);
    // The server closes the connection.
    FakeSmtpServer& close();
    // The client closes the connection, sending nothing more before it does.
    FakeSmtpServer& expectClose();
    // Reads whatever arrives until the client closes (kept in received()).
    FakeSmtpServer& drainUntilClose();
    // Closes the current connection (if open) and accepts the next one.
    FakeSmtpServer& acceptNext();
    // Runs a function on the server thread (e.g. to raise a flag the test waits for).
    FakeSmtpServer& call(std::function<void()> fn);

    // Per-step time limit (default 10 s).
    void setStepTimeout(int ms) { stepTimeoutMs_ = ms; }
    // Do not count bytes after the last step as a failure.
    void allowTrailingBytes() { strictEnd_ = false; }

    // Starts serving the script (accepting the first connection).
    void start();
    // Processes Qt events until the script is used up or the time runs out.
    bool waitDone(int timeoutMs = 15000);

    bool done() const { return done_.load(); }
    std::vector<std::string> failures() const;
    // Every byte received from the client, in order, over all connections.
    std::string received() const;
    int connections() const { return connections_.load(); }

private:
    enum class Kind {
        Send,
        Flood,
        Expect,
        ExpectBytes,
        Pause,
        Close,
        ExpectClose,
        Drain,
        Accept,
        Call
    };
    struct Step {
        Kind kind;
        std::string text;
        int ms = 0;
        std::function<void()> fn;
    };

    void run();
    bool acceptOne();
    bool readMore(int timeoutMs); // false on close, error or time-out
    void fail(const std::string& why);
    void closeClient();

    int listenFd_ = -1;
    int clientFd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<Step> steps_;
    std::string pending_; // received, not yet consumed by a step
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> connections_{0};
    int stepTimeoutMs_ = 10000;
    bool strictEnd_ = true;
    bool peerClosed_ = false;
    mutable std::mutex mu_;
    std::vector<std::string> failures_;
    std::string received_;
};

// A session whose one message is taken whole but whose end of data is never answered:
// the server reads on until the client gives up and closes.
inline void ScriptUnansweredMessage(FakeSmtpServer& server, const std::string& from,
                                    const std::string& to) {
    server.reply("220 fake ready").expect("helo [127.0.0.1]").reply("250 fake");
    server.expect("MAIL FROM:<" + from + ">").reply("250 ok");
    server.expect("RCPT TO:<" + to + ">").reply("250 ok");
    server.expect("data").reply("354 go on").drainUntilClose();
}

} // namespace tandrel::test
