// Real SMTP servers for end-to-end tests, started on a free 127.0.0.1 port for the
// lifetime of the object and stopped (and their files removed) when it is destroyed.
//
//  - AiosmtpdServer: Debian's python3-aiosmtpd (run by /usr/bin/python3) through our
//    small script tests/support/smtp_store_server.py; it accepts everything and stores
//    every message byte for byte as received after dot-unstuffing.
//  - SmtpSinkServer: Postfix's smtp-sink with extra arguments for fault injection
//    ("-f RCPT", "-r DATA", "-q .", "-Q MAIL", ...); it throws mail away unless asked
//    to dump it.
//
// Both constructors throw std::runtime_error when the server cannot be started.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace tandrel::test {

class TempDir;

// One message as a server received it.
struct StoredMessage {
    std::string mailFrom;            // the MAIL FROM address, without angle brackets
    std::vector<std::string> rcptTo; // the RCPT TO addresses, in order
    std::string data;                // the message bytes (CR LF line ends), unstuffed
};

class AiosmtpdServer {
public:
    AiosmtpdServer();
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer&) = delete;
    AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    const std::string& storeDir() const { return storeDir_; }

    // The messages stored so far, in the order they were accepted.
    std::vector<StoredMessage> messages() const;
    // Processes Qt events until at least `count` messages are stored or the time runs out.
    bool waitForMessages(std::size_t count, int timeoutMs = 15000) const;

private:
    std::unique_ptr<TempDir> dir_;
    std::string storeDir_;
    std::unique_ptr<QProcess> proc_;
    std::uint16_t port_ = 0;
};

class SmtpSinkServer {
public:
    // `extraArgs` go before the listen address; with `dump`, every mail transaction is
    // also written to a file of its own (smtp-sink's dump format) for dumpedMessages().
    explicit SmtpSinkServer(std::vector<std::string> extraArgs = {}, bool dump = false);
    ~SmtpSinkServer();
    SmtpSinkServer(const SmtpSinkServer&) = delete;
    SmtpSinkServer& operator=(const SmtpSinkServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    bool running() const;

    // The dump files written so far (only with `dump`), ordered by file name. Each holds
    // smtp-sink's own header lines, then the message as received, lines ending in LF.
    std::vector<std::string> dumpedMessages() const;

private:
    std::unique_ptr<TempDir> dir_;
    std::string dumpDir_;
    std::unique_ptr<QProcess> proc_;
    std::uint16_t port_ = 0;
};

// A 127.0.0.1 port that was free a moment ago (nothing listens on it).
std::uint16_t UnusedLoopbackPort();

} // namespace tandrel::test
