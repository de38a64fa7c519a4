// SPDX-License-Identifier: GPL-3.0-or-later
// The initial responses of AUTH XOAUTH2 and OAUTHBEARER, taken apart by aiosmtpd's
// mechanisms (tests/support/smtp_store_server.py) after STARTTLS, with Python's smtplib
// as the client that carries them.
#include <gtest/gtest.h>

#include <QProcess>

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
