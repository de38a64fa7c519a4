// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox client against a real Dovecot (tests/support/DovecotServer), with what it
// stored read back by Python's imaplib (tests/imap/mailbox_dump.py): byte for byte, each
// message once, flagged \Seen, in the folder Dovecot marks \Sent under a name of its own
// spelling. Refusals are checked on a listener that must never see a connection, and on
// a scripted server that offers no STARTTLS.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "imap/MailboxClient.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/FakeSmtpServer.h"
#include "tests/support/HostileText.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;
using imap::AppendEnd;
using imap::AppendOutcome;
using imap::AppendReport;
using imap::FolderListing;
using imap::MailboxClient;
using imap::MailboxConfig;
using imap::Security;

namespace {

// Not ASCII, with the protocol's own shift character in it, and not "Sent": the server
// spells it on the wire, the client must read and write that spelling.
const std::string kSentFolder = "Gesendet & Kopien \xE2\x80\x93 \xE2\x9C\x93";
const std::string kUser = "alice";
const std::string kPassword = "c0rrect horse";

bool WaitFor(const std::function<bool()>& done, int ms = 120000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

struct StoredCopy {
    std::vector<std::string> flags;
    std::string bytes;
};

struct MailboxContents {
    std::string sentWireName; // as LIST sent it, quotes taken off
    std::vector<StoredCopy> messages;
};

MailboxContents ReadBack(const test::DovecotServer& server, const std::string& caFile) {
    QProcess py;
    py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    py.start("/usr/bin/python3",
             {QStringLiteral(TANDREL_SOURCE_DIR "/tests/imap/mailbox_dump.py"),
              QString::number(server.tlsPort()), QString::fromStdString(caFile),
              QString::fromStdString(kUser), QString::fromStdString(kPassword)});
    EXPECT_TRUE(py.waitForFinished(120000));
    const QJsonObject dump = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
    MailboxContents out;
    out.sentWireName = dump.value("sent").toString().toStdString();
    if (out.sentWireName.size() >= 2 && out.sentWireName.front() == '"')
        out.sentWireName = out.sentWireName.substr(1, out.sentWireName.size() - 2);
    for (const QJsonValue& m : dump.value("messages").toArray()) {
        StoredCopy copy;
        for (const QJsonValue& f : m.toObject().value("flags").toArray())
            copy.flags.push_back(f.toString().toStdString());
        copy.bytes =
            QByteArray::fromBase64(m.toObject().value("data").toString().toLatin1()).toStdString();
        out.messages.push_back(std::move(copy));
    }
    return out;
}

struct MessageRow {
    const char* what;
    std::string bytes;
    bool storable; // false: refused before the wire, never stored
};

// Messages whose bytes hold what a careless client or server would bend: 8-bit text,
// lines far past any limit, lines that end SMTP data, binary-looking bytes, text that
// looks like the protocol itself, a megabyte; and two that cannot be messages at all.
std::vector<MessageRow> HostileMessages(const std::string& round, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const auto head = [&](const char* what) {
        return "From: Sender <s@example.test>\r\nTo: r@example.test\r\nSubject: " + round + " " +
               what + "\r\nMessage-ID: <" + std::to_string(rng()) + "@example.test>\r\n\r\n";
    };
    std::vector<MessageRow> rows;
    rows.push_back({"8-bit",
                    head("8-bit") + "Gr\xC3\xBC\xC3\x9F"
                                    "e, \xE2\x82\xAC 5\r\n"
                                    "Latin-1: \xE4\xF6\xFC\xDF\xFF\r\n",
                    true});
    rows.push_back({"long lines",
                    head("long lines") + std::string(20000, 'x') + "\r\n" + std::string(998, 'y') +
                        "\r\nend\r\n",
                    true});
    rows.push_back(
        {"dot lines", head("dot lines") + ".\r\n..\r\n.hidden\r\n\r\n.\r\nlast\r\n", true});
    std::string binaryish = head("binary-ish");
    for (int line = 0; line < 40; ++line) {
        for (int i = 0; i < 64; ++i) {
            char c = static_cast<char>(1 + rng() % 255);
            if (c == '\r' || c == '\n') c = '\x7f';
            binaryish += c;
        }
        binaryish += "\r\n";
    }
    rows.push_back({"binary-ish", binaryish, true});
    rows.push_back({"protocol-looking",
                    head("protocol-looking") + "A001 OK done\r\n* 3 EXISTS\r\n{12}\r\n+ go\r\n"
                                               ") \"(\\Seen)\" NIL\r\n",
                    true});
    std::string big = head("a megabyte");
    while (big.size() < 1024 * 1024)
        big += "line " + std::to_string(big.size()) + " \xE2\x9C\x93 ~\r\n";
    rows.push_back({"a megabyte", big, true});
    rows.push_back({"with a NUL", head("with a NUL") + std::string("a\0b\r\n", 5), false});
    rows.push_back({"bare LF", head("bare LF") + "one\ntwo\r\n", false});
    return rows;
}

MailboxConfig ConfigFor(const test::DovecotServer& server, Security security) {
    MailboxConfig c;
    c.host = "localhost";
    c.security = security;
    c.port = security == Security::Tls ? server.tlsPort() : server.startTlsPort();
    c.user = kUser;
    c.password = kPassword;
    c.timeoutSeconds = 20;
    return c;
}

FolderListing ListFolders(MailboxClient& client) {
    std::optional<FolderListing> listing;
    client.listFolders([&](const FolderListing& l) { listing = l; });
    EXPECT_TRUE(WaitFor([&] { return listing.has_value(); }));
    return listing.value_or(FolderListing{{}, "no answer"});
}

struct AppendRun {
    std::vector<AppendReport> reports;
    std::optional<AppendEnd> end;
};

AppendRun Append(MailboxClient& client, const std::string& folder,
                 std::vector<std::string> messages) {
    AppendRun run;
    client.appendMessages(
        folder, std::move(messages), [&](const AppendReport& r) { run.reports.push_back(r); },
        [&](const AppendEnd& e) { run.end = e; });
    EXPECT_TRUE(WaitFor([&] { return run.end.has_value(); }));
    return run;
}

class MailboxClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = test::DovecotServer::MissingReason(); !why.empty())
            GTEST_SKIP() << why;
    }
};

} // namespace

