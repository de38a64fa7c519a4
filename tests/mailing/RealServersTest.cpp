// SPDX-License-Identifier: GPL-3.0-or-later
// Delivery against real SMTP servers started on loopback: aiosmtpd, which stores what
// it receives, and Postfix's smtp-sink with its fault injection options.
#include <algorithm>
#include <gtest/gtest.h>

#include "tests/mailing/FakeSmtpScripts.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"
#include "smtp/ClientSocket.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\r\n";
    return out;
}

// A message with its own header and body and an attachment block shared with others.
OutgoingMessage Composed(const std::string& to, const SharedBlock& attachment) {
    OutgoingMessage m;
    m.address = to;
    for (const std::string& l :
         {"From: " + std::string(kFrom), "To: " + to, "Subject: report for " + to,
          std::string("MIME-Version: 1.0"),
          std::string("Content-Type: multipart/mixed; boundary=\"partbound\""), std::string(),
          std::string("--partbound"), std::string(), std::string("Dear ") + to + ",",
          std::string("."), std::string(".. two dots"), std::string("caf\xe9 cr\xe8me"),
          std::string(), std::string("--partbound"),
          std::string("Content-Transfer-Encoding: base64"), std::string()})
        m.lines.append(l);
    m.lines.appendShared(attachment);
    m.lines.append("--partbound--");
    return m;
}

SharedBlock Base64Block(std::size_t bytes) {
    auto block = std::make_shared<LineBlock>();
    static const char* const alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line(76, 'A');
    for (std::size_t n = 0, i = 0; n < bytes; n += line.size() + 2, ++i) {
        for (std::size_t k = 0; k < line.size(); ++k)
            line[k] = alphabet[(i * 31 + k * 7) % 64];
        block->append(line);
    }
    return block;
}

DeliveryConfig Config(const std::string& port) {
    return {"127.0.0.1", port, kFrom, "testhost"};
}

} // namespace

TEST(RealServers, AiosmtpdReceivesEveryMessageAsComposed) {
    test::AiosmtpdServer server;
    test::TempDir dir;
    const SharedBlock attachment = Base64Block(20000);
    const OutgoingList msgs = {Composed("ann@example.org", attachment),
                               Composed("bob@example.org", attachment),
                               Composed("cid@example.org", attachment)};
    std::vector<std::string> runLog, sentLog;
    const DeliveryResult r =
        RunDelivery(msgs, 3, Config(server.portText()), runLog, sentLog, 30000);
    ASSERT_TRUE(r.ended) << r.startError;
    EXPECT_EQ(r.memo,
              (std::vector<std::string>{SentTo("ann@example.org"), SentTo("bob@example.org"),
                                        SentTo("cid@example.org"), kAll}));
    EXPECT_EQ(sentLog,
              (std::vector<std::string>{"ann@example.org", "bob@example.org", "cid@example.org"}));
    // The strict syntax went out and was taken: no blank after the colon, and HELO with
    // an address literal for a name without a dot.
    for (const std::string& cmd :
         {std::string("helo [127.0.0.1]\r\n"), std::string("MAIL FROM:<") + kFrom + ">\r\n",
          std::string("RCPT TO:<cid@example.org>\r\n")})
        EXPECT_NE(std::find(runLog.begin(), runLog.end(), cmd), runLog.end()) << cmd;
    ASSERT_TRUE(server.waitForMessages(3));
    const auto stored = server.messages();
    ASSERT_EQ(stored.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stored[i].mailFrom, kFrom);
        EXPECT_EQ(stored[i].rcptTo, std::vector<std::string>{msgs[i].address});
        EXPECT_EQ(stored[i].data, Joined(msgs[i].lines.toVector())) << msgs[i].address;
    }
}

