// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>

#include "tests/support/FakeSmtpServer.h"
#include "tests/support/SmtpServers.h"
#include "smtp/ClientSocket.h"

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
        s.Connect();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no error)";
}

// Connects to the fake server and waits for the outcome.
void ConnectTo(ClientSocket& s, const FakeSmtpServer& server) {
    s.setAddr("127.0.0.1");
    s.setPort(server.portText());
    s.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.State() == wsConnected; }, 5000));
}

} // namespace

TEST(TSendQueue, FillsBlocksOf1514AndKeepsTheLastOne) {
    TSendQueue q;
    const std::string data = Pattern(5000);
    q.Append(data.data(), data.size());
    EXPECT_EQ(q.BlockFill(), (std::vector<int>{1514, 1514, 1514, 458}));
    q.Append(data.data(), 1100); // tops up the last block first
    EXPECT_EQ(q.BlockFill(), (std::vector<int>{1514, 1514, 1514, 1514, 44}));

    // Draining: emptied front blocks go while another follows; the last one stays.
    std::string out;
    for (;;) {
        SendBuffer& b = q.Front();
        if (!b.Empty()) {
            out.append(b.Peek().substr(0, 1000));
            b.Remove(1000);
        } else if (!q.DropFrontIfDone()) {
            break;
        }
    }
    EXPECT_EQ(out, data + data.substr(0, 1100));
    EXPECT_EQ(q.BlockCount(), 1u);
    EXPECT_TRUE(q.Empty());

    SendBuffer b(0);
    EXPECT_EQ(b.Capacity(), 1514);
    EXPECT_EQ(b.Write(data.data(), 2000), 1514);
    EXPECT_EQ(b.Write(data.data(), 10), 0);
    b.Remove(1500);
    b.Resize(20); // unread bytes survive
    EXPECT_EQ(b.Peek(), data.substr(1500, 14));
    b.Remove(100); // at most what is written; then reusable from the start
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.WrCount(), 0);
}

TEST(WSocketErrors, ErrnoMapsToSocketCodesAndTexts) {
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
        EXPECT_EQ(ErrorDesc(r.code), r.text);
    }
    EXPECT_EQ(ErrorDesc(0), "No Error");
    EXPECT_EQ(ErrorDesc(11001), "Host not found");
    EXPECT_EQ(ErrorDesc(12345), "Not a WinSock error");
}

TEST(WSocketErrors, ImmediateFailuresRaiseTheirTexts) {
    const std::string longName(300, 'h');
    const struct {
        const char* addr; // nullptr: not assigned
        const char* port;
        const char* proto;
        std::string want;
    } rows[] = {
        {nullptr, nullptr, nullptr, "Connect: No Port Specified"},
        {nullptr, "25", nullptr, "Connect: No IP Address Specified"},
        {"127.0.0.1", "", nullptr, "Connect: No Port Specified"},
        {"127.0.0.1", "25", "", "Connect: No Protocol Specified"},
        {"1nvalid.example", "25", nullptr,
         "connect: WSocketResolveHost: '1nvalid.example' Invalid IP address."},
        {"no-such-host.invalid", "25", nullptr,
         "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
        {longName.c_str(), "25", nullptr,
         "connect: WSocketResolveHost: '" + longName + "' Invalid Hostname."},
        {"127.0.0.1", "nosuchservice", nullptr,
         "connect: WSocketResolvePort: Cannot convert port 'nosuchservice'"},
        {"127.0.0.1", "123456789012345678901234567890123", nullptr,
         "connect: WSocketResolvePort: Invalid Port."},
        {"127.0.0.1", "99999", nullptr, "connect: WSocketResolvePort: Invalid Port."},
        {"127.0.0.1", "25", "nosuchproto",
         "connect: WSocketResolveProto: Cannot convert protocol 'nosuchproto'"},
    };
    for (const auto& r : rows) {
        ClientSocket s;
        if (r.addr) s.setAddr(r.addr);
        if (r.port) s.setPort(r.port);
        if (r.proto) s.setProto(r.proto);
        EXPECT_EQ(ConnectError(s), r.want);
        EXPECT_EQ(s.State(), wsClosed) << r.want;
        EXPECT_EQ(s.Handle(), -1) << r.want;
    }

    ClientSocket s;
    try {
        s.SendText("x");
        ADD_FAILURE() << "Send on a closed socket did not raise";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
    }
    // With OnError assigned nothing is raised: the handler hears of it, LastError tells.
    int errors = 0;
    s.OnError = [&](ClientSocket*) { ++errors; };
    EXPECT_EQ(s.SendText("x"), -1);
    EXPECT_NO_THROW(s.Connect());
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(s.LastError(), 10057);
}

TEST(WSocketConnect, RefusedConnectionIsReportedThroughTheEvent) {
    ClientSocket s;
    std::vector<std::pair<TSocketState, TSocketState>> changes;
    std::vector<int> connected;
    int dataEvents = 0;
    s.OnChangeState = [&](ClientSocket*, TSocketState o, TSocketState n) { changes.push_back({o, n}); };
    s.OnSessionConnected = [&](ClientSocket*, int e) { connected.push_back(e); };
    s.OnDataAvailable = [&](ClientSocket*, int) { ++dataEvents; };
    s.setAddr("127.0.0.1");
    s.setPort(" " + std::to_string(test::UnusedLoopbackPort()) + " ");
    ASSERT_NO_THROW(s.Connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.State() == wsClosed; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(connected, std::vector<int>{10061});
    EXPECT_EQ(dataEvents, 0);
    const std::vector<std::pair<TSocketState, TSocketState>> want = {{wsClosed, wsOpened},
                                                                     {wsOpened, wsConnecting},
                                                                     {wsConnecting, wsConnected},
                                                                     {wsConnected, wsClosed}};
    EXPECT_EQ(changes, want);
}

TEST(WSocketConnect, ServiceNamesAndBlanksResolve) {
    ClientSocket s;
    s.setAddr("127.0.0.1");
    s.setPort(" smtp ");
    EXPECT_EQ(s.Port(), "smtp");
    EXPECT_NO_THROW(s.Connect());
    EXPECT_NE(s.State(), wsClosed);
    s.CloseConnection();
}

TEST(WSocketConnect, PropertiesAreLockedWhileConnectedAndResetByTheClose) {
    FakeSmtpServer server;
    server.expectClose();
    server.start();
    ClientSocket s;
    int closed = 0;
    s.OnSessionClosed = [&](ClientSocket*, int) { ++closed; };
    ConnectTo(s, server);

    EXPECT_EQ(ConnectError(s), "Connect: Socket already in use");
    EXPECT_NO_THROW(s.setAddr("127.0.0.1")); // the same text changes nothing
    EXPECT_NO_THROW(s.setPort(server.portText()));
    try {
        s.setAddr("127.0.0.2");
        ADD_FAILURE() << "Addr changed while connected";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Cannot change Addr if not closed");
    }
    EXPECT_EQ(s.Addr(), "127.0.0.1");

    s.CloseConnection();
    s.CloseConnection(); // the second close does nothing
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_TRUE(server.waitDone());
    // Addr and Port must be given again after a close.
    EXPECT_EQ(ConnectError(s), "Connect: No Port Specified");
    s.setPort(server.portText());
    EXPECT_EQ(ConnectError(s), "Connect: No IP Address Specified");
}

TEST(WSocketSend, DataSentFiresOnceAfterTheQueueDrainedNeverInsideSend) {
    for (const std::size_t size : {std::size_t{5000}, std::size_t{8} << 20}) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size);
        FakeSmtpServer server;
        std::atomic<bool> arrived{false};
        server.expectBytes(data).call([&] { arrived = true; }).expectClose();
        server.start();
        ClientSocket s;
        int sent = 0;
        s.OnDataSent = [&](ClientSocket*, int) { ++sent; };
        ConnectTo(s, server);
        EXPECT_EQ(s.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(size));
        EXPECT_EQ(sent, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sent > 0; }, 20000));
        // Handed to the system is not yet received: closing with linger 0 would drop it.
        ASSERT_TRUE(QTest::qWaitFor([&] { return arrived.load(); }, 20000));
        QTest::qWait(20);
        EXPECT_EQ(sent, 1);
        s.CloseConnection();
        EXPECT_TRUE(server.waitDone());
    }
}

