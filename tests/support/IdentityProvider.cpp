// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/IdentityProvider.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include "tests/support/SmtpServers.h"
#include "tests/support/TestSupport.h"

namespace tandrel::test {

IdentityProvider::IdentityProvider(const IdentityProviderOptions& o)
    : dir_(std::make_unique<TempDir>()), proc_(std::make_unique<QProcess>()) {
    QStringList args{QStringLiteral(TANDREL_SOURCE_DIR "/tests/support/identity_provider.py"),
                     QString::fromStdString(dir_->path()),
                     QStringLiteral("--client-id"),
                     QString::fromStdString(o.clientId),
                     QStringLiteral("--expires-in"),
                     QString::number(o.expiresInSeconds)};
    if (!o.clientSecret.empty())
        args << QStringLiteral("--client-secret") << QString::fromStdString(o.clientSecret);
    if (o.rotateRefreshTokens) args << QStringLiteral("--rotate");
    if (o.denySignIn) args << QStringLiteral("--deny");
    if (o.refuseTokens) args << QStringLiteral("--refuse-tokens");
    if (!o.errorDescription.empty())
        args << QStringLiteral("--error-description") << QString::fromStdString(o.errorDescription);
    port_ = StartPythonServer(*proc_, args);
}

IdentityProvider::~IdentityProvider() {
    StopServerProcess(proc_.get());
}

std::string IdentityProvider::authorizeUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/authorize";
}

std::string IdentityProvider::tokenUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/token";
}

std::string IdentityProvider::tokensFile() const {
    return dir_->file("tokens.txt");
}

std::vector<std::string> IdentityProvider::validAccessTokens() const {
    std::vector<std::string> tokens;
    const QList<QByteArray> lines =
        QByteArray::fromStdString(ReadFileBytes(tokensFile())).split('\n');
    for (const QByteArray& line : lines)
        if (!line.isEmpty()) tokens.push_back(line.toStdString());
    return tokens;
}

IdentityProviderStats IdentityProvider::stats() const {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadFileBytes(dir_->file("stats.json"))))
            .object();
    return {o.value(QStringLiteral("authorize")).toInt(),
            o.value(QStringLiteral("code_grants")).toInt(),
            o.value(QStringLiteral("refresh_grants")).toInt(),
            o.value(QStringLiteral("refused")).toInt(),
            o.value(QStringLiteral("last_error")).toString().toStdString()};
}

void IdentityProvider::revokeRefreshTokens() const {
    WriteFileBytes(dir_->file("revoke"), "");
}

std::string IdentityProvider::browserScript() {
    return TANDREL_SOURCE_DIR "/tests/support/follow_redirect_browser.py";
}

} // namespace tandrel::test
