// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/OAuthCredentials.h"

#include <stdexcept>
#include <utility>

#include "oauth/OAuthTokenSource.h"

namespace tandrel {

std::optional<Credentials> OAuthCredentials::credentialsFor(const CredentialRequest& request) {
    if (std::exchange(refusalIsTheAnswer_, false)) return std::nullopt;
    const TokenResult result = WaitForToken(tokens_, prefs_, remember_);
    if (!result.error.empty())
        throw std::runtime_error("no OAuth 2.0 token for " + request.user + ": " + result.error);
    lastToken_ = result.accessToken;
    return Credentials{request.user, result.accessToken};
}

void OAuthCredentials::credentialsRefused(const CredentialRequest&) {
    if (lastToken_.empty()) return;
    refusalIsTheAnswer_ = !tokens_.tokenRefused(prefs_, lastToken_);
}

} // namespace tandrel
