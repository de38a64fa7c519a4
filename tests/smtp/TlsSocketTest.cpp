// SPDX-License-Identifier: GPL-3.0-or-later
// ClientSocket with TLS against real servers: aiosmtpd with implicit TLS and STARTTLS, with
// certificates made for each test by the openssl tool, and a STARTTLS peer that injects
// plain text ahead of the handshake.
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include "smtp/ClientSocket.h"
#include "smtp/TlsChannel.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using tandrel::test::AiosmtpdOptions;
using tandrel::test::AiosmtpdServer;
using tandrel::test::ScopedEnv;
using tandrel::test::TestCertificates;

namespace {

// A line-by-line SMTP client on a ClientSocket that records the events it sees.
struct Client {
    ClientSocket s;
    std::string rx;
    std::vector<std::string> events;
    int dataSent = 0;

    Client() {
        s.onSessionConnected = [this](ClientSocket*, int e) {
            events.push_back("connected " + std::to_string(e));
            // The greeting is not there yet for a plain connection; with implicit TLS it
            // may be, and TlsActive must already hold.
            if (e == 0 && s.implicitTls && !s.tlsActive()) events.push_back("not encrypted");
        };
        s.onTlsDone = [this](ClientSocket*, int e) {
            events.push_back("tls " + std::to_string(e));
        };
        s.onSessionClosed = [this](ClientSocket*, int e) {
            events.push_back("closed " + std::to_string(e));
        };
        s.onDataSent = [this](ClientSocket*, int) { ++dataSent; };
        s.onDataAvailable = [this](ClientSocket* sock, int) {
            char buf[4096];
            const int n = sock->receive(buf, sizeof buf);
            if (n > 0) rx.append(buf, static_cast<std::size_t>(n));
        };
    }

    void connect(const std::string& host, const std::string& port, bool implicit) {
        s.implicitTls = implicit;
        s.setAddress(host);
        s.setPort(port);
        s.connectToHost();
    }

    // Waits for a complete reply (its last line "NNN text"); returns it and forgets it.
    std::string reply() {
        const auto complete = [this] {
            if (rx.size() < 6 || rx.compare(rx.size() - 2, 2, "\r\n") != 0) return false;
            const std::size_t start = rx.rfind("\r\n", rx.size() - 3);
            const std::size_t b = start == std::string::npos ? 0 : start + 2;
            return rx.size() - b >= 4 && rx[b + 3] == ' ';
        };
        if (!QTest::qWaitFor(complete, 10000)) return "(no reply: " + rx + ")";
        std::string r;
        r.swap(rx);
        return r;
    }

    std::string command(const std::string& line) {
        s.sendText(line + "\r\n");
        return reply();
    }

    bool waitForEvent(const std::string& e) {
        return QTest::qWaitFor(
            [&] { return std::find(events.begin(), events.end(), e) != events.end(); }, 10000);
    }
};

std::string Body(std::size_t lines) {
    std::string s = "Subject: over TLS\r\n\r\n";
    for (std::size_t i = 0; i < lines; ++i)
        s += "line " + std::to_string(i) + " of a message long enough for many records\r\n";
    return s;
}

// Delivers one message on a connection that has its greeting (and TLS) behind it.
void Deliver(Client& c, const std::string& body) {
    EXPECT_EQ(c.command("EHLO client.test").substr(0, 4), "250-");
    EXPECT_EQ(c.command("MAIL FROM:<a@example.org>").substr(0, 3), "250");
    EXPECT_EQ(c.command("RCPT TO:<b@example.org>").substr(0, 3), "250");
    EXPECT_EQ(c.command("DATA").substr(0, 3), "354");
    const int sentBefore = c.dataSent;
    EXPECT_EQ(c.s.sendText(body), static_cast<long long>(body.size())); // ends in CR LF
    EXPECT_EQ(c.dataSent, sentBefore) << "onDataSent fired inside Send";
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.dataSent > sentBefore; }, 10000));
    EXPECT_EQ(c.command(".").substr(0, 3), "250");
    EXPECT_EQ(c.command("QUIT").substr(0, 3), "221");
}

} // namespace

