// SPDX-License-Identifier: GPL-3.0-or-later
// One exchange with the identity provider's token address: a form is posted, the JSON
// answer gives an access token, perhaps a refresh token, and the token's lifetime.
#pragma once

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QNetworkAccessManager;
class QObject;

namespace tandrel {

struct TokenGrant {
    std::string accessToken;
    std::string refreshToken;         // "" when the answer holds none
    std::chrono::seconds lifetime{0}; // 0: the answer did not say
};

struct TokenReply {
    TokenGrant grant;  // valid when error is ""
    std::string error; // for the user: what the provider or the network said
    // The provider refused the code or refresh token itself ("invalid_grant"): it is
    // spent or revoked, and only a new sign-in helps.
    bool grantRefused = false;
};

using FormFields = std::vector<std::pair<QString, QString>>;

// Posts `fields` as application/x-www-form-urlencoded to `tokenUrl` and calls `done` once
// with the outcome, unless `context` is destroyed first.
void RequestTokens(QNetworkAccessManager& network, const QUrl& tokenUrl, const FormFields& fields,
                   QObject* context, std::function<void(TokenReply)> done);

// An access token goes into a protocol line: only visible ASCII characters, no blank.
bool IsUsableAccessToken(const std::string& token);

} // namespace tandrel
