// SPDX-License-Identifier: GPL-3.0-or-later
// ClientSocket's TLS layer: the handshake and the encrypted transfer, driven by the same
// notifications as the plain connection, with every outcome reported from the event loop.
#include "smtp/ClientSocket.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

#include "smtp/TlsChannel.h"

namespace tandrel {

namespace {
// Reads from the operating system per notification (16 KiB each).
constexpr int kTlsReadRounds = 16;
// Decrypted bytes held for a caller who does not take them before reading pauses.
constexpr std::size_t kMaxHeldPlain = std::size_t{1} << 20;
// Bytes of a send encrypted before the records are moved to the send queue.
constexpr std::size_t kEncryptSlice = std::size_t{256} << 10;
// Plain bytes a STARTTLS peer may have sent ahead of the handshake, dropped unread.
constexpr int kMaxDiscardRounds = 256;
} // namespace

bool ClientSocket::tlsActive() const {
    return tls_ && tls_->established();
}

void ClientSocket::startTls() {
    if (fd_ < 0 || state_ != SocketState::Connected)
        return raiseSocketError("StartTls: Socket is not connected");
    if (tls_) return raiseSocketError("StartTls: TLS already started");
    // Nothing the server sent after its reply to STARTTLS is protected by TLS: dropped.
    char buf[4096];
    for (int round = 0; round < kMaxDiscardRounds; ++round) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        break;
    }
    tlsError_.clear();
    beginTls();
}

void ClientSocket::beginTls() {
    dropTls();
    tls_ = std::make_unique<TlsChannel>(tlsHost_);
    QMetaObject::invokeMethod(
        this,
        [this, gen = gen_] {
            if (gen != gen_ || !tls_) return;
            guarded([this, gen] { tlsProgress(gen); });
        },
        Qt::QueuedConnection);
}

void ClientSocket::dropTls() {
    tls_.reset();
    implicitPending_ = false;
    tlsEnded_ = false;
    tlsEndError_ = 0;
    plainIn_.clear();
    plainPos_ = 0;
    plainOut_.clear();
}

bool ClientSocket::tlsReadable(unsigned gen) {
    if (plainAvailable() < kMaxHeldPlain && !tlsEnded_) {
        char buf[16384];
        for (int round = 0; round < kTlsReadRounds; ++round) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                tls_->putCiphertext(buf, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            tlsEnded_ = true;
            tlsEndError_ = n == 0 ? 0 : SocketErrorFromErrno(errno);
            if (readNotifier_) readNotifier_->setEnabled(false);
            break;
        }
    }
    return tlsProgress(gen);
}

bool ClientSocket::tlsProgress(unsigned gen) {
    bool justDone = false;
    if (!tls_->established()) {
        const TlsChannel::Result r = tls_->handshake();
        if (r == TlsChannel::Result::Failed) return tlsFailed(gen, tls_->errorText(), true);
        if (r != TlsChannel::Result::Done) {
            if (tlsEnded_)
                return tlsFailed(gen,
                                 "Error, the encrypted connection could not be set up: the "
                                 "server closed the connection",
                                 true);
            return flushTls();
        }
        justDone = true;
    }
    const bool waiting = justDone && !plainOut_.empty();
    if (waiting) {
        const std::string out = std::move(plainOut_);
        plainOut_.clear();
        queueBytes(out.data(), out.size());
    }
    // Decrypted now, so that a greeting that came with the end of the handshake is
    // there to read when onSessionConnected runs.
    const TlsChannel::Result r = tls_->readPlain(plainIn_);
    if (r == TlsChannel::Result::Failed) return tlsFailed(gen, tls_->errorText(), justDone);
    if (r == TlsChannel::Result::Closed) tlsEnded_ = true;
    if (!flushTls() || gen != gen_) return false;
    if (waiting && allSent_) postWriteReady(); // what was sent during the handshake is out

    if (justDone) {
        const std::weak_ptr<char> alive = lifeToken();
        fire(onTlsDone, 0);
        if (alive.expired() || gen != gen_) return false;
        if (implicitPending_) {
            implicitPending_ = false;
            fire(onSessionConnected, 0);
            if (alive.expired() || gen != gen_) return false;
        }
    }
    return tlsDeliver(gen);
}