TEST_F(MailboxClientTest, StoresHostileMessagesInTheMarkedFolderOverEveryLogin) {
    test::SeededRun seeded;
    test::TestCertificates certs;
    test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    test::DovecotServer server(
        {certs.trusted(), kUser, kPassword, kSentFolder, {"Sent", "Drafts"}});

    struct Round {
        const char* what;
        Security security;
        imap::BearerMechanism bearer;
        bool withToken;
        int connections;
        const char* loginInLog; // Dovecot's name of the mechanism it saw
    };
    const Round rounds[] = {
        {"STARTTLS, password", Security::StartTls, {}, false, 1, "method=PLAIN"},
        {"TLS, XOAUTH2, two connections", Security::Tls, imap::BearerMechanism::XOAuth2, true, 2,
         "method=XOAUTH2"},
        {"STARTTLS, OAUTHBEARER", Security::StartTls, imap::BearerMechanism::OAuthBearer, true, 1,
         "method=OAUTHBEARER"},
    };
    std::vector<std::string> expected; // every storable message of every round
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.what);
        MailboxConfig config = ConfigFor(server, round.security);
        if (round.withToken) {
            config.password.clear();
            config.bearerToken = kPassword; // the test server takes the password as token
            config.bearerMechanism = round.bearer;
        }
        config.connections = round.connections;
        const std::size_t logBefore = server.log().size();
        MailboxClient client(config);

        const FolderListing listing = ListFolders(client);
        ASSERT_EQ(listing.error, "");
        const imap::SentFolderChoice sent = imap::FindSentFolder(listing.folders);
        ASSERT_TRUE(sent.folder) << sent.error;
        EXPECT_EQ(sent.folder->name, kSentFolder);

        const std::vector<MessageRow> rows = HostileMessages(round.what, seeded.seed);
        std::vector<std::string> messages;
        for (const MessageRow& row : rows)
            messages.push_back(row.bytes);
        const AppendRun run = Append(client, sent.folder->name, messages);
        ASSERT_TRUE(run.end);
        EXPECT_EQ(run.end->error, "");
        EXPECT_EQ(client.state(), imap::MailboxState::Idle);
        std::map<std::size_t, int> told;
        for (const AppendReport& r : run.reports) {
            ++told[r.index];
            ASSERT_LT(r.index, rows.size());
            EXPECT_EQ(r.outcome,
                      rows[r.index].storable ? AppendOutcome::Stored : AppendOutcome::Refused)
                << rows[r.index].what << ": " << r.detail;
            if (round.connections == 1 && r.index > 0) {
                EXPECT_EQ(told.count(r.index - 1), 1u) << "reported out of order";
            }
        }
        EXPECT_EQ(told.size(), rows.size());
        for (const auto& [index, times] : told)
            EXPECT_EQ(times, 1) << rows[index].what;
        std::size_t storable = 0;
        for (const MessageRow& row : rows) {
            if (!row.storable) continue;
            ++storable;
            expected.push_back(row.bytes);
        }
        EXPECT_EQ(run.end->stored, storable);
        // Every login of the round used the mechanism asked for.
        const std::string logins = server.log().substr(logBefore);
        const auto count = [&](const std::string& what) {
            std::size_t n = 0;
            for (auto at = logins.find(what); at != std::string::npos;
                 at = logins.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_GE(count(round.loginInLog), 2u) << logins;
        EXPECT_EQ(count(round.loginInLog), count("method=")) << logins;

        const MailboxContents contents = ReadBack(server, certs.caFile());
        EXPECT_EQ(sent.folder->wireName, contents.sentWireName);
        ASSERT_EQ(contents.messages.size(), expected.size());
        std::multiset<std::string> want(expected.begin(), expected.end()), got;
        for (const StoredCopy& copy : contents.messages) {
            got.insert(copy.bytes);
            EXPECT_NE(std::find(copy.flags.begin(), copy.flags.end(), "\\Seen"), copy.flags.end());
        }
        for (const MessageRow& row : rows) {
            if (row.storable) {
                EXPECT_EQ(got.count(row.bytes), 1u) << row.what << " is not stored exactly once";
            } else {
                EXPECT_EQ(got.count(row.bytes), 0u) << row.what << " is stored";
            }
        }
        EXPECT_TRUE(want == got);
        // One connection keeps the order of the messages.
        for (std::size_t i = expected.size() - storable;
             round.connections == 1 && i < expected.size(); ++i) {
            EXPECT_EQ(contents.messages[i].bytes, expected[i]) << "message " << i;
        }
    }

    // Cancelled while a megabyte is under way: nothing more is told, and the client is
    // free at once for the next request.
    MailboxClient client(ConfigFor(server, Security::Tls));
    bool told = false;
    const auto all = HostileMessages("cancelled", seeded.seed);
    const auto big = std::find_if(all.begin(), all.end(), [](const MessageRow& r) {
        return std::string(r.what) == "a megabyte";
    });
    client.appendMessages(
        kSentFolder, std::vector<std::string>(4, big->bytes),
        [&](const AppendReport&) { told = true; }, [&](const AppendEnd&) { told = true; });
    EXPECT_EQ(client.state(), imap::MailboxState::Appending);
    client.cancel();
    EXPECT_EQ(client.state(), imap::MailboxState::Idle);
    WaitFor([] { return false; }, 500);
    EXPECT_FALSE(told);
    EXPECT_EQ(ListFolders(client).error, "");
}

