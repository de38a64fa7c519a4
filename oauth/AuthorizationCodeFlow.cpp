// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/AuthorizationCodeFlow.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>
#include <array>

#include "oauth/LoopbackReceiver.h"
#include "model/VisibleText.h"

namespace tandrel {

namespace {

QString Base64Url(const QByteArray& bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString RandomText() {
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return Base64Url(QByteArray(reinterpret_cast<const char*>(words.data()),
                                static_cast<qsizetype>(sizeof words)));
}

} // namespace

QString NewCodeVerifier() {
    return RandomText();
}

QString CodeChallengeS256(const QString& verifier) {
    return Base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

AuthorizationCodeFlow::AuthorizationCodeFlow(OAuthClient client, QNetworkAccessManager& network,
                                             OpenUrlFunction openUrl, QObject* parent)
    : QObject(parent), client_(std::move(client)), network_(network), openUrl_(std::move(openUrl)) {
}

AuthorizationCodeFlow::~AuthorizationCodeFlow() = default;

void AuthorizationCodeFlow::start(std::chrono::milliseconds waitLimit,
                                  std::function<void(TokenReply)> done) {
    cancel();
    done_ = std::move(done);
    const QString state = RandomText();
    verifier_ = NewCodeVerifier();
    receiver_ = new LoopbackReceiver(state, this);
    if (!receiver_->listen()) {
        finish({{}, "no port on 127.0.0.1 is free for the sign-in's answer", false});
        return;
    }
    redirectUri_ = receiver_->redirectUri();
    connect(receiver_, &LoopbackReceiver::returned, this, &AuthorizationCodeFlow::onReturned);

    QUrl address = client_.authorizationUrl;
    QUrlQuery query(address); // a custom address may bring parameters of its own
    const auto add = [&query](const char* name, const QString& value) {
        query.addQueryItem(QLatin1String(name),
                           QString::fromLatin1(QUrl::toPercentEncoding(value)));
    };
    add("response_type", QStringLiteral("code"));
    add("client_id", client_.clientId);
    add("redirect_uri", redirectUri_);
    add("scope", client_.scope);
    add("state", state);
    add("code_challenge", CodeChallengeS256(verifier_));
    add("code_challenge_method", QStringLiteral("S256"));
    if (!client_.loginHint.isEmpty()) add("login_hint", client_.loginHint);
    address.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        finish({{}, "the sign-in in the browser was not completed in time", false});
    });
    timer_->start(waitLimit);
    if (openUrl_) openUrl_(address);
}

void AuthorizationCodeFlow::onReturned(const QUrlQuery& query) {
    timer_->stop();
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    if (!error.isEmpty()) {
        const QString description =
            query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
        // The provider's words, as the browser brought them back: one line, control
        // characters written out.
        std::string said = VisibleText(error.toStdString());
        if (!description.isEmpty()) said += " (" + VisibleText(description.toStdString()) + ")";
        finish({{}, "the sign-in was refused: " + said, false});
        return;
    }
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty()) {
        finish({{}, "the identity provider sent the browser back without a code", false});
        return;
    }
    FormFields form{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                    {QStringLiteral("code"), code},
                    {QStringLiteral("redirect_uri"), redirectUri_},
                    {QStringLiteral("client_id"), client_.clientId},
                    {QStringLiteral("code_verifier"), verifier_}};
    if (!client_.clientSecret.isEmpty())
        form.emplace_back(QStringLiteral("client_secret"), client_.clientSecret);
    RequestTokens(network_, client_.tokenUrl, form, this,
                  [this](TokenReply reply) { finish(std::move(reply)); });
}

void AuthorizationCodeFlow::finish(TokenReply reply) {
    if (timer_) timer_->stop();
    if (receiver_) {
        // Deleted later: the receiver may be the one calling.
        receiver_->disconnect(this);
        receiver_->deleteLater();
        receiver_ = nullptr;
    }
    if (auto done = std::exchange(done_, nullptr)) done(std::move(reply));
}

void AuthorizationCodeFlow::cancel() {
    done_ = nullptr;
    finish({});
}

} // namespace tandrel
