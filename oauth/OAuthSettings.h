// SPDX-License-Identifier: GPL-3.0-or-later
// What the [Network] login keys mean for a bearer-token login: the identity provider's
// addresses and scope, where the refresh token is kept, and what keeps a sign-in from
// starting.
#pragma once

#include <string>

#include "model/Model.h"

namespace tandrel {

struct OAuthEndpoints {
    std::string authorizationUrl; // where the user signs in, in the browser
    std::string tokenUrl;         // where codes and refresh tokens become access tokens
    std::string scope;            // the permission asked for, space-separated
};

inline bool UsesOAuth(const Preferences& prefs) {
    return prefs.auth == "oauth2";
}

// The preset of the chosen provider (the tenant goes into Microsoft's addresses, an
// empty one meaning "common"), or the custom keys as they are.
OAuthEndpoints OAuthEndpointsFor(const Preferences& prefs);

// Why no token can be had with these settings, as words for the user; "" when one can.
// With a token command only the login name is needed.
std::string OAuthSetupProblem(const Preferences& prefs);

// The keyring entry of the refresh token: one per login name, identity provider and
// client, never the same as the entry of a password.
std::string OAuthKeyringAccount(const Preferences& prefs);

} // namespace tandrel
