// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailing/TokenLogin.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <exception>

#include "oauth/BrowserLauncher.h"

namespace tandrel {

bool OpenUrlOnDesktop(const QUrl& address) {
    return QDesktopServices::openUrl(address) || OpenUrlInBrowser(address);
}

WindowTokenCredentials::WindowTokenCredentials(OAuthTokenSource& tokens, const AppState& st,
                                               QWidget* parent)
    : tokens_(tokens, st.prefs, st.rememberTokenLogin), parent_(parent) {}

std::optional<Credentials> WindowTokenCredentials::credentialsFor(const CredentialRequest& request) {
    try {
        return tokens_.credentialsFor(request);
    } catch (const std::exception& e) {
        QMessageBox::critical(parent_, QStringLiteral("Tandrel"),
                              QString::fromUtf8(e.what()) +
                                  QStringLiteral("\n\nNo mail has been sent."));
        return std::nullopt;
    }
}

void WindowTokenCredentials::credentialsRefused(const CredentialRequest& request) {
    tokens_.credentialsRefused(request);
}

} // namespace tandrel
