// SPDX-License-Identifier: GPL-3.0-or-later
// Delivery through servers that want encryption, a login and the ESMTP extensions, and
// under relay limits: aiosmtpd with certificates made for the test, and smtp-sink.
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <map>
#include <set>
#include <gtest/gtest.h>

#include "tests/mailing/DeliveryHarness.h"
#include "smtp/SmtpExtensions.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

const char* const kFrom = "sender@example.org";
const std::string kUser = "mailer";
const std::string kPassword = "s3cret pass";

using Opts = test::AiosmtpdOptions;
using Outcomes = std::vector<std::pair<std::size_t, MessageOutcome>>;

OutgoingList Messages(int n) {
    OutgoingList out;
    for (int i = 0; i < n; ++i) {
        OutgoingMessage m;
        m.address = "p" + std::to_string(i) + "@example.org";
        m.lines = MessageLines({"Subject: note " + std::to_string(i), "", ".dot first", "body"});
        out.push_back(m);
    }
    return out;
}

std::string Joined(const MessageLines& lines) {
    std::string out;
    lines.forEach([&](std::string_view l) { (out += l) += "\r\n"; });
    return out;
}

Outcomes All(int n, MessageOutcome o) {
    Outcomes out;
    for (int i = 0; i < n; ++i)
        out.emplace_back(i, o);
    return out;
}

