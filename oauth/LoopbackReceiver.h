// SPDX-License-Identifier: GPL-3.0-or-later
// The listener the identity provider sends the browser back to: a small HTTP server on
// 127.0.0.1 at a port the system chooses, for one sign-in. It answers the browser with a
// short page and hands on the query of the address the browser came back with.
#pragma once

#include <QObject>
#include <QString>
#include <QUrlQuery>

class QTcpServer;
class QTcpSocket;

namespace tandrel {

class LoopbackReceiver : public QObject {
    Q_OBJECT
public:
    // Only a request whose `state` parameter equals `expectedState` counts: any other
    // page on this machine could send the browser here.
    explicit LoopbackReceiver(QString expectedState, QObject* parent = nullptr);
    ~LoopbackReceiver() override;

    // False when no port could be opened.
    bool listen();
    // "http://127.0.0.1:PORT/", the redirect address of the sign-in.
    QString redirectUri() const;

signals:
    // The query of the return address (with "code", or "error" and "error_description").
    void returned(const QUrlQuery& query);

private:
    void onConnection();
    void onReadable(QTcpSocket* socket);

    QString expectedState_;
    QTcpServer* server_ = nullptr;
    bool done_ = false;
};

} // namespace tandrel
