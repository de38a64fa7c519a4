// SPDX-License-Identifier: GPL-3.0-or-later
// The window's bearer-token login: the session's token source behind the mailing run's
// credential source, with the sign-in opened in the desktop's browser.
#pragma once

#include <QUrl>
#include <optional>

#include "model/AppState.h"
#include "oauth/OAuthCredentials.h"

class QWidget;

namespace tandrel {

class OAuthTokenSource;

// The desktop's way of opening an address ($BROWSER is honoured); where the platform
// has none, the browser command of the command line.
bool OpenUrlOnDesktop(const QUrl& address);

// OAuthCredentials that shows why no token could be had in an error box and then gives
// nothing, like a cancelled password question.
class WindowTokenCredentials : public CredentialSource {
public:
    WindowTokenCredentials(OAuthTokenSource& tokens, const AppState& st, QWidget* parent);
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;
    void credentialsRefused(const CredentialRequest& request) override;

private:
    OAuthCredentials tokens_;
    QWidget* parent_;
};

} // namespace tandrel
