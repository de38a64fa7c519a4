// SPDX-License-Identifier: GPL-3.0-or-later
// The token source end to end: the token command as a shell runs it, and the sign-in in
// the browser, token refresh and the keyring against a local identity provider that
// checks every PKCE proof, with a script for a browser.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <map>

#include "mailing/MailingRun.h"
#include "model/AppState.h"
#include "model/MailFile.h"
#include "model/TextFile.h"
#include "oauth/BrowserLauncher.h"
#include "oauth/OAuthCredentials.h"
#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokenSource.h"
#include "tests/mailing/DeliveryHarness.h"
#include "tests/support/FakeKeyring.h"
#include "tests/support/IdentityProvider.h"
#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

using namespace tandrel;

namespace {

// Asks `source` and waits for its answer (the token source answers through its callback,
// perhaps at once).
TokenResult WaitForToken(OAuthTokenSource& source, const Preferences& prefs, bool remember) {
    TokenResult result;
    bool answered = false;
    QEventLoop loop;
    source.requestToken(prefs, remember, [&](TokenResult r) {
        result = std::move(r);
        answered = true;
        loop.quit();
    });
    if (!answered) loop.exec();
    return result;
}

Preferences CommandPrefs(const std::string& command) {
    Preferences prefs;
    prefs.user = "ann@relay.example";
    prefs.auth = "oauth2";
    prefs.oauthCommand = command;
    return prefs;
}

// Settings of a custom provider: the local one.
Preferences PrefsFor(const test::IdentityProvider& provider) {
    Preferences prefs = CommandPrefs("");
    prefs.oauthProvider = "custom";
    prefs.oauthClientId = "tandrel-test";
    prefs.oauthAuthUrl = provider.authorizeUrl();
    prefs.oauthTokenUrl = provider.tokenUrl();
    prefs.oauthScope = "smtp offline_access";
    return prefs;
}

// Every file under `dir`, with its bytes.
std::string AllBytesUnder(const std::string& dir) {
    std::string all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) all += test::ReadFileBytes(entry.path().string());
    return all;
}

int BrowserVisits(const std::string& log) {
    const std::string text = test::ReadFileBytes(log);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The program's own home and temporary folder for the test: anything it might write
// lands here.
struct IsolatedHome {
    test::TempDir home;
    test::ScopedEnv homeVar{"HOME", home.path()};
    test::ScopedEnv config{"XDG_CONFIG_HOME", home.file(".config")};
    test::ScopedEnv cache{"XDG_CACHE_HOME", home.file(".cache")};
    test::ScopedEnv data{"XDG_DATA_HOME", home.file(".local")};
    test::ScopedEnv tmp{"TMPDIR", home.path()};
    std::string browserLog = home.file("browser.log");
    // $BROWSER, as the desktop's and our command line's launchers honour it.
    test::ScopedEnv browser{"BROWSER",
                            "/usr/bin/python3 \"" + test::IdentityProvider::browserScript() + "\""};
    test::ScopedEnv logVar{"TANDREL_BROWSER_LOG", browserLog};
};

} // namespace

