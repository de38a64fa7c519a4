// SPDX-License-Identifier: GPL-3.0-or-later
// TlsChannel: the client side of one TLS session, worked entirely on bytes in memory so
// that the socket's own event loop drives it (no blocking, no file descriptor inside).
#pragma once

#include <cstddef>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;
struct x509_store_ctx_st;

namespace tandrel {

class TlsChannel {
public:
    enum class Result {
        Done,    // the step is complete
        Pending, // more bytes from the peer are needed
        Closed,  // the peer ended the session (close_notify)
        Failed   // see errorText()
    };

    // Verifies the peer against the system's trusted certificates (SSL_CERT_FILE and
    // SSL_CERT_DIR are honoured) and against `host`, which is a DNS name (also sent as
    // server name indication) or an IP address. Only the certificate's subject
    // alternative names count, and a wildcard only as a whole label ("*.example.test").
    // Throws std::runtime_error when the library cannot be set up.
    explicit TlsChannel(const std::string& host);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Bytes received from the network.
    void putCiphertext(const char* data, std::size_t len);
    // Appends the bytes to be sent to the network; false when there are none.
    bool takeCiphertext(std::string& out);

    // Advances the handshake as far as the received bytes allow.
    Result handshake();
    bool established() const { return established_; }

    // Appends whatever can be decrypted to `out`: Pending when more bytes are needed,
    // Closed or Failed. Decrypted bytes are appended in every case.
    Result readPlain(std::string& out);
    // Encrypts everything; the records wait in TakeCiphertext. False on failure.
    bool writePlain(const char* data, std::size_t len);
    // Queues close_notify (best effort; nothing when the session is not established).
    void shutdown();
    // After the peer closed the connection and everything received has been read:
    // true when its bytes ended inside a record (a cut-off record, not an end between
    // records); errorText() then gives the library's reason.
    bool endedInsideRecord();

    // The text for the user after Failed, beginning with "Error, ".
    const std::string& errorText() const { return error_; }

private:
    Result fail(int sslResult, bool handshake);
    std::string handshakeFailure() const;

    ssl_ctx_st* ctx_ = nullptr;
    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;  // network -> library
    bio_st* out_ = nullptr; // library -> network
    bool established_ = false;
    bool failed_ = false;
    std::string host_;
    std::string error_;
    // The names the server's certificate was issued for, noted while it is verified.
    std::string peerNames_;

    static int verifyCallback(int ok, x509_store_ctx_st* store);
};

} // namespace tandrel