// Values that would become protocol are refused before anything is sent: the listener
// never sees a connection, and the refusal comes from the event loop, not inside the call.
TEST(MailboxRefusal, NothingUnfitReachesTheWire) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] { ++connections; });

    struct Row {
        const char* what;
        std::function<void(MailboxConfig&, std::string&)> spoil;
    };
    const std::string injected = "\r\nA1 DELETE INBOX";
    const Row rows[] = {
        {"folder with CR LF", [&](MailboxConfig&, std::string& f) { f = "Sent" + injected; }},
        {"folder with LF", [](MailboxConfig&, std::string& f) { f = "Sent\nA1 LOGOUT"; }},
        {"folder with NUL", [](MailboxConfig&, std::string& f) { f = std::string("Se\0nt", 5); }},
        {"folder not UTF-8", [](MailboxConfig&, std::string& f) { f = "Sent \xFF"; }},
        {"user with CR LF", [&](MailboxConfig& c, std::string&) { c.user = "alice" + injected; }},
        {"password with LF", [](MailboxConfig& c, std::string&) { c.password = "pw\nA1 X"; }},
        {"token with CR", [](MailboxConfig& c, std::string&) { c.bearerToken = "tok\rA1 X"; }},
        {"no encryption", [](MailboxConfig& c, std::string&) { c.security = Security::None; }},
        {"host with CR LF",
         [&](MailboxConfig& c, std::string&) { c.host = "localhost" + injected; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MailboxConfig config;
        config.host = "127.0.0.1";
        config.port = listener.serverPort();
        config.security = Security::StartTls;
        config.user = kUser;
        config.password = kPassword;
        std::string folder = "Sent";
        row.spoil(config, folder);
        MailboxClient client(config);
        bool returned = false;
        bool calledInside = false;
        std::optional<AppendEnd> end;
        std::size_t reports = 0;
        client.appendMessages(
            folder, {"Subject: x\r\n\r\nbody\r\n"}, [&](const AppendReport&) { ++reports; },
            [&](const AppendEnd& e) {
                calledInside = !returned;
                end = e;
            });
        returned = true;
        ASSERT_TRUE(WaitFor([&] { return end.has_value(); }, 10000));
        EXPECT_FALSE(calledInside);
        EXPECT_NE(end->error, "");
        EXPECT_EQ(end->stored, 0u);
        EXPECT_EQ(reports, 0u);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        EXPECT_EQ(connections, 0);
    }
}

// Whatever keeps the login from happening safely ends the request with every message not
// attempted and nothing stored: a wrong password or token, a server whose certificate no
// trusted authority signed or names another host, and a server that offers no STARTTLS
// (which never sees the password).
TEST_F(MailboxClientTest, RefusedLoginsStoreNothingAndTellEveryMessage) {
    test::TestCertificates certs;
    test::TestCertificates strangers; // an authority that signed nothing of the server's
    test::DovecotServer server({certs.trusted(), kUser, kPassword, kSentFolder, {}});
    // Signed by the trusted authority, but for another host name.
    test::DovecotServer misnamed({certs.wrongName(), kUser, kPassword, kSentFolder, {}});
    test::FakeSmtpServer plain;
    plain.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n")
        .expect("A001 CAPABILITY")
        .reply("* CAPABILITY IMAP4rev1 AUTH=PLAIN")
        .reply("A001 OK done")
        .drainUntilClose();

    struct Row {
        const char* what;
        std::string caFile;
        std::function<void(MailboxConfig&)> change;
    };
    const Row rows[] = {
        {"wrong password", certs.caFile(), [](MailboxConfig& c) { c.password = "wrong"; }},
        {"wrong XOAUTH2 token", certs.caFile(),
         [](MailboxConfig& c) {
             c.password.clear();
             c.bearerToken = "expired";
         }},
        {"untrusted certificate", strangers.caFile(), [](MailboxConfig&) {}},
        {"certificate for another name", certs.caFile(),
         [&](MailboxConfig& c) { c.port = misnamed.startTlsPort(); }},
        {"no STARTTLS offered", certs.caFile(),
         [&](MailboxConfig& c) {
             c.host = "127.0.0.1";
             c.port = plain.port();
             plain.start(); // it waits for its client only so long
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::ScopedEnv trust("SSL_CERT_FILE", row.caFile);
        MailboxConfig config = ConfigFor(server, Security::StartTls);
        row.change(config);
        {
            MailboxClient client(config);
            const FolderListing listing = ListFolders(client);
            EXPECT_NE(listing.error, "");
            EXPECT_TRUE(listing.folders.empty());
        }
        if (config.port == plain.port()) continue; // the script allows one connection
        MailboxClient client(config);
        const AppendRun run =
            Append(client, kSentFolder, {"Subject: a\r\n\r\n1\r\n", "Subject: b\r\n\r\n2\r\n"});
        ASSERT_TRUE(run.end);
        EXPECT_NE(run.end->error, "");
        EXPECT_EQ(run.end->stored, 0u);
        ASSERT_EQ(run.reports.size(), 2u);
        for (const AppendReport& r : run.reports)
            EXPECT_EQ(r.outcome, AppendOutcome::NotAttempted) << r.detail;
    }
    EXPECT_TRUE(plain.waitDone());
    EXPECT_EQ(plain.received().find(kPassword), std::string::npos);
    EXPECT_EQ(plain.received().find("LOGIN"), std::string::npos) << plain.received();
    EXPECT_EQ(plain.received().find("AUTHENTICATE"), std::string::npos) << plain.received();
    EXPECT_TRUE(ReadBack(server, certs.caFile()).messages.empty());
}

// Which folder is the Sent folder, from the answers to LIST as servers send them.
TEST(SentFolder, TheMarkComesFirstThenTheName) {
    struct Row {
        const char* what;
        std::string answer;
        std::string chosen; // "" when none: the error names every folder
    };
    const Row rows[] = {
        {"marked beats named",
         "* LIST (\\HasNoChildren) \"/\" Sent\r\n"
         "* LIST (\\Sent \\HasNoChildren) \"/\" \"Gesendete Objekte\"\r\n",
         "Gesendete Objekte"},
        {"marked but not selectable",
         "* LIST (\\Noselect \\Sent) \".\" Archive\r\n"
         "* LIST () \".\" \"sent\"\r\n",
         "sent"},
        {"under INBOX", "* LIST () \".\" INBOX\r\n* LIST () \".\" INBOX.Sent\r\n", "INBOX.Sent"},
        {"encoded name", "* LIST (\\Sent) \"/\" \"&AMk-l&AOk-ments envoy&AOk-s\"\r\n",
         "\xC3\x89l\xC3\xA9ments envoy\xC3\xA9s"},
        {"none", "* LIST () \"/\" INBOX\r\n* LIST (\\Drafts) \"/\" \"Entw&APw-rfe\"\r\n", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto folders = imap::ParseFolderList(row.answer);
        const imap::SentFolderChoice choice = imap::FindSentFolder(folders);
        if (row.chosen.empty()) {
            ASSERT_FALSE(choice.folder);
            for (const imap::Folder& f : folders)
                EXPECT_NE(choice.error.find(f.name), std::string::npos) << choice.error;
            EXPECT_NE(choice.error.find("Entw\xC3\xBCrfe"), std::string::npos) << choice.error;
        } else {
            ASSERT_TRUE(choice.folder) << choice.error;
            EXPECT_EQ(choice.folder->name, row.chosen);
        }
    }
}