// One session signs in once through the browser; then the token is reused, a refused
// token is replaced by refresh without the browser, and a later session starts from the
// refresh token in the keyring. A revoked refresh token leads back to the browser and
// leaves no stale keyring entry. No token reaches a file.
TEST(SignIn, BrowserOnceThenRefreshAndKeyringAcrossSessions) {
    test::IdentityProviderOptions options;
    options.rotateRefreshTokens = true;
    options.clientSecret = "not-really-secret";
    test::IdentityProvider provider(options); // its own files stay outside the home
    IsolatedHome env;
    Preferences prefs = PrefsFor(provider);
    prefs.oauthClientSecret = options.clientSecret;
    std::map<std::string, std::string> keyringEntries;
    test::FakeKeyring keyring(keyringEntries);
    const std::string account = OAuthKeyringAccount(prefs);
    std::vector<std::string> tokens;

    {
        OAuthTokenSource source({OpenUrlInBrowser, &keyring});
        const TokenResult first = WaitForToken(source, prefs, true);
        ASSERT_EQ(first.error, "");
        EXPECT_EQ(BrowserVisits(env.browserLog), 1);
        const test::IdentityProviderStats afterSignIn = provider.stats();
        EXPECT_EQ(afterSignIn.codeGrants, 1) << afterSignIn.lastError;
        EXPECT_EQ(afterSignIn.refused, 0) << afterSignIn.lastError;
        EXPECT_EQ(provider.validAccessTokens(), std::vector<std::string>{first.accessToken});
        ASSERT_EQ(keyringEntries.count(account), 1u);
        const std::string firstRefresh = keyringEntries[account];

        // Still fresh: handed out again without asking anyone.
        EXPECT_EQ(WaitForToken(source, prefs, true).accessToken, first.accessToken);
        EXPECT_EQ(provider.stats().refreshGrants, 0);

        // It served before, so after a refusal a new one is worth trying.
        EXPECT_TRUE(source.tokenRefused(prefs, first.accessToken));
        const TokenResult second = WaitForToken(source, prefs, true);
        ASSERT_EQ(second.error, "");
        EXPECT_NE(second.accessToken, first.accessToken);
        EXPECT_EQ(provider.stats().refreshGrants, 1);
        EXPECT_EQ(BrowserVisits(env.browserLog), 1);
        // The provider gave a new refresh token; the old one is spent.
        EXPECT_NE(keyringEntries[account], firstRefresh);
        // A token refused right after it was issued is the answer, not a reason to retry.
        EXPECT_FALSE(source.tokenRefused(prefs, second.accessToken));
        tokens = {first.accessToken, second.accessToken, firstRefresh, keyringEntries[account]};
    }
    {
        OAuthTokenSource nextSession({OpenUrlInBrowser, &keyring});
        const TokenResult fromKeyring = WaitForToken(nextSession, prefs, false);
        ASSERT_EQ(fromKeyring.error, "");
        EXPECT_EQ(BrowserVisits(env.browserLog), 1);
        EXPECT_EQ(provider.stats().refreshGrants, 2);
        tokens.push_back(fromKeyring.accessToken);
    }
    provider.revokeRefreshTokens();
    {
        OAuthTokenSource afterRevoke({OpenUrlInBrowser, &keyring});
        const TokenResult again = WaitForToken(afterRevoke, prefs, false);
        ASSERT_EQ(again.error, "");
        EXPECT_EQ(BrowserVisits(env.browserLog), 2);
        EXPECT_EQ(provider.stats().codeGrants, 2);
        // Not remembered this time: the refused entry is gone and no new one is kept.
        EXPECT_EQ(keyringEntries.count(account), 0u);
        tokens.push_back(again.accessToken);
    }
    const std::string written = AllBytesUnder(env.home.path());
    for (const auto& token : tokens)
        EXPECT_EQ(written.find(token), std::string::npos) << "a token was written to a file";
}

// A token the provider says runs out is replaced by refresh once it has, not before.
TEST(SignIn, ExpiredTokenIsRefreshed) {
    IsolatedHome env;
    test::IdentityProviderOptions options;
    options.expiresInSeconds = 1;
    test::IdentityProvider provider(options);
    const Preferences prefs = PrefsFor(provider);
    OAuthTokenSource source({OpenUrlInBrowser, nullptr});
    const TokenResult first = WaitForToken(source, prefs, false);
    ASSERT_EQ(first.error, "");
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, first.accessToken);
    QEventLoop wait;
    QTimer::singleShot(1200, &wait, &QEventLoop::quit);
    wait.exec();
    const TokenResult later = WaitForToken(source, prefs, false);
    ASSERT_EQ(later.error, "");
    EXPECT_NE(later.accessToken, first.accessToken);
    EXPECT_EQ(provider.stats().refreshGrants, 1);
    EXPECT_EQ(BrowserVisits(env.browserLog), 1);
}

