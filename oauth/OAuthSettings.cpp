// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/OAuthSettings.h"

#include <QByteArray>
#include <QUrl>

namespace tandrel {

namespace {

// The tenant comes from the settings file; escaped, it stays one path segment.
std::string TenantSegment(const std::string& tenant) {
    const QByteArray name = QByteArray::fromStdString(tenant.empty() ? "common" : tenant);
    return QUrl::toPercentEncoding(QString::fromUtf8(name)).toStdString();
}

bool IsLoopbackHost(const QString& host) {
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") ||
           host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
}

// Codes and refresh tokens travel to these addresses: only encrypted, or to this machine.
bool IsSafeEndpoint(const std::string& address) {
    const QUrl url(QString::fromUtf8(address.c_str()), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == QLatin1String("https")) return true;
    return url.scheme() == QLatin1String("http") && IsLoopbackHost(url.host());
}

} // namespace

OAuthEndpoints OAuthEndpointsFor(const Preferences& prefs) {
    if (prefs.oauthProvider == "google")
        return {"https://accounts.google.com/o/oauth2/v2/auth",
                "https://oauth2.googleapis.com/token", "https://mail.google.com/"};
    if (prefs.oauthProvider == "custom")
        return {prefs.oauthAuthUrl, prefs.oauthTokenUrl, prefs.oauthScope};
    const std::string base =
        "https://login.microsoftonline.com/" + TenantSegment(prefs.oauthTenant) + "/oauth2/v2.0/";
    return {base + "authorize", base + "token",
            "https://outlook.office.com/SMTP.Send offline_access"};
}

std::string OAuthSetupProblem(const Preferences& prefs) {
    // The token is bound to an account; the login names it.
    if (prefs.user.empty()) return "OAuth 2.0 needs the login name (the user)";
    if (!prefs.oauthCommand.empty()) return "";
    if (prefs.oauthClientId.empty())
        return "OAuth 2.0 needs the client ID registered with the identity provider";
    const OAuthEndpoints endpoints = OAuthEndpointsFor(prefs);
    if (!IsSafeEndpoint(endpoints.authorizationUrl))
        return "the sign-in address must be an https:// address";
    if (!IsSafeEndpoint(endpoints.tokenUrl)) return "the token address must be an https:// address";
    return "";
}

std::string OAuthKeyringAccount(const Preferences& prefs) {
    return prefs.user + " OAuth 2.0 " + OAuthEndpointsFor(prefs).tokenUrl + " " +
           prefs.oauthClientId;
}

} // namespace tandrel
