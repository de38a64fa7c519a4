// SPDX-License-Identifier: GPL-3.0-or-later
// Real SMTP servers for end-to-end tests, started on a free 127.0.0.1 port for the
// lifetime of the object and stopped (and their files removed) when it is destroyed.
//
//  - AiosmtpdServer: Debian's python3-aiosmtpd (run by /usr/bin/python3) through our
//    small script tests/support/smtp_store_server.py; it stores every message byte for
//    byte as received after dot-unstuffing. Options add STARTTLS or implicit TLS with
//    certificates from TestCertificates, and AUTH PLAIN/LOGIN for one user.
//    With a file of valid bearer tokens it also offers XOAUTH2 and OAUTHBEARER.
//  - SmtpSinkServer: Postfix's smtp-sink with extra arguments for fault injection
//    ("-f RCPT", "-r DATA", "-q .", "-Q MAIL", ...); it throws mail away unless asked
//    to dump it.
//
// Both constructors throw std::runtime_error when the server cannot be started.
#pragma once

#include <QStringList>
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
    bool encrypted = false;          // the session was under TLS when it came
    std::string login;               // the user who had logged in ("" when none)
    int connection = 0;              // which connection it came over, from 1
};

// Certificates made with the `openssl` tool for one test: a throw-away certificate
// authority and, as PEM files (certificate then key), server identities it signs or not.
// Point SSL_CERT_FILE at caFile() (see ScopedEnv) so that only this authority is trusted.
class TestCertificates {
public:
    struct Identity {
        std::string certFile;
        std::string keyFile;
    };
    // Throws std::runtime_error when the tool fails.
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    const std::string& caFile() const { return caFile_; }
    // Signed by the authority, for localhost and 127.0.0.1.
    const Identity& trusted() const { return trusted_; }
    // Signed by the authority, for "wrong.test" only.
    const Identity& wrongName() const { return wrongName_; }
    // For localhost and 127.0.0.1, but signed by itself.
    const Identity& selfSigned() const { return selfSigned_; }
    // Signed by the authority, with this subject common name and these subject
    // alternative names ("DNS:a.test, IP:127.0.0.1"; "": none at all). `name` names
    // the files.
    Identity issue(const std::string& name, const std::string& commonName,
                   const std::string& altNames);

private:
    void signedByCa(const std::string& name, const std::string& commonName,
                    const std::string& extFile, const std::string& section);

    std::unique_ptr<TempDir> dir_;
    std::string caFile_;
    Identity trusted_, wrongName_, selfSigned_;
};

struct AiosmtpdOptions {
    enum class Tls {
        None,     // plain SMTP only
        StartTls, // offers STARTTLS
        Implicit  // TLS from the first byte
    };
    Tls tls = Tls::None;
    TestCertificates::Identity identity; // required unless tls is None
    bool requireStartTls = false;        // refuses mail transactions before STARTTLS
    // With a user, AUTH PLAIN and LOGIN are offered and accept only this user and password.
    std::string user, password;
    bool authRequired = false;
    // Allows AUTH on a plain connection (aiosmtpd refuses it there by default).
    bool authWithoutTls = false;
    // Refused at RCPT TO: "a@x" with 550, "a@x=451" with the code after the "=".
    std::vector<std::string> refused;
    // The SIZE limit announced and enforced; 0 keeps aiosmtpd's own.
    std::size_t sizeLimit = 0;
    // PIPELINING is announced after EHLO.
    bool pipelining = false;
    // Connections are numbered in the order of their first MAIL FROM. The one of this
    // number is cut off at its first RCPT TO, unanswered; 0: none.
    int dropConnection = 0;
    // These are cut off at their first MAIL FROM, unanswered.
    std::vector<int> dropAtMail;
    // With a file of bearer tokens (one a line, read at each AUTH; IdentityProvider's
    // tokensFile() fits), XOAUTH2 and OAUTHBEARER are offered and accept those tokens
    // (for `user` only, when one is given).
    std::string oauthTokensFile;
    bool oauthOnly = false;          // PLAIN and LOGIN are not offered
    bool withoutOAuthBearer = false; // only XOAUTH2
};

// A relay that takes nothing but XOAUTH2 after STARTTLS, with the tokens of `tokensFile`.
inline AiosmtpdOptions TokenOnlyRelay(const TestCertificates& certs,
                                      const std::string& tokensFile) {
    AiosmtpdOptions options;
    options.tls = AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.oauthTokensFile = tokensFile;
    options.oauthOnly = true;
    options.withoutOAuthBearer = true;
    return options;
}

class AiosmtpdServer {
public:
    AiosmtpdServer();
    explicit AiosmtpdServer(const AiosmtpdOptions& options);
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer&) = delete;
    AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    const std::string& storeDir() const { return storeDir_; }

    // The messages stored so far, in the order they were accepted.
    std::vector<StoredMessage> messages() const;
    // One line per AUTH with a bearer token: the mechanism, "user=...", for OAUTHBEARER
    // "host=..." and "port=...", then "token=valid", "token=malformed <why>" or
    // "token=invalid answer=ok|wrong|cancelled" (the client's answer to the error
    // challenge: an empty line for XOAUTH2, ^A for OAUTHBEARER, is right; then the server
    // answers 535, else 501).
    std::vector<std::string> authLog() const;
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

// Runs /usr/bin/python3 with a script of ours that prints its port on the first line of
// its output once it listens; returns that port. Throws std::runtime_error (with the
// script's messages) when it does not start.
std::uint16_t StartPythonServer(QProcess& proc, const QStringList& scriptAndArguments);
// Terminates, then kills when needed.
void StopServerProcess(QProcess* proc);

// A 127.0.0.1 port that was free a moment ago (nothing listens on it).
std::uint16_t UnusedLoopbackPort();
// Something accepts connections on this 127.0.0.1 port (the probe connects once).
bool CanConnectToLoopback(std::uint16_t port);

} // namespace tandrel::test
