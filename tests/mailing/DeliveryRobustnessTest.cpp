// SPDX-License-Identifier: GPL-3.0-or-later
// Delivery against servers that misbehave, listeners that run nested event loops or
// destroy the dialogue from inside a callback, and sockets destroyed by their own events.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "tests/mailing/FakeSmtpScripts.h"
#include "tests/support/SmtpServers.h"
#include "smtp/ClientSocket.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

const std::string kClosed = "Error, connection closed by server";
const std::string kTooLong = "Error, reply from server too long, disconnecting";

bool Has(const std::vector<std::string>& v, const std::string& item) {
    return std::find(v.begin(), v.end(), item) != v.end();
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// Waits on the server thread until the flag is raised (or a while has passed).
void WaitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 5000 && !flag; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<std::string> BigBody(int lines) {
    std::vector<std::string> out = {"Subject: big", ""};
    for (int i = 0; i < lines; ++i)
        out.push_back((i % 500 == 0 ? "." : "") + std::string(70, static_cast<char>('a' + i % 26)));
    return out;
}

} // namespace

// Wherever the server drops the connection, the run ends with the report and nothing
// that was not acknowledged reaches the SentLog.
TEST(HostileServer, CloseAtEveryStepEndsTheRun) {
    const std::vector<std::string> big = BigBody(20000);
    const struct {
        const char* name;
        std::function<void(FakeSmtpServer&)> script;
        std::vector<std::string> body;
    } rows[] = {
        {"before the greeting", [](FakeSmtpServer& s) { s.close(); }, kBody},
        {"after HELO",
         [](FakeSmtpServer& s) { s.reply("220 hi").expect("helo [127.0.0.1]").close(); }, kBody},
        {"after MAIL FROM",
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").close();
         },
         kBody},
        {"after RCPT TO",
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("250 ok");
             s.expect("RCPT TO:<a@x>").close();
         },
         kBody},
        {"after DATA",
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             s.expect("data").close();
         },
         kBody},
        {"in the middle of a long body",
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             s.expect("data").reply("354 go").expectBytes("Subject: big\r\n").close();
         },
         big},
        {"with a half reply",
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.send("25").close();
         },
         kBody},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSmtpServer server;
        server.allowTrailingBytes();
        r.script(server);
        Delivery run;
        EXPECT_TRUE(run.deliver(server, {Msg("a@x", r.body), Msg("b@x")}, 20000));
        ASSERT_GE(run.listener.memo.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(run.listener.memo.end() - 3, run.listener.memo.end()),
                  (std::vector<std::string>{kClosed, Letters(0, 2), kSome}));
        EXPECT_TRUE(run.sentLog.empty());
    }
}

// Text that never completes a reply within 64 KiB ends the run instead of being taken
// for replies (which could report a message as sent) or held without limit.
TEST(HostileServer, OverlongRepliesEndTheRun) {
    std::string manyLines;
    while (manyLines.size() < (1u << 20))
        manyLines += "250-this reply goes on and on\r\n";
    const struct {
        const char* name;
        std::string flood;
    } rows[] = {
        {"no line end at all", std::string(1u << 20, '2')},
        {"a multi-line reply that never ends", manyLines},
        {"one complete line that is too long", "250 " + std::string(70000, 'x') + "\r\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSmtpServer server;
        server.allowTrailingBytes();
        server.reply("220 hi").expect("helo [127.0.0.1]").flood(r.flood).expectClose();
        Delivery run;
        EXPECT_TRUE(run.deliver(server, {Msg("a@x")}));
        EXPECT_EQ(run.listener.memo, (std::vector<std::string>{kTooLong, Letters(0, 1), kSome}));
        EXPECT_TRUE(run.sentLog.empty());
        EXPECT_FALSE(Has(run.runLog, std::string("MAIL FROM:<") + kFrom + ">\r\n"));
        // What was kept of the text for the record is its beginning and a count.
        for (const auto& item : run.runLog)
            EXPECT_LE(item.size(), 4096u + 32u);
    }
}

// A NUL byte ends the reply text, as it ends a text file: the run log read back at the
// next start must not lose everything behind it.
TEST(HostileServer, NulBytesEndTheReplyText) {
    FakeSmtpServer server;
    server.send(std::string("220 hi\0hidden\r\n", 15)).expect("helo [127.0.0.1]");
    server.send(std::string("250\0", 4) + " ok\r\n");
    Accepted(server, "a@x");
    Quit(server);
    Delivery run;
    ASSERT_TRUE(run.deliver(server, {Msg("a@x")}));
    EXPECT_TRUE(Has(run.runLog, "220 hi"));
    EXPECT_TRUE(Has(run.runLog, "250"));
    EXPECT_EQ(run.sentLog, std::vector<std::string>{"a@x"});
    EXPECT_EQ(ReadFileBytes(run.dir.file("Tandrel.log")).find('\0'), std::string::npos);
}

// After the end the connection stays open until the caller closes it; whatever the
// server still sends is read and dropped, not offered again and again.
TEST(HostileServer, BytesAfterTheEndAreDrained) {
    std::atomic<bool> counted{false};
    FakeSmtpServer server;
    Greet(server);
    Accepted(server, "a@x");
    server.expect("quit").reply("221 bye").send("221 and more\r\n");
    server.call([&] { WaitFor(counted); }).expectClose();
    Delivery run;
    server.start();
    run.start({Msg("a@x")}, 1, run.config(server));
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 10000));
    int events = 0;
    auto inner = run.dialogue.dialogue().socket().onDataAvailable;
    run.dialogue.dialogue().socket().onDataAvailable = [&](ClientSocket* s, int e) {
        ++events;
        inner(s, e);
    };
    QTest::qWait(200);
    counted = true;
    EXPECT_LE(events, 3);
    EXPECT_EQ(run.dialogue.dialogue().socket().state(), SocketState::Connected);
    run.dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(run.listener.memo, (std::vector<std::string>{SentTo("a@x"), kAll}));
}

