// SPDX-License-Identifier: GPL-3.0-or-later
// The client side of a TLS session on memory buffers, with OpenSSL 3: certificate chain
// and host name verification, TLS 1.2 or newer, clear texts for the failures.
#include "smtp/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace tandrel {

namespace {

// Plain text is handed to the library in slices of at most one record, so the encrypted
// copy never piles up inside it.
constexpr std::size_t kWriteSlice = 16384;

bool IsIpAddress(const std::string& host) {
    unsigned char buf[16];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string LibraryReason() {
    const unsigned long e = ERR_peek_last_error();
    if (e == 0) return "";
    const char* reason = ERR_reason_error_string(e);
    return reason ? reason : "error " + std::to_string(ERR_GET_REASON(e));
}

// The DNS names and IP addresses of a certificate; when it has none, its subject's
// common name, marked as such (it is never taken for a server name).
std::string CertificateNames(X509* cert) {
    std::string names;
    const auto add = [&names](const std::string& n) {
        if (!names.empty()) names += ", ";
        names += n;
    };
    auto* sans =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; sans && i < sk_GENERAL_NAME_num(sans); ++i) {
        const GENERAL_NAME* gn = sk_GENERAL_NAME_value(sans, i);
        if (gn->type == GEN_DNS) {
            const ASN1_STRING* s = gn->d.dNSName;
            add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                            static_cast<std::size_t>(ASN1_STRING_length(s))));
        } else if (gn->type == GEN_IPADD) {
            const ASN1_STRING* s = gn->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = "";
            const int len = ASN1_STRING_length(s);
            if (len == 4 || len == 16)
                ::inet_ntop(len == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(s), text,
                            sizeof text);
            add(text);
        }
    }
    GENERAL_NAMES_free(sans);
    if (names.empty()) {
        char cn[256] = "";
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn) >
            0)
            names = std::string("no server names, only the subject ") + cn;
    }
    // The names come from the peer and end up in texts shown and logged.
    for (char& c : names)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return names.empty() ? "(no name)" : names;
}

int ChannelIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

} // namespace

int TlsChannel::verifyCallback(int ok, x509_store_ctx_st* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<TlsChannel*>(SSL_get_ex_data(ssl, ChannelIndex())) : nullptr;
    if (self && self->peerNames_.empty())
        if (X509* leaf = X509_STORE_CTX_get0_cert(store)) self->peerNames_ = CertificateNames(leaf);
    return ok;
}

TlsChannel::TlsChannel(const std::string& host) : host_(host) {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) throw std::runtime_error("Error, TLS is not available: " + LibraryReason());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, &TlsChannel::verifyCallback);
    // A missing store leaves nothing trusted, and the handshake then says so.
    SSL_CTX_set_default_verify_paths(ctx_);
    ssl_ = SSL_new(ctx_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        BIO_free(in_);
        BIO_free(out_);
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
        throw std::runtime_error("Error, TLS is not available: " + LibraryReason());
    }
    SSL_set_bio(ssl_, in_, out_); // owned by ssl_ from here on
    SSL_set_ex_data(ssl_, ChannelIndex(), this);
    SSL_set_connect_state(ssl_);
    if (!host.empty()) {
        // SSL_set1_host takes a name or an address; server name indication is for names.
        // "f*.example.test" is no name for "foo.example.test", and a certificate without
        // names for the server is not one for it, whatever its subject says.
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                    X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        SSL_set1_host(ssl_, host.c_str());
        // What SSL_set_tlsext_host_name expands to, without its C cast of the name.
        if (!IsIpAddress(host))
            SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(host.c_str()));
    }
}

TlsChannel::~TlsChannel() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
}

void TlsChannel::putCiphertext(const char* data, std::size_t len) {
    while (len > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(len, 1u << 30));
        const int n = BIO_write(in_, data, chunk);
        if (n <= 0) return;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

bool TlsChannel::takeCiphertext(std::string& out) {
    const std::size_t pending = BIO_ctrl_pending(out_);
    if (pending == 0) return false;
    const std::size_t old = out.size();
    out.resize(old + pending);
    std::size_t got = 0;
    if (BIO_read_ex(out_, out.data() + old, pending, &got) != 1) got = 0;
    out.resize(old + got);
    return got > 0;
}

TlsChannel::Result TlsChannel::handshake() {
    if (failed_) return Result::Failed;
    if (established_) return Result::Done;
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) {
        established_ = true;
        return Result::Done;
    }
    return fail(r, true);
}

TlsChannel::Result TlsChannel::readPlain(std::string& out) {
    if (failed_) return Result::Failed;
    char buf[16384];
    for (;;) {
        ERR_clear_error();
        std::size_t got = 0;
        const int r = SSL_read_ex(ssl_, buf, sizeof buf, &got);
        if (r == 1) {
            out.append(buf, got);
            continue;
        }
        return fail(0, false);
    }
}

bool TlsChannel::writePlain(const char* data, std::size_t len) {
    if (failed_ || !established_) return false;
    while (len > 0) {
        ERR_clear_error();
        std::size_t written = 0;
        if (SSL_write_ex(ssl_, data, std::min(len, kWriteSlice), &written) != 1) {
            fail(0, false);
            return false;
        }
        data += written;
        len -= written;
    }
    return true;
}

void TlsChannel::shutdown() {
    if (!established_ || failed_) return;
    ERR_clear_error();
    SSL_shutdown(ssl_);
}

bool TlsChannel::endedInsideRecord() {
    if (failed_ || !established_) return false;
    if (!SSL_has_pending(ssl_) && BIO_ctrl_pending(in_) == 0) return false;
    // The library names a cut-off record once it is told that no more bytes come.
    BIO_set_mem_eof_return(in_, 0);
    std::string ignored;
    if (readPlain(ignored) != Result::Failed) {
        failed_ = true;
        error_ = "Error, the encrypted connection failed: the server's last record was cut off";
    }
    return true;
}

TlsChannel::Result TlsChannel::fail(int sslResult, bool handshake) {
    switch (SSL_get_error(ssl_, sslResult)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return Result::Pending;
    case SSL_ERROR_ZERO_RETURN:
        return Result::Closed;
    default:
        break;
    }
    failed_ = true;
    if (handshake) {
        error_ = handshakeFailure();
    } else {
        const std::string reason = LibraryReason();
        error_ = "Error, the encrypted connection failed: " +
                 (reason.empty() ? std::string("protocol error") : reason);
    }
    return Result::Failed;
}

std::string TlsChannel::handshakeFailure() const {
    const long verify = SSL_get_verify_result(ssl_);
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return "Error, the server's certificate was issued for another name: " +
               (peerNames_.empty() ? std::string("(unknown)") : peerNames_) + " (not " + host_ +
               ")";
    if (verify != X509_V_OK)
        return std::string("Error, the server's certificate is not trusted: ") +
               X509_verify_cert_error_string(verify);
    const std::string reason = LibraryReason();
    return "Error, the encrypted connection could not be set up: " +
           (reason.empty() ? std::string("the server ended the handshake") : reason);
}

} // namespace tandrel
