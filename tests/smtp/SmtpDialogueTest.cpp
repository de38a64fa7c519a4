// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include "smtp/ClientSocket.h"
#include "smtp/SmtpDialogue.h"
#include "tests/mailing/DeliveryHarness.h"
#include "tests/mailing/FakeSmtpScripts.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using namespace tandrel::test;

// Every reaction to a negative reply, with the memo it leaves and the SentLog lines.
TEST(SmtpDialogue, NegativeRepliesFollowTheirRules) {
    using Script = std::function<void(FakeSmtpServer&)>;
    const struct {
        const char* name;
        int messages; // a@x, b@x, ...
        Script script;
        std::vector<std::string> memo;
        std::vector<std::string> sent;
    } rows[] = {
        {"greeting refused",
         1,
         [](FakeSmtpServer& s) { s.reply("554 no service").expectClose(); },
         {"Error, could not connect to server:", "554 no service", Letters(0, 1), kSome},
         {}},
        {"helo 502 warns and goes on",
         1,
         [](FakeSmtpServer& s) {
             s.reply("220 hi").expect("helo [127.0.0.1]").reply("502 what");
             Accepted(s, "a@x");
             Quit(s);
         },
         {"Warning, server did not recognize helo command, attempting to resume:", "502 what", "",
          SentTo("a@x"), kAll, kSome},
         {"a@x"}},
        {"helo 450 is an unknown response",
         1,
         [](FakeSmtpServer& s) {
             s.reply("220 hi").expect("helo [127.0.0.1]").reply("450 later");
             Accepted(s, "a@x");
             Quit(s);
         },
         {"Error, unknown response sending helo command, attempting to resume:", "450 later", "",
          SentTo("a@x"), kAll, kSome},
         {"a@x"}},
        {"helo 501 resets silently",
         1,
         [](FakeSmtpServer& s) {
             s.reply("220 hi").expect("helo [127.0.0.1]").reply("501 syntax");
             s.expect("rset").reply("250 reset");
             Accepted(s, "a@x");
             Quit(s);
         },
         {SentTo("a@x"), kAll},
         {"a@x"}},
        {"sender refused ends the run",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("550 not you").expectClose();
         },
         {"Error, server could not process sender's address, disconnecting:", "550 not you", "",
          Letters(0, 2), kSome},
         {}},
        {"recipient refused skips to the next",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("250 ok");
             s.expect("RCPT TO:<a@x>").reply("550 unknown user");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {"Error, illegal receipient \"a@x\", resuming:", "550 unknown user", "", SentTo("b@x"),
          Letters(1, 2), kSome},
         {"b@x"}},
        {"last recipient refused quits",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("250 ok");
             s.expect("RCPT TO:<a@x>").reply("550 unknown user");
             Quit(s);
         },
         {"Error, illegal receipient \"a@x\", resuming:", "550 unknown user", "", Letters(0, 1),
          kSome},
         {}},
        {"data refused once is asked again",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             s.expect("data").reply("554 not now");
             Data(s);
             s.reply("250 queued");
             Quit(s);
         },
         {SentTo("a@x"), kAll},
         {"a@x"}},
        {"data refused seven times gives up",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             for (int i = 0; i < 7; ++i)
                 s.expect("data").reply("552 later");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {"Error, unknown problem with \"a@x\", resuming:", "552 later", "", SentTo("b@x"),
          Letters(1, 2), kSome},
         {"b@x"}},
        {"end of data refused, more to come",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("554 spam");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {"Error, mail to: \"a@x\" could not be sent:", "554 spam", "", SentTo("b@x"),
          Letters(1, 2), kSome},
         {"b@x"}},
        {"end of data of the last message refused",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             Envelope(s, "b@x");
             Data(s);
             s.reply("554 spam");
             Quit(s);
         },
         {SentTo("a@x"), "Error, mail to: \"b@x\" could not be sent:", "554 spam", "",
          Letters(1, 2), kSome},
         {"a@x"}},
        {"seven 500 replies give the message up",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             for (int i = 0; i < 6; ++i) {
                 s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("500 eh?");
                 s.expect("rset").reply("250 ok");
             }
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").reply("500 eh?");
             Quit(s);
         },
         {"Error, unknown problem with \"a@x\", resuming:", "500 eh?", "", Letters(0, 1), kSome},
         {}},
        {"500 to the end of data with more to come is reported",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("500 line too long");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {"Error, mail to: \"a@x\" could not be sent:", "500 line too long", "", SentTo("b@x"),
          Letters(1, 2), kSome},
         {"b@x"}},
        {"503 when no message is left reports and quits",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("503 bad sequence");
             Quit(s);
         },
         {"Error, mail to: \"a@x\" could not be sent:", "503 bad sequence", "", Letters(0, 1),
          kSome},
         {}},
        {"close before the end of data is acknowledged",
         2,
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.close();
         },
         {"Error, connection closed by server", Letters(0, 2), kSome},
         {}},
        {"close while waiting for MAIL FROM's reply",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(std::string("MAIL FROM:<") + kFrom + ">").send("250 unfini").close();
         },
         {"Error, connection closed by server", Letters(0, 1), kSome},
         {}},
        {"QUIT refused still ends the run",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             s.expect("quit").reply("500 no").expectClose();
         },
         {SentTo("a@x"), kAll},
         {"a@x"}},
        {"close instead of answering QUIT is no error",
         1,
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             s.expect("quit").close();
         },
         {SentTo("a@x"), kAll},
         {"a@x"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSmtpServer server;
        r.script(server);
        OutgoingList msgs;
        for (int i = 0; i < r.messages; ++i)
            msgs.push_back(Msg(std::string(1, 'a' + i) + "@x"));
        Delivery run;
        EXPECT_TRUE(run.deliver(server, msgs));
        EXPECT_EQ(run.listener.memo, r.memo);
        EXPECT_EQ(run.sentLog, r.sent);
        EXPECT_EQ(run.dialogue.errorsOccurred(), r.memo.back() == kSome);
        EXPECT_EQ(run.listener.statuses.back(), "Disconnected");
        EXPECT_TRUE(run.listener.logSaved);
    }
}

