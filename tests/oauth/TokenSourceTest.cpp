// SPDX-License-Identifier: GPL-3.0-or-later
// The token source end to end: the token command as a shell runs it, and the sign-in in
// the browser, token refresh and the keyring against a local identity provider that
// checks every PKCE proof, with a script for a browser.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <map>

#include "model/AppState.h"
#include "oauth/BrowserLauncher.h"
#include "tests/support/FakeKeyring.h"
#include "tests/support/IdentityProvider.h"
#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokenSource.h"
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
