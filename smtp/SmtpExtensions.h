// SPDX-License-Identifier: GPL-3.0-or-later
// What a server offers in its reply to EHLO, and the encodings of the login commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandrel {

struct EhloOffer {
    bool startTls = false;
    bool pipelining = false;
    bool authPlain = false;
    bool authLogin = false;
    bool authXOAuth2 = false;
    bool authOAuthBearer = false;
    std::uint64_t maxSize = 0; // SIZE's limit in bytes; 0 when none is announced
};

// Reads the keywords of a (multi-line) reply to EHLO; case does not matter.
EhloOffer ParseEhloOffer(std::string_view reply);

std::string Base64Encode(std::string_view bytes);

// The initial response of AUTH PLAIN: NUL, user, NUL, password, in base64.
std::string PlainLoginToken(const std::string& user, const std::string& password);

// The initial responses of the bearer-token logins, in base64. Both are "" when the
// user or the token holds a control byte: it would cut the fields apart differently on
// the server's side.
// AUTH XOAUTH2: "user=" USER ^A "auth=Bearer " TOKEN ^A ^A.
std::string XOAuth2InitialResponse(const std::string& user, const std::string& accessToken);
// AUTH OAUTHBEARER: the GS2 header "n,a=USER," (',' and '=' in USER escaped), then
// ^A "host=" HOST ^A "port=" PORT ^A "auth=Bearer " TOKEN ^A ^A.
std::string OAuthBearerInitialResponse(const std::string& user, const std::string& host, int port,
                                       const std::string& accessToken);

// How to log in with a bearer token at a server that made `offer`: XOAUTH2 where offered
// (the mechanism most servers know), else OAUTHBEARER. `mechanism` is "" when the server
// offers neither or the response cannot be encoded. A server that refuses the token sends
// a challenge with its error first; `errorAnswer` is the line that answers it, after
// which the server gives its refusal.
struct BearerLogin {
    std::string mechanism;
    std::string initialResponse; // base64
    std::string errorAnswer;     // "" for XOAUTH2, "AQ==" (^A) for OAUTHBEARER
};
BearerLogin ChooseBearerLogin(const EhloOffer& offer, const std::string& user,
                              const std::string& host, int port, const std::string& accessToken);

} // namespace tandrel