bool LogHolds(const std::vector<std::string>& runLog, const std::string& text) {
    return std::any_of(runLog.begin(), runLog.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

} // namespace

// Encryption and login: what is delivered, what the user is told, and that the password
// reaches neither the run log nor an unencrypted connection.
TEST(SecureDelivery, EncryptionAndLoginAsConfigured) {
    test::TestCertificates certs;
    test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    const auto startTls = [&](const test::TestCertificates::Identity& id) {
        Opts o;
        o.tls = Opts::Tls::StartTls;
        o.identity = id;
        o.requireStartTls = true;
        o.user = kUser;
        o.password = kPassword;
        o.authRequired = true;
        return o;
    };
    Opts implicit = startTls(certs.trusted());
    implicit.tls = Opts::Tls::Implicit;
    implicit.requireStartTls = false;
    Opts wrongName = implicit;
    wrongName.identity = certs.wrongName();
    Opts plain;
    plain.user = kUser;
    plain.password = kPassword;
    plain.authWithoutTls = true;
    const struct {
        const char* name;
        Opts server;
        Security security;
        std::string password;
        std::string firstMemo; // the beginning of the memo's first line
        bool delivered;
    } rows[] = {
        {"STARTTLS and login", startTls(certs.trusted()), Security::StartTls, kPassword,
         "Mail was sent to: ", true},
        {"wrong password", startTls(certs.trusted()), Security::StartTls, "guess",
         "Error, login refused by server: 535", false},
        {"implicit TLS and login", implicit, Security::Tls, kPassword, "Mail was sent to: ", true},
        {"untrusted certificate", startTls(certs.selfSigned()), Security::StartTls, kPassword,
         "Error, the server's certificate is not trusted", false},
        {"certificate for another name", wrongName, Security::Tls, kPassword,
         "Error, the server's certificate was issued for another name", false},
        {"no STARTTLS offered", plain, Security::StartTls, kPassword,
         "Error, the server offers no STARTTLS encryption", false},
        {"login without encryption", plain, Security::None, kPassword,
         "Error, the server offers no encrypted login", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test::AiosmtpdServer server(r.server);
        test::TempDir dir;
        DeliveryConfig config{"localhost", server.portText(), kFrom, "client.example.org"};
        config.security = r.security;
        config.user = kUser;
        config.password = r.password;
        const OutgoingList msgs = Messages(2);
        std::vector<std::string> runLog, sentLog;
        const DeliveryResult res =
            RunDelivery(msgs, 2, config, runLog, sentLog, 30000, dir.file("Tandrel.log"));
        ASSERT_TRUE(res.ended) << res.startError;
        ASSERT_FALSE(res.memo.empty());
        EXPECT_EQ(res.memo[0].rfind(r.firstMemo, 0), 0u) << res.memo[0];
        EXPECT_EQ(res.outcomes,
                  All(2, r.delivered ? MessageOutcome::Accepted : MessageOutcome::NotAttempted));
        const std::string file = test::ReadFileBytes(dir.file("Tandrel.log"));
        for (const std::string& secret :
             {r.password, PlainLoginToken(kUser, r.password), Base64Encode(r.password)})
            EXPECT_EQ(file.find(secret), std::string::npos) << secret;
        if (!r.delivered) {
            EXPECT_TRUE(sentLog.empty());
            EXPECT_TRUE(res.errorsOccurred);
            EXPECT_TRUE(server.messages().empty());
            continue;
        }
        EXPECT_TRUE(LogHolds(runLog, "AUTH PLAIN ****"));
        EXPECT_EQ(sentLog, (std::vector<std::string>{msgs[0].address, msgs[1].address}));
        ASSERT_TRUE(server.waitForMessages(2));
        for (std::size_t i = 0; i < 2; ++i) {
            const auto m = server.messages()[i];
            EXPECT_TRUE(m.encrypted);
            EXPECT_EQ(m.login, kUser);
            EXPECT_EQ(m.data, Joined(msgs[i].lines));
        }
    }
}

// With and without PIPELINING the sink gets the same bytes.
TEST(SecureDelivery, PipeliningOnAndOffDeliverTheSameBytes) {
    std::vector<std::string> reference;
    for (bool pipelining : {true, false}) {
        SCOPED_TRACE(pipelining ? "pipelining" : "one command at a time");
        std::vector<std::string> args;
        if (!pipelining) args.push_back("-p");
        test::SmtpSinkServer sink(args, true);
        test::TempDir dir;
        DeliveryConfig config{"127.0.0.1", sink.portText(), kFrom, "client.example.org"};
        config.extensions = true;
        const OutgoingList msgs = Messages(3);
        std::vector<std::string> runLog, sentLog;
        const DeliveryResult res = RunDelivery(msgs, 3, config, runLog, sentLog, 30000);
        ASSERT_TRUE(res.ended) << res.startError;
        EXPECT_FALSE(res.errorsOccurred);
        EXPECT_EQ(res.outcomes, All(3, MessageOutcome::Accepted));
        EXPECT_TRUE(LogHolds(runLog, "EHLO client.example.org"));
        // Pipelined, RCPT goes out before the reply to MAIL is in.
        const auto mail =
            std::find(runLog.begin(), runLog.end(), std::string("MAIL FROM:<") + kFrom + ">\r\n");
        ASSERT_NE(mail, runLog.end());
        EXPECT_EQ(mail[1] == "RCPT TO:<p0@example.org>\r\n", pipelining);
        const auto dumps = sink.dumpedMessages();
        ASSERT_EQ(dumps.size(), 3u);
        std::vector<std::string> bodies;
        for (const auto& d : dumps) // without the sink's own header lines
            bodies.push_back(d.substr(d.find("Subject:")));
        std::sort(bodies.begin(), bodies.end()); // the dump files are not in sending order
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(
                bodies[i].rfind("Subject: note " + std::to_string(i) + "\n\n.dot first\nbody\n", 0),
                0u)
                << bodies[i];
        if (reference.empty())
            reference = bodies;
        else
            EXPECT_EQ(bodies, reference);
    }
}

// A message larger than the server's SIZE is refused before it is sent and the run goes
// on; the relay's limits give a new connection every two messages and space them by
// the rate.
TEST(SecureDelivery, ServerAndRelayLimits) {
    {
        Opts o;
        o.sizeLimit = 300;
        test::AiosmtpdServer server(o);
        test::TempDir dir;
        DeliveryConfig config{"127.0.0.1", server.portText(), kFrom, "client.example.org"};
        config.extensions = true;
        config.perConnection = 2;
        OutgoingList msgs = Messages(5);
        msgs[1].lines.append(std::string(400, 'x'));
        std::vector<std::string> runLog, sentLog;
        const DeliveryResult res = RunDelivery(msgs, 5, config, runLog, sentLog, 30000);
        ASSERT_TRUE(res.ended) << res.startError;
        EXPECT_EQ(
            res.memo,
            (std::vector<std::string>{
                "Mail was sent to: \"p0@example.org\"",
                "Error, message to \"p1@example.org\" is larger than the server accepts "
                "(300 bytes)",
                "", "Mail was sent to: \"p2@example.org\"", "Reconnecting after 2 messages",
                "Mail was sent to: \"p3@example.org\"", "Mail was sent to: \"p4@example.org\"",
                "4 of 5 letters have been sent", "Some errors occurred!"}));
        EXPECT_EQ(res.outcomes, (Outcomes{{0, MessageOutcome::Accepted},
                                          {1, MessageOutcome::Refused},
                                          {2, MessageOutcome::Accepted},
                                          {3, MessageOutcome::Accepted},
                                          {4, MessageOutcome::Accepted}}));
        ASSERT_TRUE(server.waitForMessages(4));
        std::vector<int> connections;
        for (const auto& m : server.messages())
            connections.push_back(m.connection);
        EXPECT_EQ(connections, (std::vector<int>{1, 1, 2, 2}));
    }
    // The wait for the rate is no wait for a reply: a time-out shorter than the gap
    // between messages ends nothing.
    for (const auto& [rate, timeoutSeconds] : {std::pair{60, 0}, {20, 1}}) {
        SCOPED_TRACE(std::to_string(rate) + " a minute, time-out " +
                     std::to_string(timeoutSeconds));
        test::AiosmtpdServer server;
        DeliveryConfig config{"127.0.0.1", server.portText(), kFrom, "client.example.org"};
        config.ratePerMinute = rate;
        config.timeoutSeconds = timeoutSeconds;
        std::vector<std::string> runLog, sentLog;
        QElapsedTimer clock;
        clock.start();
        const DeliveryResult res = RunDelivery(Messages(3), 3, config, runLog, sentLog, 30000);
        const qint64 ms = clock.elapsed();
        ASSERT_TRUE(res.ended) << res.startError;
        EXPECT_EQ(res.outcomes, All(3, MessageOutcome::Accepted));
        EXPECT_EQ(sentLog.size(), 3u);
        const int gapMs = 60000 / rate;
        EXPECT_GE(ms, 2 * gapMs - 100);
        EXPECT_LT(ms, 2 * gapMs + 4000);
        const std::string wait = "Rate limit: " + std::to_string(gapMs / 1000) + "s";
        EXPECT_EQ(std::count(res.statuses.begin(), res.statuses.end(), wait), 2);
    }
}

// Four connections deliver each message once with the same bytes as one connection, and
// the sent log and the outcomes keep the order of the messages. A connection cut off at
// its first RCPT gives its message back to the others: the cut is reported once and
// every message still arrives once.
TEST(SecureDelivery, SeveralConnectionsShareTheMessages) {
    const int n = 12;
    const OutgoingList msgs = Messages(n);
    std::vector<std::string> addresses;
    for (const OutgoingMessage& m : msgs)
        addresses.push_back(m.address);
    std::map<std::string, std::string> reference; // address -> data, over one connection
    for (const auto& [connections, drop] : {std::pair{1, 0}, {4, 0}, {4, 2}}) {
        SCOPED_TRACE(std::to_string(connections) + " connections, cut: " + std::to_string(drop));
        Opts o;
        o.dropConnection = drop;
        test::AiosmtpdServer server(o);
        DeliveryConfig config{"127.0.0.1", server.portText(), kFrom, "client.example.org"};
        config.connections = connections;
        std::vector<std::string> runLog, sentLog;
        const DeliveryResult res = RunDelivery(msgs, n, config, runLog, sentLog, 30000);
        ASSERT_TRUE(res.ended) << res.startError;
        EXPECT_EQ(res.outcomes, All(n, MessageOutcome::Accepted));
        EXPECT_EQ(res.accepted, n);
        EXPECT_EQ(sentLog, addresses);
        // The gauge moves only when its value does, and ends full.
        EXPECT_EQ(std::adjacent_find(res.gauges.begin(), res.gauges.end()), res.gauges.end());
        EXPECT_EQ(res.gauges.back(), 100);
        const auto problems = std::count_if(res.memo.begin(), res.memo.end(), [](const auto& l) {
            return l.rfind("Error", 0) == 0;
        });
        EXPECT_EQ(problems, drop ? 1 : 0);
        EXPECT_EQ(res.memo.back(), drop ? "Some errors occurred!" : "All letters have been sent");
        ASSERT_TRUE(server.waitForMessages(n));
        std::map<std::string, std::string> got;
        std::set<int> used;
        for (const auto& m : server.messages()) {
            ASSERT_EQ(m.rcptTo.size(), 1u);
            EXPECT_TRUE(got.emplace(m.rcptTo[0], m.data).second) << "twice: " << m.rcptTo[0];
            used.insert(m.connection);
        }
        EXPECT_EQ(got.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(used.size(), static_cast<std::size_t>(connections - (drop ? 1 : 0)));
        if (reference.empty())
            reference = got;
        else
            EXPECT_EQ(got, reference);
    }
}

// A session that TLS ends (plain text slipped in after the handshake, the connection cut
// in the middle of a record) tells the user why, in the memo and the run log, rather
// than only that the connection closed.
TEST(SecureDelivery, TlsFailuresInTheDialogueGiveTheirReason) {
    test::TestCertificates certs;
    test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    // Implicit TLS held in memory, so that the bytes on the wire can be chosen.
    static const char* const kServer = R"PY(
import socket, ssl, sys
cert, key, fault = sys.argv[1:4]
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
conn, _ = listener.accept()
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(cert, key)
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
tls = ctx.wrap_bio(incoming, outgoing, server_side=True)
def receive():
    data = conn.recv(65536)
    if not data:
        sys.exit(0)
    incoming.write(data)
while True:
    try:
        tls.do_handshake()
        break
    except ssl.SSLWantReadError:
        conn.sendall(outgoing.read())
        receive()
tls.write(b"220 ready\r\n")
conn.sendall(outgoing.read())
line = b""
while not line.endswith(b"\r\n"):
    try:
        line += tls.read(1024)
    except ssl.SSLWantReadError:
        receive()
if fault == "plain":
    conn.sendall(b"250 slipped in without encryption\r\n")
else:
    tls.write(b"250 cut off in the middle\r\n")
    record = outgoing.read()
    conn.sendall(record[: len(record) // 2])
    conn.shutdown(socket.SHUT_WR)
conn.settimeout(10)
try:
    while conn.recv(4096):
        pass
except OSError:
    pass
)PY";
    const struct {
        const char* fault;
        const char* reason;
    } rows[] = {
        {"plain", "Error, the encrypted connection failed: wrong version number"},
        {"cut", "Error, the encrypted connection failed: unexpected eof while reading"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.fault);
        QProcess py;
        py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        py.start("/usr/bin/python3",
                 {"-c", kServer, QString::fromStdString(certs.trusted().certFile),
                  QString::fromStdString(certs.trusted().keyFile), r.fault});
        ASSERT_TRUE(py.waitForReadyRead(20000));
        const std::string port = py.readLine().trimmed().toStdString();
        test::TempDir dir;
        DeliveryConfig config{"127.0.0.1", port, kFrom, "client.example.org"};
        config.security = Security::Tls;
        std::vector<std::string> runLog, sentLog;
        const DeliveryResult res = RunDelivery(Messages(1), 1, config, runLog, sentLog, 30000,
                                               dir.file("Tandrel.log"));
        ASSERT_TRUE(res.ended) << res.startError;
        EXPECT_NE(std::find(res.memo.begin(), res.memo.end(), r.reason), res.memo.end())
            << ::testing::PrintToString(res.memo);
        EXPECT_TRUE(LogHolds(runLog, r.reason));
        EXPECT_FALSE(LogHolds(runLog, "connection closed by server"));
        EXPECT_EQ(res.outcomes, All(1, MessageOutcome::NotAttempted));
        py.waitForFinished(15000);
    }
}

// What servers announce, in the spellings found in the wild, including keywords with no
// parameter where one is usual.
TEST(SecureDelivery, EhloOffersAreRead) {
    const struct {
        const char* reply;
        bool startTls, pipelining, plain, login;
        std::uint64_t size;
    } rows[] = {
        {"250-mx hello\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n250-STARTTLS\r\n250 AUTH PLAIN "
         "LOGIN\r\n",
         true, true, true, true, 10240000},
        {"250-mx\r\n250-auth=login\r\n250-size\r\n250 starttls\r\n", true, false, false, true, 0},
        {"250-mx\r\n250-AUTH\r\n250 AUTH CRAM-MD5 PLAINTEXT\r\n", false, false, false, false, 0},
        {"250 PIPELINING STARTTLS\r\n", false, false, false, false, 0}, // a greeting line only
        {"250-mx\n250-SIZE x\n250 PIPELINING\n", false, true, false, false, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.reply);
        const EhloOffer o = ParseEhloOffer(r.reply);
        EXPECT_EQ(o.startTls, r.startTls);
        EXPECT_EQ(o.pipelining, r.pipelining);
        EXPECT_EQ(o.authPlain, r.plain);
        EXPECT_EQ(o.authLogin, r.login);
        EXPECT_EQ(o.maxSize, r.size);
    }
    EXPECT_EQ(PlainLoginToken("u", "p"), "AHUAcA==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
}