// Both ways into TLS carry a large message intact, to the host given by name and by
// address, and the server sees it encrypted.
TEST(TlsSocket, ImplicitAndStartTlsDeliverIntactToNameAndAddress) {
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    const std::string body = Body(20000); // about 1 MB: many records and partial writes
    for (const bool implicit : {true, false}) {
        for (const std::string host : {"127.0.0.1", "localhost"}) {
            SCOPED_TRACE((implicit ? "implicit TLS to " : "STARTTLS to ") + host);
            AiosmtpdOptions o;
            o.tls = implicit ? AiosmtpdOptions::Tls::Implicit : AiosmtpdOptions::Tls::StartTls;
            o.identity = certs.trusted();
            o.requireStartTls = !implicit;
            AiosmtpdServer server(o);
            Client c;
            c.connect(host, server.portText(), implicit);
            if (implicit) {
                ASSERT_TRUE(c.waitForEvent("connected 0"));
                EXPECT_EQ(c.events, (std::vector<std::string>{"tls 0", "connected 0"}));
                EXPECT_EQ(c.reply().substr(0, 4), "220 ");
            } else {
                ASSERT_TRUE(c.waitForEvent("connected 0"));
                EXPECT_EQ(c.reply().substr(0, 4), "220 ");
                EXPECT_FALSE(c.s.tlsActive());
                EXPECT_NE(c.command("EHLO client.test").find("STARTTLS"), std::string::npos);
                EXPECT_EQ(c.command("STARTTLS").substr(0, 4), "220 ");
                c.s.startTls();
                // Sent while the handshake runs: must go out encrypted after it.
                c.s.sendText("NOOP\r\n");
                ASSERT_TRUE(c.waitForEvent("tls 0"));
                EXPECT_EQ(c.reply().substr(0, 3), "250");
            }
            EXPECT_TRUE(c.s.tlsActive());
            EXPECT_EQ(c.s.tlsError(), "");
            Deliver(c, body);
            ASSERT_TRUE(server.waitForMessages(1));
            const auto m = server.messages();
            ASSERT_EQ(m.size(), 1u);
            EXPECT_TRUE(m[0].encrypted);
            EXPECT_TRUE(m[0].data == body) << "message changed in transit";
            c.s.closeConnection();
            EXPECT_EQ(c.s.state(), SocketState::Closed);
            EXPECT_FALSE(c.s.tlsActive());
        }
    }
}

// Certificate problems and a server that does not speak TLS end the connection with a
// clear text; what the caller sent during the handshake never goes out.
TEST(TlsSocket, FailuresCloseWithClearTextAndNoFallback) {
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    const struct {
        const char* name;
        AiosmtpdOptions::Tls tls;
        const TestCertificates::Identity* identity;
        const char* expected;
    } cases[] = {
        {"self-signed, implicit", AiosmtpdOptions::Tls::Implicit, &certs.selfSigned(),
         "Error, the server's certificate is not trusted: self-signed certificate"},
        {"self-signed, STARTTLS", AiosmtpdOptions::Tls::StartTls, &certs.selfSigned(),
         "Error, the server's certificate is not trusted: self-signed certificate"},
        {"wrong name, implicit", AiosmtpdOptions::Tls::Implicit, &certs.wrongName(),
         "Error, the server's certificate was issued for another name: wrong.test (not "
         "127.0.0.1)"},
        {"wrong name, STARTTLS", AiosmtpdOptions::Tls::StartTls, &certs.wrongName(),
         "Error, the server's certificate was issued for another name: wrong.test (not "
         "127.0.0.1)"},
        {"plain server, implicit", AiosmtpdOptions::Tls::None, nullptr,
         "Error, the encrypted connection could not be set up: "},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        AiosmtpdOptions o;
        o.tls = t.tls;
        if (t.identity) o.identity = *t.identity;
        AiosmtpdServer server(o);
        const bool implicit = t.tls != AiosmtpdOptions::Tls::StartTls;
        Client c;
        c.connect("127.0.0.1", server.portText(), implicit);
        std::vector<std::string> expected;
        if (implicit) {
            // The mail is queued as soon as the TCP connection stands.
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return c.s.state() == SocketState::Connected; }, 10000));
            expected = {"tls 20001", "connected 20001", "closed 20001"};
        } else {
            ASSERT_TRUE(c.waitForEvent("connected 0"));
            c.reply();
            c.command("EHLO client.test");
            EXPECT_EQ(c.command("STARTTLS").substr(0, 4), "220 ");
            c.s.startTls();
            expected = {"connected 0", "tls 20001", "closed 20001"};
        }
        const std::string mail = "MAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.org>\r\n"
                                 "DATA\r\nSubject: leaked\r\n\r\nsecret\r\n.\r\n";
        c.dataSent = 0;
        EXPECT_EQ(c.s.sendText(mail), static_cast<long long>(mail.size()));
        ASSERT_TRUE(c.waitForEvent("closed 20001"));
        EXPECT_EQ(c.events, expected);
        EXPECT_EQ(c.s.tlsError().rfind(t.expected, 0), 0u) << c.s.tlsError();
        EXPECT_EQ(c.s.state(), SocketState::Closed);
        EXPECT_EQ(c.rx, "") << "plain text reached the caller";
        EXPECT_THROW(c.s.sendText("QUIT\r\n"), ESocketException);
        QTest::qWait(200);
        EXPECT_TRUE(server.messages().empty());
        EXPECT_EQ(c.dataSent, 0);
    }
}

