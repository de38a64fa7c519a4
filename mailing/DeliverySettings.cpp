// SPDX-License-Identifier: GPL-3.0-or-later
// Settings of one delivery run, taken from the program's state.
#include "mailing/DeliverySettings.h"

#include <algorithm>
#include <cctype>

#include "mailing/Credentials.h"

namespace tandrel {

Security SecurityFromSetting(const std::string& setting) {
    std::string lower = setting;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "starttls") return Security::StartTls;
    if (lower == "tls") return Security::Tls;
    return Security::None;
}

DeliveryConfig DeliveryConfigFor(const AppState& st, const std::string& password) {
    DeliveryConfig config{st.prefs.smtp, st.prefs.port, st.prefs.fromAddress, st.computerName};
    config.timeoutSeconds = st.prefs.timeoutSeconds;
    config.security = SecurityFromSetting(st.prefs.security);
    config.user = st.prefs.user;
    if (!config.user.empty()) config.password = password;
    config.bearerToken = LoginRequest(st.prefs).mechanism == kTokenMechanism;
    config.perConnection = st.prefs.perConnection;
    config.ratePerMinute = st.prefs.ratePerMinute;
    config.extensions = st.prefs.ehlo == "yes";
    config.connections = st.prefs.connections;
    return config;
}

Outcome RunResultOf(MessageOutcome outcome) {
    switch (outcome) {
    case MessageOutcome::Accepted:
        return Outcome::Accepted;
    case MessageOutcome::Refused:
        return Outcome::Refused;
    case MessageOutcome::TemporarilyRefused:
        return Outcome::TemporarilyRefused;
    case MessageOutcome::MaybeDelivered:
        return Outcome::MaybeDelivered;
    case MessageOutcome::NotAttempted:
        break;
    }
    return Outcome::NotAttempted;
}

} // namespace tandrel