TEST(SmtpDialogue, AllAcceptedRunLogsStatusAndGauge) {
    FakeSmtpServer server;
    Greet(server);
    for (const char* a : {"a@x", "b@x", "c@x", "d@x"})
        Accepted(server, a);
    Quit(server);
    Delivery run;
    run.runLog = {"from before"};
    OutgoingList msgs = {Msg("a@x"), Msg("b@x"), Msg("c@x"), Msg("d@x")};
    ASSERT_TRUE(run.deliver(server, msgs));

    EXPECT_EQ(run.listener.memo, (std::vector<std::string>{SentTo("a@x"), SentTo("b@x"),
                                                           SentTo("c@x"), SentTo("d@x"), kAll}));
    EXPECT_EQ(run.sentLog, (std::vector<std::string>{"a@x", "b@x", "c@x", "d@x"}));
    EXPECT_EQ(run.listener.statuses,
              (std::vector<std::string>{"Connecting...", "Connected to Host", "Sending 1 of 4",
                                        "Sending 2 of 4", "Sending 3 of 4", "Sending 4 of 4",
                                        "Disconnected"}));
    // Four lines per message: within message k the gauge runs 25k + 0, 6, 12, 18.
    EXPECT_EQ(run.listener.gauges, (std::vector<int>{0, 6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68,
                                                     75, 81, 87, 93, 100}));

    // The run log: the earlier items, the separator, commands, replies, reports.
    const std::vector<std::string> head = {"from before",
                                           "",
                                           "",
                                           "Connected to server - session initiated",
                                           "220 fake ready\r\n",
                                           "helo [127.0.0.1]\r\n",
                                           "250 fake\r\n",
                                           std::string("MAIL FROM:<") + kFrom + ">\r\n",
                                           "250 ok\r\n",
                                           "RCPT TO:<a@x>\r\n",
                                           "250 ok\r\n",
                                           "354 go on\r\n",
                                           "250 queued\r\n",
                                           SentTo("a@x")};
    ASSERT_GE(run.runLog.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(run.runLog.begin(), run.runLog.begin() + head.size()), head);
    EXPECT_EQ(run.runLog.back(), "221 bye\r\n");
    // The file gets every line no run has saved yet (here the one left in memory by an
    // abandoned run, then this run's), each once.
    std::string file;
    for (const std::string& line : run.runLog)
        file += line + "\r\n";
    EXPECT_EQ(test::ReadFileBytes(run.dir.file("Tandrel.log")), file);
}