// Plain text a server sends after its reply to STARTTLS is dropped, not read as if it
// had come over TLS.
TEST(TlsSocket, StartTlsDropsPlainTextInjectedAheadOfTheHandshake) {
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    static const char* const kServer = R"PY(
import socket, ssl, sys
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
conn, _ = listener.accept()
conn.sendall(b"220 hello\r\n")
conn.recv(100)
conn.sendall(b"220 ready\r\n250 injected\r\n")
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(sys.argv[1], sys.argv[2])
tls = ctx.wrap_socket(conn, server_side=True)
line = tls.recv(100)
tls.sendall(b"250 over TLS after " + line.strip() + b"\r\n")
tls.recv(100)
)PY";
    QProcess py;
    py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    py.start("/usr/bin/python3", {"-c", kServer, QString::fromStdString(certs.trusted().certFile),
                                  QString::fromStdString(certs.trusted().keyFile)});
    ASSERT_TRUE(py.waitForReadyRead(20000));
    const std::string port = py.readLine().trimmed().toStdString();

    Client c;
    c.connect("127.0.0.1", port, false);
    EXPECT_EQ(c.reply(), "220 hello\r\n");
    c.s.sendText("STARTTLS\r\n");
    // Take exactly the reply, leaving the injected line in the system's buffer.
    c.s.onDataAvailable = [](ClientSocket*, int) {};
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.s.receivedCount() >= 25; }, 10000));
    char buf[11];
    ASSERT_EQ(c.s.receive(buf, sizeof buf), 11);
    EXPECT_EQ(std::string(buf, 11), "220 ready\r\n");
    c.s.onDataAvailable = [&c](ClientSocket* sock, int) {
        char b[4096];
        const int n = sock->receive(b, sizeof b);
        if (n > 0) c.rx.append(b, static_cast<std::size_t>(n));
    };
    c.s.startTls();
    ASSERT_TRUE(c.waitForEvent("tls 0"));
    EXPECT_EQ(c.command("EHLO client.test"), "250 over TLS after EHLO client.test\r\n");
    c.s.closeConnection();
    py.waitForFinished(5000);
}