TEST(RealServers, AiosmtpdTakesATenMegabyteAttachmentInBatches) {
    test::AiosmtpdServer server;
    test::TempDir dir;
    const OutgoingList msgs = {Composed("big@example.org", Base64Block(10u << 20))};
    std::vector<std::string> runLog, sentLog;
    RecordingListener listener;
    DeliveryRun dialogue(listener, runLog, sentLog);
    dialogue.start(msgs, 1, Config(server.portText()), dir.file("Tandrel.log"));
    int dataSent = 0;
    CountDataSent(dialogue, dataSent);
    ASSERT_TRUE(WaitForRunEnd(dialogue, listener, 120000));
    dialogue.closeConnection();
    EXPECT_EQ(sentLog, std::vector<std::string>{"big@example.org"});
    EXPECT_LT(dataSent, (11 << 20) / 65536 + 20);
    ASSERT_TRUE(server.waitForMessages(1));
    EXPECT_TRUE(server.messages()[0].data == Joined(msgs[0].lines.toVector()));
}

// smtp-sink with fault injection: the reports, the SentLog and that the run ends.
TEST(RealServers, SmtpSinkFaultsAreReportedAndTheRunEnds) {
    const std::string failed5 = "500 5.3.0 Error: command failed";
    const std::string failed4 = "450 4.3.0 Error: command failed";
    const std::string closing = "421 4.0.0 Server closing connection";
    const auto twice = [](const std::string& heading, const std::string& reply) {
        std::vector<std::string> out;
        for (const char* a : {"a@x", "b@x"})
            for (const std::string& l :
                 {std::string(heading).replace(heading.find("%s"), 2, a), reply, std::string()})
                out.push_back(l);
        out.push_back("0 of 2 letters have been sent");
        out.push_back(kSome);
        return out;
    };
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> memo;
        std::vector<std::string> sent;
    } rows[] = {
        {{}, {SentTo("a@x"), SentTo("b@x"), kAll}, {"a@x", "b@x"}},
        {{"-f", "RCPT", "-B", "550 5.1.1 No such user"},
         twice("Error, illegal receipient \"%s\", resuming:", "550 5.1.1 No such user"),
         {}},
        {{"-f", "RCPT"}, twice("Error, unknown problem with \"%s\", resuming:", failed5), {}},
        {{"-r", "DATA"},
         twice("Error, mail to: \"%s\" temporarily refused, try again later:", failed4),
         {}},
        {{"-f", ".", "-B", "554 5.7.1 Rejected"},
         twice("Error, mail to: \"%s\" could not be sent:", "554 5.7.1 Rejected"),
         {}},
        {{"-f", "HELO"}, {SentTo("a@x"), SentTo("b@x"), kAll}, {"a@x", "b@x"}},
        {{"-q", "."},
         {"Error, connection closed by server", "0 of 2 letters have been sent", kSome},
         {}},
        // 421 is temporary and ends the run.
        {{"-Q", "MAIL"},
         {"Error, mail to: \"a@x\" temporarily refused, try again later:", closing, "",
          "0 of 2 letters have been sent", kSome},
         {}},
        {{"-Q", "RCPT"},
         {"Error, mail to: \"a@x\" temporarily refused, try again later:", closing, "",
          "0 of 2 letters have been sent", kSome},
         {}},
        {{"-Q", "QUIT"}, {SentTo("a@x"), SentTo("b@x"), kAll}, {"a@x", "b@x"}},
    };
    for (const auto& r : rows) {
        std::string name;
        for (const auto& a : r.args)
            name += a + " ";
        SCOPED_TRACE(name);
        test::SmtpSinkServer sink(r.args, r.args.empty());
        test::TempDir dir;
        std::vector<std::string> runLog, sentLog;
        OutgoingMessage a, b;
        a.address = "a@x";
        b.address = "b@x";
        a.lines = b.lines = MessageLines({"Subject: sink", "", "body", "."});
        const DeliveryResult res = RunDelivery({a, b}, 2, Config(sink.portText()), runLog, sentLog,
                                               30000, dir.file("Tandrel.log"));
        EXPECT_TRUE(res.ended);
        EXPECT_FALSE(res.timedOut);
        EXPECT_EQ(res.memo, r.memo);
        EXPECT_EQ(sentLog, r.sent);
        EXPECT_EQ(test::ReadFileBytes(dir.file("Tandrel.log")), Joined(runLog));
        if (r.args.empty()) {
            const auto dumps = sink.dumpedMessages();
            ASSERT_EQ(dumps.size(), 2u);
            for (const auto& d : dumps)
                EXPECT_NE(d.find("Subject: sink\n\nbody\n.\n"), std::string::npos) << d;
        }
    }
}
