// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/OAuthTokenSource.h"

#include <QNetworkAccessManager>

#include "model/AppState.h"
#include "oauth/OAuthSettings.h"
#include "oauth/TokenCommand.h"

namespace tandrel {

namespace {

using Clock = std::chrono::steady_clock;

QString Text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The token command's tokens are kept apart from the sign-in's, per command line.
std::string LoginKey(const Preferences& prefs) {
    return prefs.oauthCommand.empty() ? OAuthKeyringAccount(prefs)
                                      : "command\n" + prefs.oauthCommand;
}

OAuthClient ClientFor(const Preferences& prefs) {
    const OAuthEndpoints endpoints = OAuthEndpointsFor(prefs);
    return {QUrl(Text(endpoints.authorizationUrl)),
            QUrl(Text(endpoints.tokenUrl)),
            Text(prefs.oauthClientId),
            Text(prefs.oauthClientSecret),
            Text(endpoints.scope),
            Text(prefs.user)};
}

// A token is taken for spent a little before the provider says, so that it does not run
// out between being handed over and being used.
Clock::time_point FreshUntil(std::chrono::seconds lifetime) {
    if (lifetime.count() <= 0) return Clock::time_point::max();
    return Clock::now() + lifetime - std::min(std::chrono::seconds(60), lifetime / 2);
}

} // namespace

struct OAuthTokenSource::Login {
    std::string accessToken;
    Clock::time_point freshUntil = Clock::time_point::max();
    int handedOut = 0; // how often accessToken was given out
    std::string refreshToken;
    bool refreshTokenInKeyring = false;
};

OAuthTokenSource::OAuthTokenSource(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), network_(new QNetworkAccessManager(this)) {}

OAuthTokenSource::~OAuthTokenSource() = default;

OAuthTokenSource::Login& OAuthTokenSource::loginFor(const Preferences& prefs) {
    auto& login = logins_[LoginKey(prefs)];
    if (!login) login = std::make_unique<Login>();
    return *login;
}

void OAuthTokenSource::requestToken(const Preferences& prefs, bool remember,
                                    std::function<void(TokenResult)> done) {
    const std::string key = LoginKey(prefs);
    if (!busyKey_.empty()) {
        if (busyKey_ == key)
            waiting_.push_back(std::move(done));
        else
            done({"", "another login is being signed in"});
        return;
    }
    Login& login = loginFor(prefs);
    if (!login.accessToken.empty() && Clock::now() < login.freshUntil) {
        ++login.handedOut;
        done({login.accessToken, ""});
        return;
    }
    login.accessToken.clear();
    waiting_.push_back(std::move(done));
    busyKey_ = key;
    obtain(prefs, remember);
}

void OAuthTokenSource::obtain(const Preferences& prefs, bool remember) {
    if (const std::string problem = OAuthSetupProblem(prefs); !problem.empty())
        return deliver({"", problem});
    if (!prefs.oauthCommand.empty()) {
        command_ = new TokenCommand(this);
        command_->start(prefs.oauthCommand, options_.commandLimit,
                        [this, prefs](TokenCommandResult result) {
                            command_->deleteLater();
                            command_ = nullptr;
                            if (!result.error.empty()) return deliver({"", result.error});
                            TokenGrant grant;
                            grant.accessToken = result.accessToken;
                            accept(prefs, false, grant);
                        });
        return;
    }
    Login& login = loginFor(prefs);
    if (login.refreshToken.empty() && options_.keyring) {
        if (auto stored = options_.keyring->load(OAuthKeyringAccount(prefs))) {
            login.refreshToken = *stored;
            login.refreshTokenInKeyring = true;
        }
    }
    if (login.refreshToken.empty())
        signIn(prefs, remember);
    else
        refresh(prefs, remember, login.refreshToken);
}

void OAuthTokenSource::refresh(const Preferences& prefs, bool remember,
                               const std::string& refreshToken) {
    const OAuthClient client = ClientFor(prefs);
    FormFields form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                    {QStringLiteral("refresh_token"), Text(refreshToken)},
                    {QStringLiteral("client_id"), client.clientId},
                    {QStringLiteral("scope"), client.scope}};
    if (!client.clientSecret.isEmpty())
        form.emplace_back(QStringLiteral("client_secret"), client.clientSecret);
    RequestTokens(*network_, client.tokenUrl, form, this,
                  [this, prefs, remember](TokenReply reply) {
                      if (reply.error.empty()) return accept(prefs, remember, reply.grant);
                      if (!reply.grantRefused) return deliver({"", reply.error});
                      // Revoked or expired: forget it everywhere and sign in anew.
                      Login& login = loginFor(prefs);
                      login.refreshToken.clear();
                      if (login.refreshTokenInKeyring && options_.keyring)
                          options_.keyring->forget(OAuthKeyringAccount(prefs));
                      login.refreshTokenInKeyring = false;
                      signIn(prefs, remember);
                  });
}

void OAuthTokenSource::signIn(const Preferences& prefs, bool remember) {
    flow_ = new AuthorizationCodeFlow(ClientFor(prefs), *network_, options_.openUrl, this);
    flow_->start(options_.signInLimit, [this, prefs, remember](TokenReply reply) {
        flow_->deleteLater();
        flow_ = nullptr;
        if (!reply.error.empty()) return deliver({"", reply.error});
        accept(prefs, remember, reply.grant);
    });
}

void OAuthTokenSource::accept(const Preferences& prefs, bool remember, const TokenGrant& grant) {
    Login& login = loginFor(prefs);
    login.accessToken = grant.accessToken;
    login.freshUntil = FreshUntil(grant.lifetime);
    login.handedOut = 0;
    // A provider may hand out a new refresh token with every use; the old one then stops
    // working, so the keyring must follow.
    if (!grant.refreshToken.empty()) {
        login.refreshToken = grant.refreshToken;
        if ((remember || login.refreshTokenInKeyring) && options_.keyring)
            login.refreshTokenInKeyring =
                options_.keyring->store(OAuthKeyringAccount(prefs), grant.refreshToken);
    }
    login.handedOut = static_cast<int>(waiting_.size());
    deliver({login.accessToken, ""});
}

void OAuthTokenSource::deliver(TokenResult result) {
    busyKey_.clear();
    auto waiting = std::exchange(waiting_, {});
    for (auto& done : waiting)
        done(result);
}

bool OAuthTokenSource::tokenRefused(const Preferences& prefs, const std::string& token) {
    Login& login = loginFor(prefs);
    if (login.accessToken != token) return true; // a newer one is held already
    login.accessToken.clear();
    return login.handedOut > 1;
}

void OAuthTokenSource::cancel() {
    if (command_) {
        command_->cancel();
        command_->deleteLater();
        command_ = nullptr;
    }
    if (flow_) {
        flow_->cancel();
        flow_->deleteLater();
        flow_ = nullptr;
    }
    if (!busyKey_.empty()) deliver({"", "cancelled"});
}

} // namespace tandrel
