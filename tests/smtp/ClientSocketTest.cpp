// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>

#include "smtp/ClientSocket.h"
#include "tests/support/FakeSmtpServer.h"
#include "tests/support/SmtpServers.h"

using namespace tandrel;
using tandrel::test::FakeSmtpServer;

namespace {

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

std::string ConnectError(ClientSocket& s) {
    try {
        s.connectToHost();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no error)";
}

// Connects to the fake server and waits for the outcome.
void ConnectTo(ClientSocket& s, const FakeSmtpServer& server) {
    s.setAddress("127.0.0.1");
    s.setPort(server.portText());
    s.connectToHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.state() == SocketState::Connected; }, 5000));
}

} // namespace

TEST(SendQueue, FillsBlocksOf1514AndKeepsTheLastOne) {
    SendQueue q;
    const std::string data = Pattern(5000);
    q.append(data.data(), data.size());
    EXPECT_EQ(q.blockFill(), (std::vector<int>{1514, 1514, 1514, 458}));
    q.append(data.data(), 1100); // tops up the last block first
    EXPECT_EQ(q.blockFill(), (std::vector<int>{1514, 1514, 1514, 1514, 44}));

    // Draining: emptied front blocks go while another follows; the last one stays.
    std::string out;
    for (;;) {
        SendBuffer& b = q.front();
        if (!b.empty()) {
            out.append(b.peek().substr(0, 1000));
            b.remove(1000);
        } else if (!q.dropFrontIfDone()) {
            break;
        }
    }
    EXPECT_EQ(out, data + data.substr(0, 1100));
    EXPECT_EQ(q.blockCount(), 1u);
    EXPECT_TRUE(q.empty());

    SendBuffer b(0);
    EXPECT_EQ(b.capacity(), 1514);
    EXPECT_EQ(b.write(data.data(), 2000), 1514);
    EXPECT_EQ(b.write(data.data(), 10), 0);
    b.remove(1500);
    b.resize(20); // unread bytes survive
    EXPECT_EQ(b.peek(), data.substr(1500, 14));
    b.remove(100); // at most what is written; then reusable from the start
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.writtenCount(), 0);
}

TEST(ClientSocketErrors, ErrnoMapsToSocketCodesAndTexts) {
    const struct {
        int err;
        int code;
        const char* text;
    } rows[] = {
        {ECONNREFUSED, 10061, "Connection refused"},
        {ETIMEDOUT, 10060, "Connection timed out"},
        {ECONNRESET, 10054, "Connection reset by peer"},
        {EPIPE, 10054, "Connection reset by peer"},
        {EAGAIN, 10035, "Operation would block"},
        {ENOTCONN, 10057, "Socket is not connected"},
        {EHOSTUNREACH, 10065, "No route to host"},
        {ENETUNREACH, 10051, "Network is unreachable"},
        {EADDRINUSE, 10048, "Address already in use"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(SocketErrorFromErrno(r.err), r.code) << r.text;
        EXPECT_EQ(SocketErrorText(r.code), r.text);
    }
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorText(11001), "Host not found");
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
}

