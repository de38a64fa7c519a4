// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/OAuthCredentials.h"

#include <utility>

#include "oauth/OAuthTokenSource.h"

namespace tandrel {

void OAuthCredentials::requestCredentials(const CredentialRequest& request,
                                          CredentialsCallback answer) {
    if (std::exchange(refusalIsTheAnswer_, false)) return answer({});
    tokens_.requestToken(prefs_, remember_,
                         [this, life = std::weak_ptr<char>(life_), user = request.user,
                          answer = std::move(answer)](const TokenResult& result) {
                             if (!result.error.empty())
                                 return answer({std::nullopt, "no OAuth 2.0 token for " + user +
                                                                  ": " + result.error});
                             if (!life.expired()) lastToken_ = result.accessToken;
                             answer({Credentials{user, result.accessToken}, ""});
                         });
}

void OAuthCredentials::credentialsRefused(const CredentialRequest&) {
    if (lastToken_.empty()) return;
    refusalIsTheAnswer_ = !tokens_.tokenRefused(prefs_, lastToken_);
}

} // namespace tandrel
