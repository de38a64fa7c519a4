// SPDX-License-Identifier: GPL-3.0-or-later
// One sign-in in the browser: the authorization code grant with a PKCE (S256) proof and a
// loopback redirect. The browser opens at the provider's sign-in page; the provider sends
// it back to our listener with a code, which the token address turns into tokens.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <string>

#include "oauth/TokenEndpoint.h"

class QNetworkAccessManager;
class QTimer;

namespace tandrel {

class LoopbackReceiver;

// Opens an address in the user's browser; false when no browser could be opened (the
// caller then shows the address so that the user can open it by hand; the sign-in
// waits all the same).
using OpenUrlFunction = std::function<bool(const QUrl&)>;

struct OAuthClient {
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString clientId;
    QString clientSecret; // sent only when not empty
    QString scope;
    QString loginHint; // the login name, so the provider suggests that account
};

class AuthorizationCodeFlow : public QObject {
    Q_OBJECT
public:
    AuthorizationCodeFlow(OAuthClient client, QNetworkAccessManager& network,
                          OpenUrlFunction openUrl, QObject* parent = nullptr);
    ~AuthorizationCodeFlow() override;

    // Starts listening, opens the browser and calls `done` once: with the tokens, or with
    // why there are none (also when the browser has not come back within `waitLimit`).
    void start(std::chrono::milliseconds waitLimit, std::function<void(TokenReply)> done);
    // Ends a sign-in in progress without calling `done`.
    void cancel();

private:
    void onReturned(const QUrlQuery& query);
    void finish(TokenReply reply);

    OAuthClient client_;
    QNetworkAccessManager& network_;
    OpenUrlFunction openUrl_;
    std::function<void(TokenReply)> done_;
    LoopbackReceiver* receiver_ = nullptr;
    QTimer* timer_ = nullptr;
    QString verifier_;
    QString redirectUri_;
};

// A PKCE code verifier (43 characters of base64url from 32 random bytes) and its S256
// challenge: base64url, without padding, of the verifier's SHA-256.
QString NewCodeVerifier();
QString CodeChallengeS256(const QString& verifier);

} // namespace tandrel
