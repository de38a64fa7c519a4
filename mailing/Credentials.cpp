// SPDX-License-Identifier: GPL-3.0-or-later
// The credential sources that need no window.
#include "mailing/Credentials.h"

#include <cstdlib>
#include <stdexcept>

namespace tandrel {

std::string KeyringAccount(const Preferences& prefs) {
    return prefs.user + "@" + prefs.smtp;
}

CredentialRequest LoginRequest(const Preferences& prefs) {
    return {KeyringAccount(prefs), prefs.user, prefs.smtp,
            prefs.auth == kTokenMechanism ? kTokenMechanism : "password"};
}

void ImmediateCredentialSource::requestCredentials(const CredentialRequest& request,
                                                   CredentialsCallback answer) {
    CredentialsAnswer given;
    try {
        given.credentials = credentialsFor(request);
    } catch (const std::runtime_error& e) {
        given.error = e.what();
    }
    answer(std::move(given));
}

std::string PasswordFault(const std::string& password) {
    if (password.find_first_of("\r\n") != std::string::npos)
        return "the password holds a line break";
    return {};
}

std::optional<Credentials>
EnvironmentCredentials::credentialsFor(const CredentialRequest& request) {
    const char* env = std::getenv(kPasswordVariable);
    if (!env) return std::nullopt;
    return Credentials{request.user, env};
}

std::optional<Credentials> KeptCredentials::credentialsFor(const CredentialRequest& request) {
    if (!keeper_) return std::nullopt;
    std::optional<std::string> stored = keeper_->load(request.account);
    if (!stored) return std::nullopt;
    return Credentials{request.user, std::move(*stored)};
}

std::optional<Credentials> FirstCredentialsOf::credentialsFor(const CredentialRequest& request) {
    for (ImmediateCredentialSource* source : sources_)
        if (std::optional<Credentials> found = source->credentialsFor(request)) return found;
    return std::nullopt;
}

void FirstCredentialsOf::credentialsRefused(const CredentialRequest& request) {
    for (ImmediateCredentialSource* source : sources_)
        source->credentialsRefused(request);
}

} // namespace tandrel
