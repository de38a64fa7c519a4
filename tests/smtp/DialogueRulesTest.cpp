// SPDX-License-Identifier: GPL-3.0-or-later
// The dialogue's rules against a scripted server: each reply answers the command it was
// sent for, temporary refusals are told from final ones, nothing waits for ever, and no
// byte of data can become a command.
#include <QElapsedTimer>
#include <functional>
#include <gtest/gtest.h>

#include "smtp/ClientSocket.h"
#include "tests/mailing/FakeSmtpScripts.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

using Script = std::function<void(FakeSmtpServer&)>;

struct Row {
    const char* name;
    std::vector<OutgoingMessage> messages;
    Script script;
    std::vector<std::string> memo;
    std::vector<std::string> sent;
    // When given: what became of each message, in the order told.
    std::vector<std::pair<std::size_t, MessageOutcome>> outcomes = {};
    bool extensions = false; // as ehlo=yes in the settings
};

void RunRows(const std::vector<Row>& rows, int timeoutSeconds = 0, int maxMs = 15000) {
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FakeSmtpServer server;
        server.allowTrailingBytes();
        r.script(server);
        Delivery run;
        server.start();
        DeliveryConfig config = run.config(server);
        config.timeoutSeconds = timeoutSeconds;
        config.extensions = r.extensions;
        QElapsedTimer clock;
        clock.start();
        run.start(r.messages, static_cast<int>(r.messages.size()), config);
        EXPECT_TRUE(WaitForRunEnd(run.dialogue, run.listener, maxMs));
        EXPECT_LT(clock.elapsed(), maxMs);
        run.dialogue.closeConnection();
        EXPECT_TRUE(server.waitDone());
        EXPECT_TRUE(run.listener.ended);
        EXPECT_EQ(run.listener.memo, r.memo);
        EXPECT_EQ(run.sentLog, r.sent);
        if (!r.outcomes.empty()) {
            EXPECT_EQ(run.listener.outcomes, r.outcomes);
        }
        EXPECT_EQ(run.dialogue.acceptedCount(), static_cast<int>(r.sent.size()));
        EXPECT_EQ(run.dialogue.errorsOccurred(), r.memo.back() == kSome);
    }
}

const std::string kMailFrom = std::string("MAIL FROM:<") + kFrom + ">";

} // namespace