bool ClientSocket::tlsDeliver(unsigned gen) {
    if (plainAvailable() > 0) {
        if (!readableLoop(0) || gen != gen_ || !tls_) return false;
        if (plainAvailable() > 0) {
            postTlsDeliver();
            return true;
        }
    }
    if (tlsEnded_) {
        // A record cut off by the close is a failure of TLS, not an ordinary close.
        if (tls_->endedInsideRecord()) return tlsFailed(gen, tls_->errorText(), false);
        closedNotification(tlsEndError_);
        return false;
    }
    return true;
}

void ClientSocket::postTlsDeliver() {
    QMetaObject::invokeMethod(
        this,
        [this, gen = gen_] {
            if (gen != gen_ || !tls_ || inReadLoop_ || state_ != SocketState::Connected) return;
            guarded([this, gen] { tlsDeliver(gen); });
        },
        Qt::QueuedConnection);
}

bool ClientSocket::tlsFailed(unsigned gen, const std::string& text, bool inHandshake) {
    tlsError_ = text;
    lastError_ = socket_error::kTls;
    plainOut_.clear();
    plainIn_.clear();
    plainPos_ = 0;
    sendCloseNotify(); // carries the alert telling the server why, if there is one
    const bool implicit = implicitPending_;
    implicitPending_ = false;
    const std::weak_ptr<char> alive = lifeToken();
    if (inHandshake) {
        fire(onTlsDone, socket_error::kTls);
        if (alive.expired() || gen != gen_) return false;
    }
    if (implicit) {
        fire(onSessionConnected, socket_error::kTls);
        if (alive.expired() || gen != gen_) return false;
    }
    if (state_ == SocketState::Closed) return false;
    closeFired_ = true;
    if (!internalClose(false)) return false;
    fire(onSessionClosed, socket_error::kTls);
    return false;
}

bool ClientSocket::flushTls() {
    std::string out;
    if (!tls_->takeCiphertext(out)) return true;
    queue_.append(out.data(), out.size());
    return tryToSend();
}

void ClientSocket::queueBytes(const char* data, std::size_t len) {
    if (!tls_) {
        queue_.append(data, len);
        return;
    }
    std::string out;
    while (len > 0) {
        const std::size_t n = std::min(len, kEncryptSlice);
        if (!tls_->writePlain(data, n)) {
            // Reported from the event loop: send itself never fires the close.
            const std::string text = tls_->errorText();
            QMetaObject::invokeMethod(
                this,
                [this, gen = gen_, text] {
                    if (gen == gen_ && fd_ >= 0)
                        guarded([this, gen, &text] { tlsFailed(gen, text, false); });
                },
                Qt::QueuedConnection);
            return;
        }
        data += n;
        len -= n;
        out.clear();
        tls_->takeCiphertext(out);
        queue_.append(out.data(), out.size());
    }
}

void ClientSocket::sendCloseNotify() {
    if (!tls_ || fd_ < 0) return;
    tls_->shutdown();
    std::string out;
    if (tls_->takeCiphertext(out)) queue_.append(out.data(), out.size());
    // Best effort: what the network takes at once, with no waiting and no events.
    for (std::size_t i = 0; i < queue_.blockCount(); ++i) {
        const std::string_view v = queue_.at(i).peek();
        if (v.empty()) continue;
        const ssize_t n = ::send(fd_, v.data(), v.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 || static_cast<std::size_t>(n) < v.size()) break;
        queue_.at(i).remove(static_cast<int>(n));
    }
}

} // namespace tandrel
