// SPDX-License-Identifier: GPL-3.0-or-later
// A local OAuth 2.0 identity provider for end-to-end tests: our script
// tests/support/identity_provider.py (Python's http.server) on a free 127.0.0.1 port for
// the lifetime of the object. It signs in without asking (redirecting the browser back to
// a loopback address with a code), checks the PKCE verifier (S256) when the code is
// exchanged, issues access and refresh tokens, and counts what it was asked.
// The "browser" is tests/support/follow_redirect_browser.py: set it as $BROWSER or
// start it with the sign-in address; it follows the redirect to the loopback listener.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace tandrel::test {

class TempDir;

struct IdentityProviderOptions {
    std::string clientId = "tandrel-test";
    std::string clientSecret; // required at /token when not empty
    int expiresInSeconds = 3600;
    bool rotateRefreshTokens = false; // each refresh token works once, a new one comes back
    bool denySignIn = false;          // the browser comes back with error=access_denied
    bool refuseTokens = false;        // every token request is refused
    std::string errorDescription;     // of those two refusals, when not empty
};

struct IdentityProviderStats {
    int authorize = 0;     // sign-in pages requested (each one a browser visit)
    int codeGrants = 0;    // codes exchanged, each with a matching PKCE verifier
    int refreshGrants = 0; // refresh tokens used
    int refused = 0;       // requests refused
    std::string lastError; // why the last one was refused
};

class IdentityProvider {
public:
    explicit IdentityProvider(const IdentityProviderOptions& options = {});
    ~IdentityProvider();
    IdentityProvider(const IdentityProvider&) = delete;
    IdentityProvider& operator=(const IdentityProvider&) = delete;

    std::string authorizeUrl() const; // http://127.0.0.1:PORT/authorize
    std::string tokenUrl() const;     // http://127.0.0.1:PORT/token
    // The access tokens valid now, one a line: the file for AiosmtpdOptions.
    std::string tokensFile() const;
    std::vector<std::string> validAccessTokens() const;
    IdentityProviderStats stats() const;
    // From now on no refresh token works (a revoked grant).
    void revokeRefreshTokens() const;

    // The browser script's path.
    static std::string browserScript();

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<QProcess> proc_;
    std::uint16_t port_ = 0;
};

} // namespace tandrel::test
