// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/LoopbackReceiver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace tandrel {

namespace {

constexpr qsizetype kMaxRequestHead = 16 * 1024;

void Answer(QTcpSocket* socket, const char* status, const QByteArray& page) {
    socket->write(QByteArray("HTTP/1.1 ") + status +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "Connection: close\r\nContent-Length: " +
                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
    // Handed to the system at once: the sign-in may end, and the listener with it,
    // before the event loop would write it.
    socket->flush();
    socket->disconnectFromHost();
}

QByteArray Page(const char* text) {
    return QByteArray("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tandrel</title>"
                      "</head><body><p>") +
           text + "</p></body></html>\n";
}

} // namespace

LoopbackReceiver::LoopbackReceiver(QString expectedState, QObject* parent)
    : QObject(parent), expectedState_(std::move(expectedState)) {}

LoopbackReceiver::~LoopbackReceiver() = default;

bool LoopbackReceiver::listen() {
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &LoopbackReceiver::onConnection);
    return server_->listen(QHostAddress(QHostAddress::LocalHost), 0);
}

QString LoopbackReceiver::redirectUri() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(server_ ? server_->serverPort() : 0);
}

void LoopbackReceiver::onConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
    }
}

void LoopbackReceiver::onReadable(QTcpSocket* socket) {
    // Only the head of the request matters; it is read once it is complete.
    const QByteArray head = socket->peek(kMaxRequestHead);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= kMaxRequestHead) socket->abort();
        return;
    }
    socket->read(end + 4);
    socket->disconnect(this);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET" || !requestLine[1].startsWith('/')) {
        Answer(socket, "400 Bad Request", Page("This is not a request Tandrel understands."));
        return;
    }
    const QUrl target(QStringLiteral("http://127.0.0.1") + QString::fromLatin1(requestLine[1]));
    // The provider adds its parameters form-encoded, where '+' stands for a blank.
    const QUrlQuery query(
        target.query(QUrl::FullyEncoded).replace(QLatin1Char('+'), QLatin1String("%20")));
    if (target.path() != QLatin1String("/")) {
        Answer(socket, "404 Not Found", Page("Nothing here."));
        return;
    }
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != expectedState_) {
        Answer(socket, "400 Bad Request",
               Page("This address does not belong to the sign-in Tandrel is waiting for."));
        return;
    }
    if (done_) {
        Answer(socket, "200 OK", Page("Tandrel already has the answer of this sign-in."));
        return;
    }
    done_ = true;
    const bool failed = query.hasQueryItem(QStringLiteral("error"));
    Answer(socket, "200 OK",
           Page(failed ? "The sign-in did not succeed; Tandrel shows why. You can close this page."
                       : "Signed in. You can close this page and go back to Tandrel."));
    emit returned(query);
}

} // namespace tandrel
