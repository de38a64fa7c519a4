// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/TokenEndpoint.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "model/VisibleText.h"

namespace tandrel {

namespace {

constexpr int kTransferLimitMs = 30000;

// Every name and value escaped on its own: '+', '&' and '=' inside a code or a token
// must not change the form's meaning.
QByteArray FormBody(const FormFields& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty()) body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

std::string JsonText(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().toStdString();
}

TokenReply ReadReply(QNetworkReply& reply) {
    TokenReply out;
    const QByteArray body = reply.readAll();
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const std::string error = JsonText(json, "error");
    if (!error.empty()) {
        // The provider's words in our message: one line, control characters written out.
        const std::string description = VisibleText(JsonText(json, "error_description"));
        out.error = "the identity provider refused: " + VisibleText(error) +
                    (description.empty() ? "" : " (" + description + ")");
        out.grantRefused = error == "invalid_grant";
        return out;
    }
    if (reply.error() != QNetworkReply::NoError) {
        // Qt's text may quote the reason phrase the server gave.
        out.error = "the identity provider could not be reached: " +
                    VisibleText(reply.errorString().toStdString());
        return out;
    }
    out.grant.accessToken = JsonText(json, "access_token");
    out.grant.refreshToken = JsonText(json, "refresh_token");
    // Some providers send the lifetime as a string.
    const QJsonValue lifetime = json.value(QLatin1String("expires_in"));
    const qint64 seconds = lifetime.isString() ? lifetime.toString().toLongLong()
                                               : static_cast<qint64>(lifetime.toDouble());
    out.grant.lifetime = std::chrono::seconds(seconds > 0 ? seconds : 0);
    if (!IsUsableAccessToken(out.grant.accessToken))
        out.error = "the identity provider's answer holds no usable access token";
    else if (!out.grant.refreshToken.empty() && !IsUsableAccessToken(out.grant.refreshToken))
        out.grant.refreshToken.clear();
    return out;
}

} // namespace

bool IsUsableAccessToken(const std::string& token) {
    if (token.empty()) return false;
    for (const char c : token)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

void RequestTokens(QNetworkAccessManager& network, const QUrl& tokenUrl, const FormFields& fields,
                   QObject* context, std::function<void(TokenReply)> done) {
    QNetworkRequest request(tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(kTransferLimitMs);
    // A redirect could carry the form to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network.post(request, FormBody(fields));
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, done = std::move(done)]() {
        reply->deleteLater();
        done(ReadReply(*reply));
    });
}

} // namespace tandrel