TEST(WSocketSend, NotificationsForAClosedConnectionAreIgnored) {
    FakeSmtpServer server;
    server.allowTrailingBytes();
    server.drainUntilClose();
    server.start();
    ClientSocket s;
    int sent = 0;
    s.OnDataSent = [&](ClientSocket*, int) { ++sent; };
    ConnectTo(s, server);
    s.SendText("hello\r\n"); // posts a write-readiness notification
    s.CloseConnection();
    QTest::qWait(100);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(server.waitDone());
}

TEST(WSocketReceive, PeerThatRepliesAndClosesGivesDataThenEmptyReadThenClose) {
    FakeSmtpServer server;
    server.reply("220 hi").close();
    server.start();
    ClientSocket s;
    std::vector<std::string> events;
    s.OnDataAvailable = [&](ClientSocket* sock, int) {
        char buf[100];
        events.push_back("data " + std::to_string(sock->ReceiveData(buf, sizeof buf)));
    };
    s.OnSessionClosed = [&](ClientSocket* sock, int) {
        events.push_back("closed");
        EXPECT_EQ(sock->ReadCount(), 8);
    };
    ConnectTo(s, server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.State() == wsClosed; }, 5000));
    EXPECT_EQ(events, (std::vector<std::string>{"data 8", "data 0", "closed"}));
    EXPECT_TRUE(server.waitDone());
}

TEST(WSocketReceive, HandlerExceptionsNeverReachTheEventLoop) {
    // From OnDataAvailable: the read loop ends, the connection stays, nobody is told.
    {
        FakeSmtpServer server;
        server.reply("220 hi").expectClose();
        server.start();
        ClientSocket s;
        int calls = 0, bg = 0;
        s.OnDataAvailable = [&](ClientSocket*, int) {
            ++calls;
            throw std::runtime_error("boom");
        };
        s.OnBgException = [&](ClientSocket*, const std::exception&, bool&) { ++bg; };
        ConnectTo(s, server);
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
        EXPECT_EQ(bg, 0);
        EXPECT_EQ(s.State(), wsConnected);
        s.CloseConnection();
        EXPECT_TRUE(server.waitDone());
    }
    // From OnSessionConnected: OnBgException hears of it and the connection is aborted.
    {
        FakeSmtpServer server;
        server.expectClose();
        server.start();
        ClientSocket s;
        std::string seen;
        s.OnSessionConnected = [&](ClientSocket*, int) { throw std::runtime_error("in handler"); };
        s.OnBgException = [&](ClientSocket*, const std::exception& e, bool& canClose) {
            seen = e.what();
            EXPECT_TRUE(canClose);
        };
        s.setAddr("127.0.0.1");
        s.setPort(server.portText());
        s.Connect();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 5000));
        EXPECT_EQ(seen, "in handler");
        EXPECT_EQ(s.State(), wsClosed);
        EXPECT_TRUE(server.waitDone());
    }
}
