// SPDX-License-Identifier: GPL-3.0-or-later
// The initial responses of AUTH XOAUTH2 and OAUTHBEARER, taken apart by aiosmtpd's
// mechanisms (tests/support/smtp_store_server.py) after STARTTLS, with Python's smtplib
// as the client that carries them.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <functional>
#include <memory>

#include "smtp/SmtpDialogue.h"
#include "smtp/SmtpExtensions.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;

namespace {

// Reads "MECHANISM<TAB>initial response<TAB>answer to an error challenge" lines; for each
// it opens a session, says STARTTLS and AUTH, and prints the reply codes. The first line
// of output is the EHLO reply after STARTTLS, with its codes, lines joined by '|'.
const char* const kClient = R"PY(
import smtplib, ssl, sys
context = ssl.create_default_context(cafile=sys.argv[2])
first = True
for line in sys.stdin.read().splitlines():
    mechanism, initial, answer = line.split("\t")
    with smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=20) as s:
        s.starttls(context=context)
        code, text = s.ehlo()
        if first:
            lines = text.decode().split("\n")
            print("|".join("%d%s%s" % (code, "-" if i + 1 < len(lines) else " ", l)
                           for i, l in enumerate(lines)))
            first = False
        code, _ = s.docmd("AUTH", mechanism + " " + initial)
        codes = [code]
        if code == 334:
            codes.append(s.docmd(answer)[0])
        print(",".join(str(c) for c in codes))
)PY";

std::vector<std::string> RunClient(const test::AiosmtpdServer& server, const std::string& caFile,
                                   const std::string& input) {
    QProcess py;
    py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    py.start("/usr/bin/python3", {"-c", kClient, QString::fromStdString(server.portText()),
                                  QString::fromStdString(caFile)});
    py.write(QByteArray::fromStdString(input));
    py.closeWriteChannel();
    EXPECT_TRUE(py.waitForFinished(60000));
    std::vector<std::string> lines;
    for (const QByteArray& line : py.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) lines.push_back(line.toStdString());
    return lines;
}

} // namespace

TEST(BearerLogin, ServerTakesApartWhatWeEncode) {
    const std::string valid = "eyJ0eXAi.eyJhdWQi-_~+/=";
    test::TestCertificates certs;
    test::TempDir dir;
    test::WriteFileBytes(dir.file("tokens"), "other-token\n" + valid + "\n");
    test::AiosmtpdOptions options;
    options.tls = test::AiosmtpdOptions::Tls::StartTls;
    options.identity = certs.trusted();
    options.oauthTokensFile = dir.file("tokens");
    options.oauthOnly = true;
    test::AiosmtpdServer server(options);

    // Each login as ChooseBearerLogin makes it for a server offering only that mechanism.
    struct Case {
        EhloOffer offer;
        std::string user, token;
        std::string codes;   // the server's reply codes
        std::string logLine; // what the server read
    };
    EhloOffer xoauth2, oauthBearer;
    xoauth2.authXOAuth2 = true;
    oauthBearer.authOAuthBearer = true;
    const std::string plainUser = "ann@relay.example";
    const std::string hostileUser = "o'neil,sales=eu@relay.example"; // GS2 escapes
    const std::string utf8User = "j\xC3\xB6rg@relay.example";
    const std::string where = " host=relay.example port=587";
    const Case cases[] = {
        {xoauth2, plainUser, valid, "235", "XOAUTH2 user=" + plainUser + " token=valid"},
        {xoauth2, utf8User, valid, "235", "XOAUTH2 user=" + utf8User + " token=valid"},
        {oauthBearer, plainUser, valid, "235",
         "OAUTHBEARER user=" + plainUser + where + " token=valid"},
        {oauthBearer, hostileUser, valid, "235",
         "OAUTHBEARER user=" + hostileUser + where + " token=valid"},
        // A refused token: the error challenge comes, the client's answer ends it.
        {xoauth2, plainUser, "expired-token", "334,535",
         "XOAUTH2 user=" + plainUser + " token=invalid answer=ok"},
        {oauthBearer, plainUser, "expired-token", "334,535",
         "OAUTHBEARER user=" + plainUser + where + " token=invalid answer=ok"},
    };
    std::string input;
    for (const auto& c : cases) {
        const BearerLogin login = ChooseBearerLogin(c.offer, c.user, "relay.example", 587, c.token);
        input += login.mechanism + "\t" + login.initialResponse + "\t" + login.errorAnswer + "\n";
    }
    const std::vector<std::string> out = RunClient(server, certs.caFile(), input);
    ASSERT_EQ(out.size(), std::size(cases) + 1);
    std::string ehlo = out[0];
    std::replace(ehlo.begin(), ehlo.end(), '|', '\n');
    const EhloOffer offer = ParseEhloOffer(ehlo);
    EXPECT_TRUE(offer.authXOAuth2 && offer.authOAuthBearer) << out[0];
    EXPECT_FALSE(offer.authPlain || offer.authLogin) << out[0];
    EXPECT_EQ(ChooseBearerLogin(offer, plainUser, "relay.example", 587, valid).mechanism,
              "XOAUTH2");
    EXPECT_EQ(ChooseBearerLogin(EhloOffer{}, plainUser, "relay.example", 587, valid).mechanism, "");

    const std::vector<std::string> log = server.authLog();
    ASSERT_EQ(log.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].logLine);
        EXPECT_EQ(out[i + 1], cases[i].codes);
        EXPECT_EQ(log[i], cases[i].logLine);
    }
}

