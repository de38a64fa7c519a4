// SPDX-License-Identifier: GPL-3.0-or-later
// Where the login of a run comes from: the window's question, the terminal, the
// environment, the keyring, and later a token service. The run asks once before it
// prepares anything, and tells the source when the server refused what it gave.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/AppState.h"

namespace tandrel {

struct CredentialRequest {
    std::string account;   // "user@host": what a keyring keeps the secret under
    std::string user;      // the login name of the relay settings
    std::string host;      // the relay
    std::string mechanism; // "password" (AUTH PLAIN or LOGIN) or kTokenMechanism
};

// The mechanism of a login with an OAuth 2.0 bearer token ([Network] auth=oauth2).
inline constexpr const char* kTokenMechanism = "oauth2";

struct Credentials {
    std::string user;
    std::string secret; // a password today; a token where the mechanism takes one
};

class CredentialSource {
public:
    virtual ~CredentialSource() = default;
    // The credentials for the request; nothing when this source has none (a chain then
    // asks the next) or the user declined. May throw a std::runtime_error naming why
    // none can be had.
    virtual std::optional<Credentials> credentialsFor(const CredentialRequest& request) = 0;
    // The server refused what credentialsFor gave: a source that keeps secrets may drop
    // them, so that the next run asks again.
    virtual void credentialsRefused(const CredentialRequest& request) { (void)request; }
};

// "user@host": one password per login name and server.
std::string KeyringAccount(const Preferences& prefs);

// The request a run with these settings makes.
CredentialRequest LoginRequest(const Preferences& prefs);

// The environment variables the program reads secrets from. The programs it starts
// (the token command, the browser) get the environment without them.
inline constexpr const char* kSecretVariables[] = {"TANDREL_PASSWORD"};
inline constexpr const char* kPasswordVariable = kSecretVariables[0];

// TANDREL_PASSWORD, when set: a script that sets it means this run.
class EnvironmentCredentials : public CredentialSource {
public:
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;
};

// The password a keeper (the desktop keyring) holds for the account.
class KeptCredentials : public CredentialSource {
public:
    explicit KeptCredentials(PasswordKeeper* keeper) : keeper_(keeper) {}
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;

private:
    PasswordKeeper* keeper_; // null: nothing kept
};

// Asks each source in turn; the first that answers gives the credentials.
class FirstCredentialsOf : public CredentialSource {
public:
    explicit FirstCredentialsOf(std::vector<CredentialSource*> sources)
        : sources_(std::move(sources)) {}
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;
    void credentialsRefused(const CredentialRequest& request) override;

private:
    std::vector<CredentialSource*> sources_;
};

} // namespace tandrel
