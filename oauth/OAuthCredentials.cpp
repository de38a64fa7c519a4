// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/OAuthCredentials.h"

#include <utility>

#include "oauth/OAuthTokenSource.h"

namespace tandrel {

void OAuthCredentials::requestCredentials(const CredentialRequest& request,
                                          CredentialsCallback answer) {
    if (std::exchange(refusalIsTheAnswer_, false)) return answer({});
    ++waiting_;
    tokens_.requestToken(prefs_, remember_,
                         [this, life = std::weak_ptr<char>(life_), user = request.user,
                          answer = std::move(answer)](const TokenResult& result) {
                             if (!life.expired() && waiting_ > 0) --waiting_;
                             if (!result.error.empty())
                                 return answer({std::nullopt, "no OAuth 2.0 token for " + user +
                                                                  ": " + result.error});
                             if (!life.expired()) lastToken_ = result.accessToken;
                             answer({Credentials{user, result.accessToken}, ""});
                         });
}

void OAuthCredentials::cancelRequests() {
    if (waiting_ == 0) return;
    waiting_ = 0;
    tokens_.cancel();
}

void OAuthCredentials::credentialsRefused(const CredentialRequest&) {
    if (lastToken_.empty()) return;
    refusalIsTheAnswer_ = !tokens_.tokenRefused(prefs_, lastToken_);
}

} // namespace tandrel
