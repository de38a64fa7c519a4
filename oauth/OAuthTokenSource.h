// SPDX-License-Identifier: GPL-3.0-or-later
// Access tokens for the bearer-token login, one source for a whole session of the
// program. It gives the token it holds while that is fresh; otherwise it runs the token
// command, or uses the refresh token (held in memory, or in the keyring when the user
// chose to remember the login), or signs in in the browser. No token is ever written to
// a file.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "oauth/AuthorizationCodeFlow.h"
#include "model/Model.h"

class QNetworkAccessManager;

namespace tandrel {

class PasswordKeeper;
class TokenCommand;

struct TokenResult {
    std::string accessToken; // valid when error is ""
    std::string error;       // why there is no token, for the user
};

class OAuthTokenSource : public QObject {
    Q_OBJECT
public:
    struct Options {
        OpenUrlFunction openUrl;           // opens the browser for a sign-in
        PasswordKeeper* keyring = nullptr; // null: refresh tokens stay in memory
        std::chrono::milliseconds commandLimit{60000};
        std::chrono::milliseconds signInLimit{5 * 60 * 1000};
    };
    explicit OAuthTokenSource(Options options, QObject* parent = nullptr);
    ~OAuthTokenSource() override;

    // An access token for the login `prefs` describe, to `done` (called once, perhaps
    // before this returns). With `remember`, a new refresh token goes to the keyring.
    // Requests made while one is running share its outcome.
    void requestToken(const Preferences& prefs, bool remember,
                      std::function<void(TokenResult)> done);

    // The server refused `token`. The next request gets a new one (by refresh or by the
    // command) instead of this. True when that is worth trying right away: the token had
    // served before (it may have run out); false when it was new, so a fresh one would
    // most likely be refused as well and the refusal is the answer.
    bool tokenRefused(const Preferences& prefs, const std::string& token);

    // Ends a command or a sign-in in progress; waiting requests get the error "cancelled".
    void cancel();

private:
    struct Login;
    Login& loginFor(const Preferences& prefs);
    void obtain(const Preferences& prefs, bool remember);
    void refresh(const Preferences& prefs, bool remember, const std::string& refreshToken);
    void signIn(const Preferences& prefs, bool remember);
    void accept(const Preferences& prefs, bool remember, const TokenGrant& grant);
    void deliver(TokenResult result);

    Options options_;
    QNetworkAccessManager* network_;
    std::map<std::string, std::unique_ptr<Login>> logins_;
    std::vector<std::function<void(TokenResult)>> waiting_;
    std::string busyKey_; // the login a request is running for; "" when idle
    TokenCommand* command_ = nullptr;
    AuthorizationCodeFlow* flow_ = nullptr;
};

} // namespace tandrel
