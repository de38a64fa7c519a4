// SPDX-License-Identifier: GPL-3.0-or-later
// The bearer-token login as a credential source of the mailing run: the session's token
// source asked for an access token, which the run logs in with. A refused token is told
// to the source, so that the run's one more question gets a fresh token when one is
// worth trying, and nothing when the refusal is the answer.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mailing/Credentials.h"
#include "model/Model.h"

namespace tandrel {

class OAuthTokenSource;

class OAuthCredentials : public CredentialSource {
public:
    // With `remember`, a refresh token the sign-in brings goes to the keyring.
    OAuthCredentials(OAuthTokenSource& tokens, const Preferences& prefs, bool remember)
        : tokens_(tokens), prefs_(prefs), remember_(remember) {}
    // A sign-in still under way for this is ended with it.
    ~OAuthCredentials() override { cancelRequests(); }
    OAuthCredentials(const OAuthCredentials&) = delete;
    OAuthCredentials& operator=(const OAuthCredentials&) = delete;

    // Answers when the token source does: the token, or why none could be had.
    void requestCredentials(const CredentialRequest& request, CredentialsCallback answer) override;
    void credentialsRefused(const CredentialRequest& request) override;
    // Ends the token command or the sign-in in the browser this is waiting for: the token
    // source, which lives for the session, would otherwise make the next run wait for it.
    void cancelRequests() override;

private:
    OAuthTokenSource& tokens_;
    Preferences prefs_;
    bool remember_;
    std::string lastToken_;
    bool refusalIsTheAnswer_ = false;
    int waiting_ = 0; // requests the token source has not answered yet
    // Expires with this: a token that comes later is not taken.
    std::shared_ptr<char> life_ = std::make_shared<char>();
};

} // namespace tandrel