TEST(SmtpDialogue, RepliesAreAssembledFromTheBytesReceived) {
    FakeSmtpServer server;
    // A greeting in two pieces, a reply split inside its line, two replies in one read,
    // and a multi-line reply longer than one read buffer.
    std::string longReply;
    for (int i = 0; i < 100; ++i)
        longReply += "250-extension line " + std::string(60, 'x') + "\r\n";
    longReply += "250 ok\r\n";
    server.send("220-welcome\r\n").pause(150).send("220 ready\r\n");
    server.expect("helo [127.0.0.1]").send("25").pause(150).send("0 fine\r\n");
    server.expect(std::string("MAIL FROM:<") + kFrom + ">").send(longReply);
    server.expect("RCPT TO:<a@x>").reply("250 ok");
    Data(server);
    server.send("250 queued\r\n221 bye\r\n"); // the QUIT reply comes early, in the same read
    server.expect("quit").expectClose();
    Delivery run;
    ASSERT_TRUE(run.deliver(server, {Msg("a@x")}));
    EXPECT_EQ(run.sentLog, std::vector<std::string>{"a@x"});
    EXPECT_FALSE(run.dialogue.errorsOccurred());
    const auto has = [&](const std::string& item) {
        return std::find(run.runLog.begin(), run.runLog.end(), item) != run.runLog.end();
    };
    EXPECT_TRUE(has("220-welcome\r\n220 ready\r\n"));
    EXPECT_TRUE(has("250 fine\r\n"));
    // Only its first 4096 bytes go to the run log.
    ASSERT_GT(longReply.size(), 4096u);
    EXPECT_TRUE(has(longReply.substr(0, 4096) + "... (" + std::to_string(longReply.size() - 4096) +
                    " more bytes)"));
}

TEST(SmtpDialogue, LinesAreDotStuffedAndEndedWithoutAnExtraEmptyLine) {
    const std::vector<std::string> lines = {"Subject: dots", "",      ".", "..",  "...",
                                            ".hidden",       " .not", "",  "last"};
    FakeSmtpServer server;
    Greet(server);
    Envelope(server, "a@x");
    // Explicit bytes, so the expectation does not share the helper's stuffing.
    server.expect("data").reply("354 go").expectBytes(
        "Subject: dots\r\n\r\n..\r\n...\r\n....\r\n..hidden\r\n .not\r\n\r\nlast\r\n.\r\n");
    server.reply("250 ok");
    Quit(server);
    Delivery run;
    EXPECT_TRUE(run.deliver(server, {Msg("a@x", lines)}));
}

TEST(SmtpDialogue, LargeMessagesGoInBatchesWithTheGaugeMoving) {
    // About 3 MB of base64-like lines shared by two messages.
    auto block = std::make_shared<LineBlock>();
    std::vector<std::string> lines = {"Subject: big", ""};
    for (int i = 0; i < 40000; ++i) {
        std::string l(76, static_cast<char>('A' + i % 26));
        if (i % 1000 == 0) l[0] = '.';
        block->append(l);
        lines.push_back(l);
    }
    OutgoingList msgs;
    for (const char* a : {"a@x", "b@x"}) {
        OutgoingMessage m;
        m.address = a;
        m.lines.append("Subject: big");
        m.lines.append("");
        m.lines.appendShared(block);
        msgs.push_back(std::move(m));
    }
    FakeSmtpServer server;
    Greet(server);
    for (const char* a : {"a@x", "b@x"}) {
        Envelope(server, a);
        Data(server, lines);
        server.reply("250 ok");
    }
    Quit(server);
    Delivery run;
    int dataSent = 0;
    server.start();
    run.start(msgs, 2, run.config(server));
    CountDataSent(run.dialogue, dataSent);
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 60000));
    run.dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(run.sentLog, (std::vector<std::string>{"a@x", "b@x"}));
    // One event per batch of up to 64 KiB (and a few per command), not one per line.
    EXPECT_LT(dataSent, 2 * (3100000 / 65536 + 10));
    // The gauge moved within each message, only by changes, and ended at 100.
    const auto& g = run.listener.gauges;
    EXPECT_GT(g.size(), 90u);
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    EXPECT_EQ(std::adjacent_find(g.begin(), g.end()), g.end());
    EXPECT_EQ(g.back(), 100);
}