// What ends a sign-in without a token, and what the user is told.
TEST(SignIn, FailuresNameTheirCause) {
    IsolatedHome env;
    test::IdentityProviderOptions denying;
    denying.denySignIn = true;
    test::IdentityProvider provider(denying);
    struct Case {
        const char* what;
        std::function<void(Preferences&)> change;
        const char* error; // a part of the message
    };
    const Case cases[] = {
        {"user says no", [](Preferences&) {}, "access_denied"},
        {"no client ID", [](Preferences& p) { p.oauthClientId.clear(); }, "client ID"},
        {"no login name", [](Preferences& p) { p.user.clear(); }, "login name"},
        {"token address in the clear",
         [](Preferences& p) { p.oauthTokenUrl = "http://id.example/token"; }, "https://"},
        {"wrong client", [](Preferences& p) { p.oauthClientId = "someone-else"; },
         "not completed in time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Preferences prefs = PrefsFor(provider);
        c.change(prefs);
        // The wrong client never comes back from the provider's page: a short wait.
        OAuthTokenSource source({OpenUrlInBrowser, nullptr, std::chrono::milliseconds(60000),
                                 std::chrono::milliseconds(3000)});
        const TokenResult result = WaitForToken(source, prefs, false);
        EXPECT_EQ(result.accessToken, "");
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
    EXPECT_EQ(provider.stats().codeGrants, 0);
}

TEST(TokenCommand, OutcomesAndMessages) {
    // The run's password is the program's own: the command gets the rest of the
    // environment, not it.
    test::ScopedEnv password("TANDREL_PASSWORD", "pw-for-the-relay");
    test::ScopedEnv ordinary("TANDREL_TEST_KEPT", "kept");
    struct Case {
        std::string command;
        std::string token;              // expected token, or "" for a failure
        std::vector<std::string> error; // parts of the message
    };
    const Case cases[] = {
        {"printf 'tok-1\\nsecond line\\n'", "tok-1", {}},
        {"echo tok-$TANDREL_TEST_KEPT-$(env | grep -c pw-for-the-relay)", "tok-kept-0", {}},
        {"printf '  eyJ0.eXAi-_~+/=\\r\\n'", "eyJ0.eXAi-_~+/=", {}},
        // Standard input is closed: a command that asks does not wait for an answer.
        {"read answer; echo got-$answer", "got-", {}},
        {"echo 'no login for ann' >&2; exit 3", "", {"exit code 3", "no login for ann"}},
        {"echo", "", {"printed no token"}},
        {"echo 'two words'", "", {"no usable token"}},
        {"kill -SEGV $$", "", {"crashed"}},
        {"yes", "", {"more than 1 MiB"}},
        {"yes >&2", "", {"more than 1 MiB"}},
        // A pipeline: the whole process group goes at the time-out, not the shell alone.
        {"echo waiting >&2; sleep 30 | cat", "", {"did not finish within 2 seconds", "waiting"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        OAuthTokenSource source({nullptr, nullptr, std::chrono::milliseconds(2000)});
        QElapsedTimer clock;
        clock.start();
        const TokenResult result = WaitForToken(source, CommandPrefs(c.command), false);
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_EQ(result.accessToken, c.token);
        if (c.error.empty()) {
            EXPECT_EQ(result.error, "");
        }
        for (const auto& part : c.error)
            EXPECT_NE(result.error.find(part), std::string::npos) << result.error;
    }
}

// The command's token is reused while the server takes it; once refused, the command
// runs again, and a token refused as soon as it came is not worth another run.
TEST(TokenCommand, RunsAgainOnlyAfterARefusal) {
    test::TempDir dir;
    const std::string count = dir.file("runs");
    const Preferences prefs =
        CommandPrefs("echo run >> '" + count + "'; echo tok-$(wc -l < '" + count + "')");
    OAuthTokenSource source({nullptr, nullptr});
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-1");
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-1");
    EXPECT_TRUE(source.tokenRefused(prefs, "tok-1"));
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-2");
    EXPECT_FALSE(source.tokenRefused(prefs, "tok-2"));
    EXPECT_EQ(test::ReadFileBytes(count), "run\nrun\n");
}

namespace {

// Whether process `pid` still runs (a zombie has ended).
bool ProcessRuns(const std::string& pid) {
    const std::string stat = test::ReadFileBytes("/proc/" + pid + "/stat");
    const std::size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

} // namespace

// A run cancelled while the token command it waits for still works (for the login, or for
// the renewal of a refused token) ends that command: the session's token source is free,
// so the next run, also for another login, is not left waiting for it. The command is a
// real shell script whose process is watched; aiosmtpd refuses the token that needs
// renewing.
TEST(OAuthRun, ACancelledRunLeavesNoTokenCommandWaiting) {
    test::TestCertificates certs;
    test::ScopedEnv trust("SSL_CERT_FILE", certs.caFile());
    const struct {
        const char* name;
        bool renewal; // the run logs in with a token that had served before
    } rows[] = {{"waiting for the login's token", false}, {"waiting for a renewed token", true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test::TempDir dir;
        // Answers "token-N" to its N-th call (from 0), except the call numbered in "hang",
        // which notes its process and waits.
        test::WriteFileBytes(
            dir.file("token.sh"),
            "n=$(cat calls 2>/dev/null || echo 0)\n"
            "echo $((n + 1)) > calls\n"
            "if [ \"$n\" = \"$(cat hang)\" ]; then echo $$ > pid; exec sleep 30; fi\n"
            "echo token-$n\n");
        test::WriteFileBytes(dir.file("hang"), r.renewal ? "1\n" : "0\n");
        test::WriteFileBytes(dir.file("tokens"), "never-given\n");
        test::AiosmtpdServer server(test::TokenOnlyRelay(certs, dir.file("tokens")));

        AppState st;
        st.programDir = dir.path();
        st.computerName = "testhost";
        st.prefs.smtp = "localhost";
        st.prefs.port = server.portText();
        st.prefs.fromAddress = "sender@example.org";
        st.prefs.security = "starttls";
        st.prefs.user = "ann@example.org";
        st.prefs.auth = "oauth2";
        st.prefs.oauthCommand = "cd '" + dir.path() + "' && . ./token.sh";
        st.newDatabase();
        Person& person = st.db->appendEntry();
        person.setName("bob");
        person.setEmail("bob@example.org");
        person.values = {person.name(), person.email()};
        const MailEditors eds{"sender@example.org", "[email]", "Hello", {"a note"}};
        BuildMailText(st, eds);

        OAuthTokenSource::Options sourceOptions;
        sourceOptions.commandLimit = std::chrono::seconds(30);
        OAuthTokenSource source(sourceOptions);
        if (r.renewal) { // the token the run gets has served once already
            ASSERT_EQ(WaitForToken(source, st.prefs, false).accessToken, "token-0");
        }
        test::RecordingListener frontEnd;
        {
            OAuthCredentials credentials(source, st.prefs, false);
            MailingRun run(st, {&person}, eds.subject);
            RunOptions runOptions;
            runOptions.credentials = &credentials;
            run.start(frontEnd, std::move(runOptions));
            ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(dir.file("pid")); }, 20000));
            QTest::qWait(100);
            EXPECT_EQ(run.state(),
                      r.renewal ? RunState::Delivering : RunState::AwaitingCredentials);
            run.cancel();
            ASSERT_TRUE(QTest::qWaitFor([&] { return run.ended(); }, 5000));
            EXPECT_EQ(run.summary().renewalError, "");
            EXPECT_EQ(run.summary().accepted, 0);
            const std::string pid = test::ReadFileBytes(dir.file("pid"));
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return !ProcessRuns(pid.substr(0, pid.find('\n'))); }, 3000))
                << "the token command still runs";
        }
        // The next run's question, for another login, gets its own answer at once.
        Preferences other = st.prefs;
        other.user = "cleo@example.org";
        QElapsedTimer clock;
        clock.start();
        const TokenResult next = WaitForToken(source, other, false);
        EXPECT_EQ(next.error, "");
        EXPECT_EQ(next.accessToken, r.renewal ? "token-2" : "token-1");
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_TRUE(server.messages().empty());
    }
}