// A server that stops reading in the middle of a message: the run waits (for the
// data block's time-out, minutes by default), and Cancel ends it at once.
TEST(HostileServer, ServerThatNeverReadsIsCancelledAtOnce) {
    std::atomic<bool> cancelled{false};
    const std::vector<std::string> big = BigBody(200000);
    FakeSmtpServer server;
    server.allowTrailingBytes();
    Greet(server);
    Envelope(server, "a@x");
    server.expect("data").reply("354 go").call([&] { WaitFor(cancelled); }).drainUntilClose();
    server.start();
    Delivery run;
    run.start({Msg("a@x", big)}, 1, run.config(server));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !run.listener.gauges.empty() && run.listener.gauges.back() > 0; }, 10000));
    QTest::qWait(300);
    EXPECT_TRUE(run.dialogue.running());
    QElapsedTimer t;
    t.start();
    run.dialogue.cancel();
    EXPECT_LT(t.elapsed(), 1000);
    cancelled = true;
    EXPECT_FALSE(run.dialogue.running());
    run.dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_FALSE(run.listener.ended);
}

namespace {

// A listener that runs a nested event loop (as a message box would) once the gauge
// has passed a mark, long enough for the socket to report sent data meanwhile.
struct NestingListener : RecordingListener {
    bool nested = false;
    void deliveryProgress(int value) override {
        RecordingListener::deliveryProgress(value);
        if (value >= 40 && !nested) {
            nested = true;
            QTest::qWait(300);
        }
    }
};

} // namespace

// Socket events that arrive while a listener call runs a nested event loop are handled
// after it returns, in order: the message goes out byte for byte.
TEST(HostileServer, NestedEventLoopInAListenerKeepsTheDialogueInOrder) {
    const std::vector<std::string> big = BigBody(3000);
    FakeSmtpServer server;
    NestingListener listener;
    std::vector<std::string> runLog, sentLog;
    DeliveryRun dialogue(listener, runLog, sentLog);
    Greet(server);
    Envelope(server, "a@x");
    Data(server, big);
    server.reply("250 queued");
    Quit(server);
    server.start();
    TempDir dir;
    dialogue.start({Msg("a@x", big)}, 1, {"127.0.0.1", server.portText(), kFrom, "testhost"},
                   dir.file("Tandrel.log"));
    EXPECT_TRUE(WaitForRunEnd(dialogue, listener, 20000));
    dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_TRUE(listener.nested);
    EXPECT_EQ(sentLog, std::vector<std::string>{"a@x"});
    EXPECT_FALSE(dialogue.errorsOccurred());
}

namespace {

// Holds everything a delivery window would own; the listener can end it from inside any
// of its calls.
struct Owner {
    std::vector<std::string> runLog, sentLog;
    std::unique_ptr<DeliveryRun> dialogue;
};

struct DestroyingListener : RecordingListener {
    std::unique_ptr<Owner>* owner = nullptr;
    std::function<bool(const std::string&)> destroyOnMemo;
    bool destroyOnEnd = false;
    bool destroyed = false;

    // As its owner does: the run cancelled inside the call, destroyed from the event loop.
    void destroy() {
        if (destroyed) return;
        destroyed = true;
        (*owner)->dialogue->cancel();
        QTimer::singleShot(0, [o = owner] { o->reset(); });
    }
    void reportLine(const std::string& line) override {
        RecordingListener::reportLine(line);
        if (destroyOnMemo && destroyOnMemo(line)) destroy();
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        RecordingListener::deliveryEnded(summary);
        if (destroyOnEnd) destroy();
    }
};

} // namespace