// A control byte would move the fields' borders: such a login is not encoded at all.
TEST(BearerLogin, ControlBytesGiveNoResponse) {
    for (const std::string& bad : {std::string("a\x01"
                                               "b"),
                                   std::string("a\nb"), std::string("a\0b", 3)}) {
        EXPECT_EQ(XOAuth2InitialResponse(bad, "token"), "");
        EXPECT_EQ(XOAuth2InitialResponse("user", bad), "");
        EXPECT_EQ(OAuthBearerInitialResponse(bad, "host", 25, "token"), "");
        EXPECT_EQ(OAuthBearerInitialResponse("user", "host", 25, bad), "");
    }
}

namespace {

// Records what a dialogue tells: the problems, the outcomes and the end.
struct TokenListener : DeliveryListener {
    std::vector<DeliveryProblem> problems;
    std::vector<MessageOutcome> outcomes;
    int calls = 0;
    bool ended = false;
    void deliveryEvent(const DeliveryEvent& e) override {
        ++calls;
        if (e.kind == DeliveryEvent::Kind::Problem) problems.push_back(e.problem);
    }
    void progress(int) override { ++calls; }
    void messageOutcome(std::size_t, MessageOutcome o, const ServerReply*) override {
        ++calls;
        outcomes.push_back(o);
    }
    void deliveryEnded() override {
        ++calls;
        ended = true;
    }
};

} // namespace

// A refused token is renewed once: the dialogue waits for the answer, which may come at
// once or later, and takes it only while it still waits; cancelled or destroyed
// meanwhile, a late answer changes nothing. aiosmtpd checks the tokens and stores what
// it accepts.
TEST(BearerLogin, ARefusedTokenIsRenewedWhenTheAnswerComes) {
    test::TestCertificates certs;
    test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    test::TempDir dir;
    const std::string fresh = "fresh-token-0123456789";
    test::WriteFileBytes(dir.file("tokens"), fresh + "\n");
    enum class Then { AnswerLater, AnswerAtOnce, AnswerNothing, CancelFirst, DestroyFirst };
    const struct {
        const char* name;
        Then then;
        std::vector<std::string> logins; // what the server read, in order
        std::size_t stored;
        std::vector<DeliveryProblem> problems;
        std::vector<MessageOutcome> outcomes;
    } rows[] = {
        {"answered later",
         Then::AnswerLater,
         {"token=invalid", "token=valid"},
         1,
         {},
         {MessageOutcome::Accepted}},
        {"answered at once",
         Then::AnswerAtOnce,
         {"token=invalid", "token=valid"},
         1,
         {},
         {MessageOutcome::Accepted}},
        {"no token to try",
         Then::AnswerNothing,
         {"token=invalid"},
         0,
         {DeliveryProblem::LoginRefused},
         {MessageOutcome::NotAttempted}},
        {"cancelled while waiting",
         Then::CancelFirst,
         {"token=invalid"},
         0,
         {},
         {MessageOutcome::NotAttempted}},
        {"destroyed while waiting", Then::DestroyFirst, {"token=invalid"}, 0, {}, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test::AiosmtpdServer server(test::TokenOnlyRelay(certs, dir.file("tokens")));
        TokenListener listener;
        auto dialogue = std::make_unique<SmtpDialogue>(listener);
        DeliveryConfig config{"localhost", server.portText(), "ann@example.org",
                              "client.example.org"};
        config.security = Security::StartTls;
        config.user = "ann@example.org";
        config.password = "stale-token";
        config.bearerToken = true;
        int asked = 0;
        std::function<void(std::string)> answer;
        config.renewToken = [&](std::function<void(std::string)> a) {
            ++asked;
            if (r.then == Then::AnswerAtOnce)
                a(fresh);
            else
                answer = std::move(a);
        };
        OutgoingMessage m;
        m.address = "bob@example.org";
        m.lines = MessageLines({"Subject: hi", "", "hello"});
        dialogue->start(OutgoingList{m}, 1, config);
        if (r.then != Then::AnswerAtOnce) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return bool(answer); }, 20000));
            QTest::qWait(100); // the dialogue only waits
            EXPECT_TRUE(dialogue->running());
            EXPECT_FALSE(listener.ended);
            if (r.then == Then::CancelFirst) dialogue->cancel();
            if (r.then == Then::DestroyFirst) dialogue.reset();
            const int callsBefore = listener.calls;
            answer(r.then == Then::AnswerNothing ? std::string() : fresh);
            if (r.then == Then::CancelFirst || r.then == Then::DestroyFirst) {
                QTest::qWait(300);
                EXPECT_EQ(listener.calls, callsBefore); // nothing after the cancel
            }
        }
        if (r.then != Then::CancelFirst && r.then != Then::DestroyFirst) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return listener.ended; }, 20000));
        }
        EXPECT_EQ(asked, 1);
        if (dialogue) dialogue->closeConnection();
        if (r.stored > 0) {
            EXPECT_TRUE(server.waitForMessages(r.stored));
        }
        EXPECT_EQ(server.messages().size(), r.stored);
        const std::vector<std::string> log = server.authLog();
        ASSERT_EQ(log.size(), r.logins.size());
        for (std::size_t i = 0; i < log.size(); ++i)
            EXPECT_NE(log[i].find(r.logins[i]), std::string::npos) << log[i];
        EXPECT_EQ(listener.problems, r.problems);
        EXPECT_EQ(listener.outcomes, r.outcomes);
    }
}