TEST(SmtpDialogue, FailedConnectionEndsTheRunWithItsReason) {
    Delivery run;
    run.start({Msg("a@x")}, 1,
              {"127.0.0.1", std::to_string(test::UnusedLoopbackPort()), kFrom, "testhost"});
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 10000));
    EXPECT_TRUE(run.dialogue.ended());
    EXPECT_EQ(run.listener.memo,
              (std::vector<std::string>{"Error, could not connect to server:", "Connection refused",
                                        Letters(0, 1), kSome}));
    EXPECT_EQ(run.listener.statuses, (std::vector<std::string>{"Connecting...", "Disconnected"}));
    EXPECT_EQ(run.runLog, (std::vector<std::string>{"", "", "Error, could not connect to server:",
                                                    "Connection refused"}));
    EXPECT_TRUE(run.listener.logSaved);
}

TEST(SmtpDialogue, ImmediateConnectFailuresThrowAndLeaveTheDialogueReusable) {
    FakeSmtpServer server;
    Greet(server);
    Accepted(server, "a@x");
    Quit(server);
    Delivery run;
    run.listener.memo = {"previous run"};
    const struct {
        const char* smtp;
        const char* port;
        const char* want;
    } rows[] = {
        {"", "25", "Connect: No IP Address Specified"},
        {"127.0.0.1", "", "Connect: No Port Specified"},
        {"no-such-host.invalid", "25",
         "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
        {"127.0.0.1", "nosuchservice",
         "connect: WSocketResolvePort: Cannot convert port 'nosuchservice'"},
    };
    for (const auto& r : rows) {
        DeliveryConfig c = run.config(server);
        c.smtp = r.smtp;
        c.port = r.port;
        try {
            run.start({Msg("a@x")}, 1, c);
            ADD_FAILURE() << "no error for " << r.want;
        } catch (const ESocketException& e) {
            EXPECT_EQ(std::string(e.what()), r.want);
        }
        EXPECT_FALSE(run.dialogue.running());
        EXPECT_EQ(run.dialogue.dialogue().socket().state(), SocketState::Closed);
    }
    EXPECT_EQ(run.listener.memo, std::vector<std::string>{"previous run"});
    EXPECT_TRUE(run.runLog.empty());
    EXPECT_TRUE(run.deliver(server, {Msg("a@x")}));
    EXPECT_EQ(run.sentLog, std::vector<std::string>{"a@x"});
}

TEST(SmtpDialogue, CancelStopsAtOnceAndTheNextRunStartsFromTheFirstLine) {
    std::vector<std::string> lines = {"Subject: long", ""};
    for (int i = 0; i < 200000; ++i)
        lines.push_back("line " + std::to_string(i));
    FakeSmtpServer server;
    Greet(server);
    Envelope(server, "a@x");
    server.expect("data").reply("354 go").drainUntilClose();
    server.acceptNext();
    Greet(server);
    Envelope(server, "a@x");
    Data(server, lines);
    server.reply("250 ok");
    Quit(server);
    server.start();

    Delivery run;
    // Batches the server does not read yet: cancel while the body is under way.
    run.start({Msg("a@x", lines)}, 1, run.config(server));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !run.listener.gauges.empty() && run.listener.gauges.back() > 0; }, 10000));
    run.dialogue.cancel();
    EXPECT_FALSE(run.dialogue.running());
    EXPECT_FALSE(run.listener.ended);
    run.dialogue.closeConnection();
    const std::size_t logged = run.runLog.size();
    QTest::qWait(50);
    EXPECT_EQ(run.runLog.size(), logged); // nothing more happens for the cancelled run

    run.start({Msg("a@x", lines)}, 1, run.config(server));
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 30000));
    run.dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(run.sentLog, std::vector<std::string>{"a@x"});
}

TEST(SmtpDialogue, UnwritableRunLogLeavesTheRunEndedButUnsaved) {
    FakeSmtpServer server;
    Greet(server);
    Accepted(server, "a@x");
    Quit(server);
    Delivery run;
    server.start();
    run.logPath = run.dir.file("missing-dir/Tandrel.log");
    run.start({Msg("a@x")}, 1, run.config(server));
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 10000));
    run.dialogue.closeConnection();
    EXPECT_TRUE(run.listener.ended);
    EXPECT_FALSE(run.listener.logSaved);
    EXPECT_EQ(run.listener.memo, (std::vector<std::string>{SentTo("a@x"), kAll}));
    EXPECT_TRUE(server.waitDone());
}