// The dialogue (with its logs) ended by its listener in the middle of a callback, and
// destroyed right after: nothing more is reported and the connection goes.
TEST(DeliveryLifetime, DialogueDestroyedInsideItsListener) {
    const struct {
        const char* name;
        bool onEnd;
        std::string memoLine;
        std::function<void(FakeSmtpServer&)> script;
    } rows[] = {
        {"at the end", true, "",
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             Accepted(s, "b@x");
             s.expect("quit").reply("221 bye").expectClose();
         }},
        {"reporting an acceptance", false, SentTo("a@x"),
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             s.expectClose();
         }},
        {"reporting a refused recipient", false, "Error, illegal receipient \"a@x\", resuming:",
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("250 ok");
             s.expect("RCPT TO:<a@x>").reply("550 no").expectClose();
         }},
        {"reporting the lost connection", false, kClosed,
         [](FakeSmtpServer& s) {
             Greet(s);
             s.close();
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSmtpServer server;
        r.script(server);
        server.start();
        auto owner = std::make_unique<Owner>();
        DestroyingListener listener;
        listener.owner = &owner;
        listener.destroyOnEnd = r.onEnd;
        if (!r.onEnd) {
            const std::string line = r.memoLine;
            listener.destroyOnMemo = [line](const std::string& l) { return l == line; };
        }
        owner->dialogue = std::make_unique<DeliveryRun>(listener, owner->runLog, owner->sentLog);
        owner->dialogue->start({Msg("a@x"), Msg("b@x")}, 2,
                               {"127.0.0.1", server.portText(), kFrom, "testhost"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return listener.destroyed && !owner; }, 10000));
        EXPECT_TRUE(server.waitDone());
        QTest::qWait(20); // lets a deferred release run
        EXPECT_EQ(listener.memo.back(), r.onEnd ? kAll : r.memoLine);
    }
}

// The show step's own listener calls may run a nested event loop in which the user
// cancels (and the owner goes right after): no connection is started then.
TEST(DeliveryLifetime, CancelOrDestroyDuringTheShowStep) {
    struct Listener : RecordingListener {
        std::function<void()> onConnecting;
        void statusChanged(const std::string& text) override {
            RecordingListener::statusChanged(text);
            if (text == "Connecting..." && onConnecting) onConnecting();
        }
    };
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "cancelled");
        Listener listener;
        auto owner = std::make_unique<Owner>();
        owner->dialogue = std::make_unique<DeliveryRun>(listener, owner->runLog, owner->sentLog);
        DeliveryRun* dialogue = owner->dialogue.get();
        listener.onConnecting = [&] {
            QTest::qWait(5);
            dialogue->cancel();
            if (destroy) QTimer::singleShot(0, [&owner] { owner.reset(); });
        };
        dialogue->start({Msg("a@x")}, 1,
                        {"127.0.0.1", std::to_string(UnusedLoopbackPort()), kFrom, "x"});
        if (!destroy) {
            EXPECT_FALSE(dialogue->running());
            EXPECT_EQ(dialogue->dialogue().socket().state(), SocketState::Closed);
        }
        QTest::qWait(50);
        EXPECT_TRUE(listener.memo.empty()); // not even a refused connection reported
        EXPECT_EQ(listener.statuses, std::vector<std::string>{"Connecting..."});
    }
}

// Open descriptors stay the same over runs that end in every way.
TEST(DeliveryLifetime, NoDescriptorIsLeftBehind) {
    const auto runs = [] {
        for (int i = 0; i < 3; ++i) {
            {
                FakeSmtpServer server;
                Greet(server);
                Accepted(server, "a@x");
                Quit(server);
                Delivery run;
                EXPECT_TRUE(run.deliver(server, {Msg("a@x")}));
            }
            {
                FakeSmtpServer server;
                server.reply("220 hi").close();
                Delivery run;
                EXPECT_TRUE(run.deliver(server, {Msg("a@x")}));
            }
            {
                Delivery run;
                run.start({Msg("a@x")}, 1,
                          {"127.0.0.1", std::to_string(UnusedLoopbackPort()), kFrom, "testhost"});
                EXPECT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 10000));
                run.dialogue.closeConnection();
            }
            {
                Delivery run;
                EXPECT_THROW(run.start({Msg("a@x")}, 1, {"127.0.0.1", "nosuchservice", kFrom, "x"}),
                             ESocketException);
            }
            {
                // A bind failure leaves the socket opened; destroying it releases it.
                const int busy = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                socklen_t len = sizeof a;
                ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
                ASSERT_EQ(::listen(busy, 1), 0);
                ASSERT_EQ(::getsockname(busy, reinterpret_cast<sockaddr*>(&a), &len), 0);
                const std::string port = std::to_string(ntohs(a.sin_port));
                {
                    ClientSocket s;
                    s.setAddress("127.0.0.1");
                    s.setPort(port);
                    s.setLocalPort(port);
                    EXPECT_THROW(s.connectToHost(), ESocketException);
                    EXPECT_EQ(s.state(), SocketState::Opened);
                }
                ::close(busy);
            }
            {
                FakeSmtpServer server;
                server.allowTrailingBytes();
                Greet(server);
                server.drainUntilClose();
                server.start();
                Delivery run;
                run.start({Msg("a@x")}, 1, run.config(server));
                EXPECT_TRUE(QTest::qWaitFor(
                    [&] { return run.dialogue.dialogue().state() == SessionState::Transaction; },
                    5000));
                run.dialogue.cancel();
                EXPECT_TRUE(server.waitDone());
            }
        }
        QTest::qWait(20);
    };
    runs(); // whatever is opened once and kept (name service files and the like)
    const int before = OpenDescriptors();
    runs();
    EXPECT_EQ(OpenDescriptors(), before);
}