// Only a success reply to the end of data counts a message as sent, and a reply the
// dialogue did not ask for ends the run.
TEST(DialogueRules, RepliesAnswerTheCommandTheyWereSentFor) {
    const std::string notSent = "Error, mail to: \"a@x\" could not be sent:";
    RunRows({
        {"354 to the end of data",
         {Msg("a@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("354 more please");
             Quit(s);
         },
         {notSent, "354 more please", "", Letters(0, 1), kSome},
         {}},
        {"221 to the end of data",
         {Msg("a@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("221 bye");
             s.expect("quit").close();
         },
         {notSent, "221 bye", "", Letters(0, 1), kSome},
         {}},
        {"multi-line reply ending in 554",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.send("250-looks fine\r\n250-still fine\r\n554 rejected after all\r\n");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {notSent, "250-looks fine", "250-still fine", "554 rejected after all", "", SentTo("b@x"),
          Letters(1, 2), kSome},
         {"b@x"}},
        {"greeting sent as two 220 replies",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             s.reply("220 first").reply("220 second");
             s.expect("helo [127.0.0.1]").reply("250 hello");
             Accepted(s, "a@x");
             Accepted(s, "b@x");
             Quit(s);
         },
         {SentTo("a@x"), SentTo("b@x"), kAll},
         {"a@x", "b@x"}},
        {"reply while nothing is outstanding",
         {Msg("a@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             s.expect("data").send("354 go\r\n250 queued before the data\r\n").drainUntilClose();
         },
         {"Error, unexpected reply from server", "250 queued before the data", Letters(0, 1),
          kSome},
         {}},
        {"an extra reply to MAIL",
         {Msg("a@x"), Msg("b@x"), Msg("c@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "a@x");
             s.expect(kMailFrom).send("250 ok\r\n250 extra ok\r\n");
             // Nothing after the RCPT it would have answered: no DATA, no data lines.
             s.expect("RCPT TO:<b@x>").expectClose();
         },
         {SentTo("a@x"), "Error, unexpected reply from server", "250 extra ok", Letters(1, 3),
          kSome},
         {"a@x"}},
    });
}

// With PIPELINING the end of data of one message and the envelope of the next go out
// together (the server answers only once it has both), and every reply still counts
// for the message it was sent for.
TEST(DialogueRules, PipeliningAcrossMessagesKeepsEachOutcomeWithItsMessage) {
    using O = MessageOutcome;
    const auto greet = [](FakeSmtpServer& s) {
        s.reply("220 fake ready").expect("EHLO [127.0.0.1]");
        s.send("250-fake\r\n250-SIZE 100000\r\n250 PIPELINING\r\n");
    };
    const auto envelope = [](const std::string& to) {
        return kMailFrom + "\r\nRCPT TO:<" + to + ">\r\ndata\r\n";
    };
    const auto opened = [&](FakeSmtpServer& s, const std::string& to) {
        s.expectBytes(envelope(to)).send("250 ok\r\n250 ok\r\n354 go\r\n");
    };
    const std::string later = "Error, mail to: \"b@x\" temporarily refused, try again later:";
    RunRows({
        {"the next RCPT refused while an end of data is outstanding",
         {Msg("a@x"), Msg("b@x"), Msg("c@x")},
         [&](FakeSmtpServer& s) {
             greet(s);
             opened(s, "a@x");
             s.expectBytes(Wire(kBody) + envelope("b@x"));
             s.send("250 queued a\r\n250 ok\r\n550 no such user\r\n554 no recipients\r\n");
             s.expect("rset").reply("250 ok");
             opened(s, "c@x");
             s.expectBytes(Wire(kBody)).reply("250 queued c");
             Quit(s);
         },
         {SentTo("a@x"), "Error, illegal receipient \"b@x\", resuming:", "550 no such user", "",
          SentTo("c@x"), Letters(2, 3), kSome},
         {"a@x", "c@x"},
         {{0, O::Accepted}, {1, O::Refused}, {2, O::Accepted}},
         true},
        {"421 to the next MAIL, after an accepted end of data",
         {Msg("a@x"), Msg("b@x"), Msg("c@x")},
         [&](FakeSmtpServer& s) {
             greet(s);
             opened(s, "a@x");
             s.expectBytes(Wire(kBody) + envelope("b@x"));
             s.send("250 queued a\r\n421 shutting down\r\n").expectClose();
         },
         {SentTo("a@x"), later, "421 shutting down", "", Letters(1, 3), kSome},
         {"a@x"},
         {{0, O::Accepted}, {1, O::TemporarilyRefused}, {2, O::NotAttempted}},
         true},
        {"421 to an end of data with the next envelope behind it",
         {Msg("b@x"), Msg("c@x")},
         [&](FakeSmtpServer& s) {
             greet(s);
             opened(s, "b@x");
             s.expectBytes(Wire(kBody) + envelope("c@x"));
             s.send("421 shutting down\r\n").expectClose();
         },
         {later, "421 shutting down", "", Letters(0, 2), kSome},
         {},
         {{0, O::TemporarilyRefused}, {1, O::NotAttempted}},
         true},
        {"a message over the SIZE limit is not sent behind the one before",
         {Msg("a@x"), Msg("b@x", {"Subject: big", "", std::string(100001, 'x')}), Msg("c@x")},
         [&](FakeSmtpServer& s) {
             greet(s);
             opened(s, "a@x");
             s.expectBytes(Wire(kBody)).reply("250 queued a");
             opened(s, "c@x");
             s.expectBytes(Wire(kBody)).reply("250 queued c");
             Quit(s);
         },
         {SentTo("a@x"),
          "Error, message to \"b@x\" is larger than the server accepts (100000 bytes)", "",
          SentTo("c@x"), Letters(2, 3), kSome},
         {"a@x", "c@x"},
         {{0, O::Accepted}, {1, O::Refused}, {2, O::Accepted}},
         true},
        {"EHLO refused: the HELO dialogue",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             s.reply("220 fake ready").expect("EHLO [127.0.0.1]").reply("502 not here");
             s.expect("helo [127.0.0.1]").reply("250 fake");
             Accepted(s, "a@x");
             Accepted(s, "b@x");
             Quit(s);
         },
         {SentTo("a@x"), SentTo("b@x"), kAll},
         {"a@x", "b@x"},
         {{0, O::Accepted}, {1, O::Accepted}},
         true},
    });
}

// 4xx is reported as temporary and the run goes on, except for 421 which ends it; data
// the server must never see is refused for that person alone.
TEST(DialogueRules, TemporaryRefusalsAndUnsendableMessages) {
    const auto later = [](const std::string& a) {
        return "Error, mail to: \"" + a + "\" temporarily refused, try again later:";
    };
    OutgoingMessage smuggler =
        Msg("a@x", {"Subject: x", "", "hi\r\n.\r\nMAIL FROM:<evil@x>", "bye"});
    RunRows({
        {"greylisted recipient",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(kMailFrom).reply("250 ok");
             s.expect("RCPT TO:<a@x>").reply("451 4.7.1 greylisted");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {later("a@x"), "451 4.7.1 greylisted", "", SentTo("b@x"), Letters(1, 2), kSome},
         {"b@x"}},
        {"DATA refused for now is not asked again",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             s.expect("data").reply("450 busy");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {later("a@x"), "450 busy", "", SentTo("b@x"), Letters(1, 2), kSome},
         {"b@x"}},
        {"end of data refused for now",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Envelope(s, "a@x");
             Data(s);
             s.reply("452 mailbox full");
             s.expect("rset").reply("250 ok");
             Accepted(s, "b@x");
             Quit(s);
         },
         {later("a@x"), "452 mailbox full", "", SentTo("b@x"), Letters(1, 2), kSome},
         {"b@x"}},
        {"421 to RCPT ends the run",
         {Msg("a@x"), Msg("b@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             s.expect(kMailFrom).reply("250 ok");
             s.expect("RCPT TO:<a@x>").reply("421 shutting down").expectClose();
         },
         {later("a@x"), "421 shutting down", "", Letters(0, 2), kSome},
         {}},
        {"421 greeting",
         {Msg("a@x")},
         [](FakeSmtpServer& s) { s.reply("421 too busy").expectClose(); },
         {"Error, server temporarily refused the connection, try again later:", "421 too busy",
          Letters(0, 1), kSome},
         {}},
        {"address not plain ASCII",
         {Msg("b\xc3\xa9@x"), Msg("c@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "c@x");
             Quit(s);
         },
         {"Error, address \"b\xc3\xa9@x\" is not plain ASCII", "", SentTo("c@x"), Letters(1, 2),
          kSome},
         {"c@x"}},
        {"address holding a line break",
         {Msg("a@x>\r\nRCPT TO:<evil@x"), Msg("c@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "c@x");
             Quit(s);
         },
         {"Error, address \"a@x>\\x0d\\x0aRCPT TO:<evil@x\" holds a line break", "", SentTo("c@x"),
          Letters(1, 2), kSome},
         {"c@x"}},
        {"data line holding a line break",
         {smuggler, Msg("c@x")},
         [](FakeSmtpServer& s) {
             Greet(s);
             Accepted(s, "c@x");
             Quit(s);
         },
         {"Error, mail to: \"a@x\" not sent: a line of it holds a line break", "", SentTo("c@x"),
          Letters(1, 2), kSome},
         {"c@x"}},
    });
}

// With a time-out of one second, a server that stops at any step ends the run within
// seconds; one that does not answer QUIT after everything was accepted is no error.
TEST(DialogueRules, TimeOutsEndTheRun) {
    const std::string late = "Error, server did not answer in time, disconnecting";
    std::vector<std::string> big = {"Subject: big", ""};
    for (int i = 0; i < 400000; ++i)
        big.push_back(std::string(70, static_cast<char>('a' + i % 26)));
    RunRows(
        {
            {"never greets",
             {Msg("a@x")},
             [](FakeSmtpServer& s) { s.expectClose(); },
             {late, Letters(0, 1), kSome},
             {}},
            {"silent after HELO",
             {Msg("a@x")},
             [](FakeSmtpServer& s) { s.reply("220 hi").expect("helo [127.0.0.1]").expectClose(); },
             {late, Letters(0, 1), kSome},
             {}},
            {"stops reading in the middle of the data",
             {Msg("a@x", big)},
             [](FakeSmtpServer& s) {
                 Greet(s);
                 Envelope(s, "a@x");
                 s.expect("data").reply("354 go").pause(3000).drainUntilClose();
             },
             {late, Letters(0, 1), kSome},
             {}},
            {"no answer to the end of data",
             {Msg("a@x"), Msg("b@x")},
             [](FakeSmtpServer& s) {
                 Greet(s);
                 Envelope(s, "a@x");
                 Data(s);
                 s.expectClose();
             },
             {late, Letters(0, 2), kSome},
             {}},
            {"QUIT not answered",
             {Msg("a@x")},
             [](FakeSmtpServer& s) {
                 Greet(s);
                 Accepted(s, "a@x");
                 s.expect("quit").expectClose();
             },
             {SentTo("a@x"), kAll},
             {"a@x"}},
        },
        1, 5000);
}

// Lines longer than a batch go out in pieces and arrive whole, dot-stuffed.
TEST(DialogueRules, LinesLongerThanABatchArriveWhole) {
    const std::size_t batch = SmtpDialogue::kBatchBytes;
    const std::vector<std::string> lines = {"Subject: wide",
                                            "",
                                            "." + std::string(3 * batch, 'x'),
                                            "short",
                                            std::string(batch - 2, 'y'),
                                            std::string(batch - 1, 'z'),
                                            "." + std::string(batch - 3, 'w'),
                                            "end"};
    FakeSmtpServer server;
    Greet(server);
    Envelope(server, "a@x");
    Data(server, lines);
    server.reply("250 ok");
    Quit(server);
    Delivery run;
    server.start();
    run.start({Msg("a@x", lines)}, 1, run.config(server));
    int dataSent = 0;
    CountDataSent(run.dialogue, dataSent);
    ASSERT_TRUE(WaitForRunEnd(run.dialogue, run.listener, 30000));
    run.dialogue.closeConnection();
    EXPECT_TRUE(server.waitDone());
    EXPECT_EQ(run.sentLog, std::vector<std::string>{"a@x"});
    // At least one hand-over per batch's worth of bytes.
    EXPECT_GE(dataSent, 6);
}
