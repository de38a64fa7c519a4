// The token command, run by the token source as the user's settings give it.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "OAuthTokenSource.h"
#include "TestSupport.h"

using namespace tandrel;

namespace {

GlobalPrefs CommandPrefs(const std::string& command) {
    GlobalPrefs prefs;
    prefs.user = "ann@relay.example";
    prefs.auth = "oauth2";
    prefs.oauthCommand = command;
    return prefs;
}

} // namespace

TEST(TokenCommand, OutcomesAndMessages) {
    struct Case {
        std::string command;
        std::string token;              // expected token, or "" for a failure
        std::vector<std::string> error; // parts of the message
    };
    const Case cases[] = {
        {"printf 'tok-1\\nsecond line\\n'", "tok-1", {}},
        {"printf '  eyJ0.eXAi-_~+/=\\r\\n'", "eyJ0.eXAi-_~+/=", {}},
        // Standard input is closed: a command that asks does not wait for an answer.
        {"read answer; echo got-$answer", "got-", {}},
        {"echo 'no login for ann' >&2; exit 3", "", {"exit code 3", "no login for ann"}},
        {"echo", "", {"printed no token"}},
        {"echo 'two words'", "", {"no usable token"}},
        {"kill -SEGV $$", "", {"crashed"}},
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
    const GlobalPrefs prefs =
        CommandPrefs("echo run >> '" + count + "'; echo tok-$(wc -l < '" + count + "')");
    OAuthTokenSource source({nullptr, nullptr});
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-1");
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-1");
    EXPECT_TRUE(source.tokenRefused(prefs, "tok-1"));
    EXPECT_EQ(WaitForToken(source, prefs, false).accessToken, "tok-2");
    EXPECT_FALSE(source.tokenRefused(prefs, "tok-2"));
    EXPECT_EQ(test::ReadFileBytes(count), "run\nrun\n");
}