// ---------------------------------------------------------------------------------------

// A socket destroyed by the handler of one of its own events: nothing of it is touched
// afterwards.
TEST(ClientSocketLifetime, DestroyedInsideItsOwnEvent) {
    enum Event { Connected, DataAvailable, DataSent, SessionClosed };
    const struct {
        const char* name;
        Event event;
        bool refused;
        std::function<void(FakeSmtpServer&)> script;
    } rows[] = {
        {"refused connection", Connected, true, nullptr},
        {"data available", DataAvailable, false,
         [](FakeSmtpServer& s) { s.reply("220 hi").expectClose(); }},
        {"data sent", DataSent, false, [](FakeSmtpServer& s) { s.expect("hello").expectClose(); }},
        {"closed by the peer", SessionClosed, false,
         [](FakeSmtpServer& s) { s.reply("220 hi").close(); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<FakeSmtpServer> server;
        if (r.script) {
            server = std::make_unique<FakeSmtpServer>();
            r.script(*server);
            server->start();
        }
        auto* s = new ClientSocket;
        bool destroyed = false;
        const auto destroy = [&](ClientSocket* sock) {
            EXPECT_EQ(sock, s);
            destroyed = true;
            delete sock;
        };
        switch (r.event) {
        case Connected:
            s->onSessionConnected = [&](ClientSocket* sock, int) { destroy(sock); };
            break;
        case DataAvailable:
            s->onDataAvailable = [&](ClientSocket* sock, int) { destroy(sock); };
            break;
        case DataSent:
            s->onSessionConnected = [](ClientSocket* sock, int) { sock->sendText("hello\r\n"); };
            s->onDataSent = [&](ClientSocket* sock, int) { destroy(sock); };
            break;
        case SessionClosed:
            s->onDataAvailable = [](ClientSocket* sock, int) {
                char buf[64];
                sock->receive(buf, sizeof buf);
            };
            s->onSessionClosed = [&](ClientSocket* sock, int) { destroy(sock); };
            break;
        }
        s->setAddress("127.0.0.1");
        s->setPort(server ? server->portText() : std::to_string(UnusedLoopbackPort()));
        s->connectToHost();
        EXPECT_TRUE(QTest::qWaitFor([&] { return destroyed; }, 5000));
        if (!destroyed) delete s;
        if (server) {
            EXPECT_TRUE(server->waitDone());
        }
        QTest::qWait(10);
    }
}

// A handler that takes little at a time does not keep the event loop from other work
// while the peer keeps sending.
TEST(WSocketReceive, ReadLoopYieldsToTheEventLoop) {
    const std::string data(200000, 'x');
    FakeSmtpServer server;
    server.send(data).expectClose();
    server.start();
    ClientSocket s;
    std::size_t got = 0, atTimer = 0;
    bool timerArmed = false, timerFired = false;
    s.onDataAvailable = [&](ClientSocket* sock, int) {
        if (!timerArmed) {
            timerArmed = true;
            // Wait until most of the data is waiting, then see when a timer gets a turn.
            QThread::msleep(100);
            QTimer::singleShot(0, [&] {
                timerFired = true;
                atTimer = got;
            });
        }
        char c;
        if (sock->receive(&c, 1) == 1) ++got;
    };
    s.setAddress("127.0.0.1");
    s.setPort(server.portText());
    s.connectToHost();
    // A plain event loop: QTest::qWaitFor sleeps between its rounds.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (got == data.size()) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(got, data.size());
    EXPECT_TRUE(timerFired);
    EXPECT_LT(atTimer, data.size() / 2);
    s.closeConnection();
    EXPECT_TRUE(server.waitDone());
}