TEST(ClientSocketErrors, ImmediateFailuresRaiseTheirTexts) {
    const std::string longName(300, 'h');
    const struct {
        const char* addr; // nullptr: not assigned
        const char* port;
        std::string want;
    } rows[] = {
        {nullptr, nullptr, "Connect: No Port Specified"},
        {nullptr, "25", "Connect: No IP Address Specified"},
        {"127.0.0.1", "", "Connect: No Port Specified"},
        {"1nvalid.example", "25",
         "connect: WSocketResolveHost: '1nvalid.example' Invalid IP address."},
        {"no-such-host.invalid", "25",
         "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
        {longName.c_str(), "25",
         "connect: WSocketResolveHost: '" + longName + "' Invalid Hostname."},
        {"127.0.0.1", "nosuchservice",
         "connect: WSocketResolvePort: Cannot convert port 'nosuchservice'"},
        {"127.0.0.1", "123456789012345678901234567890123",
         "connect: WSocketResolvePort: Invalid Port."},
        {"127.0.0.1", "99999", "connect: WSocketResolvePort: Invalid Port."},
    };
    for (const auto& r : rows) {
        ClientSocket s;
        if (r.addr) s.setAddress(r.addr);
        if (r.port) s.setPort(r.port);
        EXPECT_EQ(ConnectError(s), r.want);
        EXPECT_EQ(s.state(), SocketState::Closed) << r.want;
        EXPECT_EQ(s.handle(), -1) << r.want;
    }

    ClientSocket s;
    try {
        s.sendText("x");
        ADD_FAILURE() << "Send on a closed socket did not raise";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    EXPECT_EQ(s.lastError(), 10057);
}

TEST(ClientSocketConnect, RefusedConnectionIsReportedThroughTheEvent) {
    ClientSocket s;
    std::vector<std::pair<SocketState, SocketState>> changes;
    std::vector<int> connected;
    int dataEvents = 0;
    s.onStateChange = [&](ClientSocket*, SocketState o, SocketState n) {
        changes.push_back({o, n});
    };
    s.onSessionConnected = [&](ClientSocket*, int e) { connected.push_back(e); };
    s.onDataAvailable = [&](ClientSocket*, int) { ++dataEvents; };
    s.setAddress("127.0.0.1");
    s.setPort(" " + std::to_string(test::UnusedLoopbackPort()) + " ");
    ASSERT_NO_THROW(s.connectToHost());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.state() == SocketState::Closed; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(connected, std::vector<int>{10061});
    EXPECT_EQ(dataEvents, 0);
    const std::vector<std::pair<SocketState, SocketState>> want = {
        {SocketState::Closed, SocketState::Opened},
        {SocketState::Opened, SocketState::Connecting},
        {SocketState::Connecting, SocketState::Connected},
        {SocketState::Connected, SocketState::Closed}};
    EXPECT_EQ(changes, want);
}

TEST(ClientSocketConnect, ServiceNamesAndBlanksResolve) {
    ClientSocket s;
    s.setAddress("127.0.0.1");
    s.setPort(" smtp ");
    EXPECT_EQ(s.port(), "smtp");
    EXPECT_NO_THROW(s.connectToHost());
    EXPECT_NE(s.state(), SocketState::Closed);
    s.closeConnection();
}

TEST(ClientSocketConnect, PropertiesAreLockedWhileConnectedAndResetByTheClose) {
    FakeSmtpServer server;
    server.expectClose();
    server.start();
    ClientSocket s;
    int closed = 0;
    s.onSessionClosed = [&](ClientSocket*, int) { ++closed; };
    ConnectTo(s, server);

    EXPECT_EQ(ConnectError(s), "Connect: Socket already in use");
    EXPECT_NO_THROW(s.setAddress("127.0.0.1")); // the same text changes nothing
    EXPECT_NO_THROW(s.setPort(server.portText()));
    try {
        s.setAddress("127.0.0.2");
        ADD_FAILURE() << "Addr changed while connected";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Cannot change Addr if not closed");
    }
    EXPECT_EQ(s.address(), "127.0.0.1");

    s.closeConnection();
    s.closeConnection(); // the second close does nothing
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(s.state(), SocketState::Closed);
    EXPECT_TRUE(server.waitDone());
    // Addr and Port must be given again after a close.
    EXPECT_EQ(ConnectError(s), "Connect: No Port Specified");
    s.setPort(server.portText());
    EXPECT_EQ(ConnectError(s), "Connect: No IP Address Specified");
}

TEST(ClientSocketSend, DataSentFiresOnceAfterTheQueueDrainedNeverInsideSend) {
    for (const std::size_t size : {std::size_t{5000}, std::size_t{8} << 20}) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size);
        FakeSmtpServer server;
        std::atomic<bool> arrived{false};
        server.expectBytes(data).call([&] { arrived = true; }).expectClose();
        server.start();
        ClientSocket s;
        int sent = 0;
        s.onDataSent = [&](ClientSocket*, int) { ++sent; };
        ConnectTo(s, server);
        EXPECT_EQ(s.send(data.data(), static_cast<int>(data.size())), static_cast<int>(size));
        EXPECT_EQ(sent, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sent > 0; }, 20000));
        // Handed to the system is not yet received: closing with linger 0 would drop it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return arrived.load(); }, 20000));
        QTest::qWait(20);
        EXPECT_EQ(sent, 1);
        s.closeConnection();
        EXPECT_TRUE(server.waitDone());
    }
}

TEST(ClientSocketSend, NotificationsForAClosedConnectionAreIgnored) {
    FakeSmtpServer server;
    server.allowTrailingBytes();
    server.drainUntilClose();
    server.start();
    ClientSocket s;
    int sent = 0;
    s.onDataSent = [&](ClientSocket*, int) { ++sent; };
    ConnectTo(s, server);
    s.sendText("hello\r\n"); // posts a write-readiness notification
    s.closeConnection();
    QTest::qWait(100);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(server.waitDone());
}

TEST(ClientSocketReceive, PeerThatRepliesAndClosesGivesDataThenEmptyReadThenClose) {
    FakeSmtpServer server;
    server.reply("220 hi").close();
    server.start();
    ClientSocket s;
    std::vector<std::string> events;
    s.onDataAvailable = [&](ClientSocket* sock, int) {
        char buf[100];
        events.push_back("data " + std::to_string(sock->receive(buf, sizeof buf)));
    };
    s.onSessionClosed = [&](ClientSocket* sock, int) {
        events.push_back("closed");
        EXPECT_EQ(sock->readCount(), 8);
    };
    ConnectTo(s, server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.state() == SocketState::Closed; }, 5000));
    EXPECT_EQ(events, (std::vector<std::string>{"data 8", "data 0", "closed"}));
    EXPECT_TRUE(server.waitDone());
}

TEST(ClientSocketReceive, HandlerExceptionsNeverReachTheEventLoop) {
    // From onDataAvailable: the read loop ends, the connection stays, nobody is told.
    {
        FakeSmtpServer server;
        server.reply("220 hi").expectClose();
        server.start();
        ClientSocket s;
        int calls = 0, bg = 0;
        s.onDataAvailable = [&](ClientSocket*, int) {
            ++calls;
            throw std::runtime_error("boom");
        };
        s.onHandlerException = [&](ClientSocket*, const std::exception&, bool&) { ++bg; };
        ConnectTo(s, server);
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
        EXPECT_EQ(bg, 0);
        EXPECT_EQ(s.state(), SocketState::Connected);
        s.closeConnection();
        EXPECT_TRUE(server.waitDone());
    }
    // From onSessionConnected: onHandlerException hears of it and the connection is aborted.
    {
        FakeSmtpServer server;
        server.expectClose();
        server.start();
        ClientSocket s;
        std::string seen;
        s.onSessionConnected = [&](ClientSocket*, int) { throw std::runtime_error("in handler"); };
        s.onHandlerException = [&](ClientSocket*, const std::exception& e, bool& canClose) {
            seen = e.what();
            EXPECT_TRUE(canClose);
        };
        s.setAddress("127.0.0.1");
        s.setPort(server.portText());
        s.connectToHost();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 5000));
        EXPECT_EQ(seen, "in handler");
        EXPECT_EQ(s.state(), SocketState::Closed);
        EXPECT_TRUE(server.waitDone());
    }
}
