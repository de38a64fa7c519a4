// SPDX-License-Identifier: GPL-3.0-or-later
// Where the login of a run comes from: the window's question, the terminal, the
// environment, the keyring, a token service. The run asks once before it prepares
// anything, and tells the source when the server refused what it gave; a source may
// answer at once or later.
#pragma once

#include <functional>
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

// A source's answer. Credentials, or none: with `error` empty the user declined (the
// run ends quietly), otherwise why none could be had (the run ends, saying it).
struct CredentialsAnswer {
    std::optional<Credentials> credentials;
    std::string error;
};

using CredentialsCallback = std::function<void(CredentialsAnswer)>;

class CredentialSource {
public:
    virtual ~CredentialSource() = default;
    // Answers `answer` exactly once, before returning or later (a question on the
    // screen, a sign-in in the browser). A caller that may be gone by then guards its
    // own callback.
    virtual void requestCredentials(const CredentialRequest& request,
                                    CredentialsCallback answer) = 0;
    // The server refused what the source gave: a source that keeps secrets may drop
    // them, so that the next run asks again.
    virtual void credentialsRefused(const CredentialRequest& request) { (void)request; }
    // The caller no longer waits for what it asked: a source still working on an answer
    // (a sign-in in the browser, a token command) stops, so that nothing is left waiting
    // for a run that is over and the next question starts afresh. An answer it still
    // gives is ignored by the caller.
    virtual void cancelRequests() {}
};

// A source that answers at once.
class ImmediateCredentialSource : public CredentialSource {
public:
    // The credentials for the request; nothing when this source has none (a chain then
    // asks the next) or the user declined. May throw a std::runtime_error naming why
    // none can be had.
    virtual std::optional<Credentials> credentialsFor(const CredentialRequest& request) = 0;
    void requestCredentials(const CredentialRequest& request, CredentialsCallback answer) override;
};

// Why a password cannot be used, "" when it can: a line break would end the protocol
// command it goes into. Every front end refuses such a password with these words.
std::string PasswordFault(const std::string& password);

// "user@host": one password per login name and server.
std::string KeyringAccount(const Preferences& prefs);

// The request a run with these settings makes.
CredentialRequest LoginRequest(const Preferences& prefs);

// The environment variables the program reads secrets from. The programs it starts
// (the token command, the browser) get the environment without them.
inline constexpr const char* kSecretVariables[] = {"TANDREL_PASSWORD"};
inline constexpr const char* kPasswordVariable = kSecretVariables[0];

// TANDREL_PASSWORD, when set: a script that sets it means this run.
class EnvironmentCredentials : public ImmediateCredentialSource {
public:
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;
};

// The password a keeper (the desktop keyring) holds for the account.
class KeptCredentials : public ImmediateCredentialSource {
public:
    explicit KeptCredentials(PasswordKeeper* keeper) : keeper_(keeper) {}
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;

private:
    PasswordKeeper* keeper_; // null: nothing kept
};

// Asks each source in turn; the first that answers gives the credentials.
class FirstCredentialsOf : public ImmediateCredentialSource {
public:
    explicit FirstCredentialsOf(std::vector<ImmediateCredentialSource*> sources)
        : sources_(std::move(sources)) {}
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;
    void credentialsRefused(const CredentialRequest& request) override;

private:
    std::vector<ImmediateCredentialSource*> sources_;
};

} // namespace tandrel
