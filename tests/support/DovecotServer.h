// SPDX-License-Identifier: GPL-3.0-or-later
// A real IMAP server for end-to-end tests: Debian's Dovecot, started in a temporary
// folder of its own with its own configuration (nothing of the system's is read or
// touched), listening on 127.0.0.1 only, on two free ports: one with STARTTLS, one with
// TLS from the first byte (TLS 1.2 at least, a certificate from TestCertificates). One
// user logs in with a password, which XOAUTH2 and OAUTHBEARER also take as the bearer
// token. The master is stopped through its pid file when the object is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/SmtpServers.h"

namespace tandrel::test {

struct DovecotOptions {
    TestCertificates::Identity identity; // the server's certificate and key
    std::string user = "alice";
    std::string password;
    std::string sentFolder;                // created, marked \Sent (UTF-8, no '"')
    std::vector<std::string> otherFolders; // created, unmarked
};

class DovecotServer {
public:
    // Why the tests cannot have the server ("" when they can).
    static std::string MissingReason();
    // Throws std::runtime_error (with the server's log) when it does not start.
    explicit DovecotServer(const DovecotOptions& options);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    std::uint16_t startTlsPort() const { return startTlsPort_; }
    std::uint16_t tlsPort() const { return tlsPort_; }
    // The server's log so far ("Login: user=<alice>, method=PLAIN, ...").
    std::string log() const;

private:
    void stop();

    std::unique_ptr<TempDir> dir_;
    std::uint16_t startTlsPort_ = 0, tlsPort_ = 0;
    int masterPid_ = 0;
};

} // namespace tandrel::test