// The login server the dialogue is tested against: only the given password is accepted,
// mail needs a login, and the stored envelope names who logged in.
TEST(TlsSocket, LoginServerAcceptsOnlyItsPasswordAndRecordsTheUser) {
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    AiosmtpdOptions o;
    o.tls = AiosmtpdOptions::Tls::Implicit;
    o.identity = certs.trusted();
    o.user = "anna";
    o.password = "s3cret";
    o.authRequired = true;
    AiosmtpdServer server(o);
    Client c;
    c.connect("localhost", server.portText(), true);
    ASSERT_TRUE(c.waitForEvent("connected 0"));
    c.reply();
    EXPECT_NE(c.command("EHLO client.test").find("AUTH LOGIN PLAIN"), std::string::npos);
    EXPECT_EQ(c.command("MAIL FROM:<a@example.org>").substr(0, 3), "530");
    // "\0anna\0wrong" and "\0anna\0s3cret" in base64.
    EXPECT_EQ(c.command("AUTH PLAIN AGFubmEAd3Jvbmc=").substr(0, 3), "535");
    EXPECT_EQ(c.command("AUTH PLAIN AGFubmEAczNjcmV0").substr(0, 3), "235");
    EXPECT_EQ(c.command("MAIL FROM:<a@example.org>").substr(0, 3), "250");
    EXPECT_EQ(c.command("RCPT TO:<b@example.org>").substr(0, 3), "250");
    EXPECT_EQ(c.command("DATA").substr(0, 3), "354");
    EXPECT_EQ(c.command("Subject: x\r\n\r\nhi\r\n.").substr(0, 3), "250");
    ASSERT_TRUE(server.waitForMessages(1));
    EXPECT_EQ(server.messages()[0].login, "anna");
    EXPECT_TRUE(server.messages()[0].encrypted);
}

namespace {

// A server end of TLS in memory, with one identity, for host names that do not resolve.
class MemoryServer {
public:
    explicit MemoryServer(const TestCertificates::Identity& id)
        : ctx_(SSL_CTX_new(TLS_server_method())) {
        SSL_CTX_use_certificate_chain_file(ctx_, id.certFile.c_str());
        SSL_CTX_use_PrivateKey_file(ctx_, id.keyFile.c_str(), SSL_FILETYPE_PEM);
        ssl_ = SSL_new(ctx_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~MemoryServer() {
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
    }
    MemoryServer(const MemoryServer&) = delete;
    MemoryServer& operator=(const MemoryServer&) = delete;

    // Runs the client's handshake against this server to its end.
    TlsChannel::Result handshake(TlsChannel& client) {
        for (int round = 0; round < 20; ++round) {
            const TlsChannel::Result r = client.handshake();
            if (r != TlsChannel::Result::Pending) return r;
            std::string bytes;
            client.takeCiphertext(bytes);
            BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
            SSL_do_handshake(ssl_);
            char buf[16384];
            for (int n; (n = BIO_read(out_, buf, sizeof buf)) > 0;)
                client.putCiphertext(buf, static_cast<std::size_t>(n));
        }
        return TlsChannel::Result::Pending;
    }

private:
    SSL_CTX* ctx_;
    SSL* ssl_;
    BIO* in_;
    BIO* out_;
};

} // namespace

// A certificate names its server by subject alternative names, and a wildcard stands
// for one whole label: "f*.example.test" is no name for foo.example.test, and a subject
// common name without alternative names is none at all.
TEST(TlsSocket, CertificateNamesMatchOnlyWholeLabelsAndNeverTheSubject) {
    TestCertificates certs;
    ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    const struct {
        const char* name;
        const char* commonName;
        const char* altNames;
        std::string error; // "" when the server is taken
    } cases[] = {
        {"exact", "x", "DNS:foo.example.test", ""},
        {"whole-label wildcard", "x", "DNS:*.example.test", ""},
        {"partial wildcard", "foo.example.test", "DNS:f*.example.test",
         "Error, the server's certificate was issued for another name: f*.example.test (not "
         "foo.example.test)"},
        {"subject only", "foo.example.test", "",
         "Error, the server's certificate was issued for another name: no server names, only "
         "the subject foo.example.test (not foo.example.test)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryServer server(
            certs.issue("id" + std::to_string(&c - cases), c.commonName, c.altNames));
        TlsChannel client("foo.example.test");
        const TlsChannel::Result r = server.handshake(client);
        EXPECT_EQ(r, c.error.empty() ? TlsChannel::Result::Done : TlsChannel::Result::Failed);
        EXPECT_EQ(client.errorText(), c.error);
    }
}
