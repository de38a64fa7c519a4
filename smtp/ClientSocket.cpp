// SPDX-License-Identifier: GPL-3.0-or-later
// ClientSocket: connection set-up and close, the send queue, reading, and the notifications
// that drive them.
#include "smtp/ClientSocket.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "smtp/AddressLookup.h"
#include "smtp/TlsChannel.h"

namespace tandrel {

using detail::IsConnectOutcome;
using detail::ResolveError;
using detail::Trim;

// ---------------------------------------------------------------------------------------
// send buffers

SendBuffer::SendBuffer(int size) : buf_(static_cast<std::size_t>(size > 0 ? size : kDefaultSize)) {}

int SendBuffer::write(const char* data, int len) {
    const int n = std::max(0, std::min(len, capacity() - wr_));
    if (n > 0) std::memcpy(buf_.data() + wr_, data, static_cast<std::size_t>(n));
    wr_ += n;
    return n;
}

std::string_view SendBuffer::peek() const {
    return std::string_view(buf_.data() + rd_, static_cast<std::size_t>(wr_ - rd_));
}

void SendBuffer::remove(int n) {
    if (n <= 0) return;
    rd_ = std::min(wr_, rd_ + n);
    if (rd_ == wr_) rd_ = wr_ = 0;
}

void SendBuffer::resize(int n) {
    if (n <= 0) n = kDefaultSize;
    const std::string_view unread = peek();
    std::vector<char> area(static_cast<std::size_t>(std::max<std::size_t>(n, unread.size())));
    std::copy(unread.begin(), unread.end(), area.begin());
    wr_ = static_cast<int>(unread.size());
    rd_ = 0;
    buf_ = std::move(area);
}

void SendQueue::append(const char* data, std::size_t len) {
    while (len > 0) {
        if (blocks_.empty() || blocks_.back()->writtenCount() >= blocks_.back()->capacity())
            blocks_.push_back(std::make_unique<SendBuffer>(blockSize_));
        const int chunk = static_cast<int>(std::min<std::size_t>(len, 1u << 30));
        const int n = blocks_.back()->write(data, chunk);
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

bool SendQueue::empty() const {
    return std::all_of(blocks_.begin(), blocks_.end(), [](const auto& b) { return b->empty(); });
}

bool SendQueue::dropFrontIfDone() {
    if (blocks_.size() < 2 || !blocks_.front()->empty()) return false;
    blocks_.pop_front();
    return true;
}

std::vector<int> SendQueue::blockFill() const {
    std::vector<int> out;
    for (const auto& b : blocks_)
        out.push_back(b->writtenCount() - b->readCount());
    return out;
}

// ---------------------------------------------------------------------------------------
// ClientSocket

namespace {
// Handler calls per readable notification before the event loop gets its turn again.
constexpr int kMaxReadRounds = 64;
} // namespace

ClientSocket::ClientSocket(QObject* parent) : QObject(parent) {}

ClientSocket::~ClientSocket() {
    destroying_ = true;
    // The owner may already be half gone: nothing is reported from here on.
    onSessionConnected = nullptr;
    onDataAvailable = nullptr;
    onDataSent = nullptr;
    onSessionClosed = nullptr;
    onStateChange = nullptr;
    onHandlerException = nullptr;
    onTlsDone = nullptr;
    if (fd_ >= 0) {
        try {
            internalClose(true);
        } catch (...) {
        }
    }
}

void ClientSocket::setState(SocketState s) {
    if (s == state_) return;
    const SocketState old = state_;
    state_ = s;
    fire(onStateChange, old, s);
}

void ClientSocket::raiseSocketError(const std::string& text) {
    throw ESocketException(text);
}

void ClientSocket::socketError(const std::string& name, int code) {
    const std::string text =
        "Error " + std::to_string(code) + " in function " + name + "\r\n" + SocketErrorText(code);
    if (code == socket_error::kConnectionReset || code == socket_error::kNotConnected) {
        if (fd_ >= 0) dropHandle();
        setState(SocketState::Closed);
    }
    lastError_ = code;
    raiseSocketError(text);
}

void ClientSocket::setAddress(const std::string& addr) {
    const std::string t = Trim(addr);
    if (addrAssigned_ && t == addr_) return;
    if (state_ != SocketState::Closed) return raiseSocketError("Cannot change Addr if not closed");
    addr_ = t;
    addrResolved_ = false;
    addrAssigned_ = !t.empty();
}

void ClientSocket::setPort(const std::string& port) {
    const std::string t = Trim(port);
    if (portAssigned_ && t == port_) return;
    if (state_ != SocketState::Closed) return raiseSocketError("Cannot change Port if not closed");
    port_ = t;
    portResolved_ = false;
    portAssigned_ = !t.empty();
}

void ClientSocket::setLocalPort(const std::string& port) {
    if (state_ != SocketState::Closed)
        return raiseSocketError("Cannot change LocalPort if not closed");
    localPort_ = port;
    localPortResolved_ = false;
}

int ClientSocket::receivedCount() const {
    if (fd_ < 0) return 0;
    if (tls_) return static_cast<int>(std::min<std::size_t>(plainAvailable(), 1u << 30));
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) < 0) return -1;
    return n;
}

void ClientSocket::resolveAll() {
    if (!portResolved_) {
        sinPort_ = detail::ResolvePort(port_);
        portResolved_ = true;
    }
    if (!localPortResolved_) {
        localPortNum_ = detail::ResolvePort(localPort_);
        localPortResolved_ = true;
    }
    if (!addrResolved_) {
        sinAddr_ = detail::ResolveHost(addr_);
        addrResolved_ = true;
    }
}

void ClientSocket::connectToHost() {
    if (fd_ >= 0 && state_ != SocketState::Closed)
        return raiseSocketError("Connect: Socket already in use");
    if (!portAssigned_) return raiseSocketError("Connect: No Port Specified");
    if (!addrAssigned_) return raiseSocketError("Connect: No IP Address Specified");
    try {
        resolveAll();
    } catch (const ResolveError& e) {
        return raiseSocketError(std::string("connect: ") + e.what());
    }
    queue_.clear();
    tlsError_.clear();
    tlsHost_ = addr_;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return socketError("Connect (socket)", SocketErrorFromErrno(errno));
    fd_ = fd;
    ++gen_;
    setState(SocketState::Opened);

    if (localPortNum_ != 0) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(localPortNum_);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return raiseSocketError("winsock.bind failed, error #" +
                                    std::to_string(SocketErrorFromErrno(errno)));
        socklen_t len = sizeof local;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0)
            return raiseSocketError("winsock.getsockname failed, error #" +
                                    std::to_string(SocketErrorFromErrno(errno)));
    }
    // A close resets the connection at once, whatever the system still holds unsent;
    // abortConnection() turns this off and lets the system end the connection.
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        return socketError("setsockopt(SO_LINGER)", SocketErrorFromErrno(errno));
    const int on = 1;
    if (::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0)
        return socketError("setsockopt(SO_KEEPALIVE)", SocketErrorFromErrno(errno));
    if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return socketError("setsockopt(SO_REUSEADDR)", SocketErrorFromErrno(errno));
    // The dialogue waits for a reply after every command and after the end-of-data
    // mark: holding those small writes back for an acknowledgement would add the
    // peer's delayed-ACK time to every message.
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        return socketError("setsockopt(TCP_NODELAY)", SocketErrorFromErrno(errno));

    const int flags = ::fcntl(fd_, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0)
        return socketError("WSAAsyncSelect", SocketErrorFromErrno(errno));
    const unsigned gen = gen_;
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    readNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this,
            [this, gen] { onReadActivated(gen); });
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this,
            [this, gen] { onWriteActivated(gen); });

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = sinAddr_;
    remote.sin_port = htons(sinPort_);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 ||
        errno == EINPROGRESS || errno == EAGAIN) {
        setState(SocketState::Connecting);
        watchWrite(true); // writable means the outcome is known
        return;
    }
    const int err = errno;
    if (IsConnectOutcome(err)) {
        // Reported like any other outcome: through onSessionConnected, later.
        setState(SocketState::Connecting);
        postConnectComplete(SocketErrorFromErrno(err));
        return;
    }
    lastError_ = SocketErrorFromErrno(err);
    socketError("Connect", lastError_);
}

void ClientSocket::closeConnection() {
    internalClose(true);
}

void ClientSocket::abortConnection() {
    queue_.clear();
    if (fd_ >= 0 && state_ == SocketState::Connected) {
        linger l{}; // off: the handle goes at once, the system ends the connection
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    internalClose(false);
}

void ClientSocket::dropHandle() {
    for (QSocketNotifier** n : {&readNotifier_, &writeNotifier_}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    ::close(fd_);
    fd_ = -1;
    ++gen_; // anything still queued for the old handle is stale now
    dropTls();
}

bool ClientSocket::internalClose(bool shutdownFirst) {
    if (fd_ < 0) {
        if (state_ != SocketState::Closed) {
            setState(SocketState::Closed);
            restoreDefaults();
        }
        return true;
    }
    if (state_ == SocketState::Closed) return true;
    if (shutdownFirst) {
        sendCloseNotify();
        ::shutdown(fd_, SHUT_WR);
    }
    dropHandle();
    const unsigned gen = gen_;
    setState(SocketState::Closed);
    if (!destroying_ && !closeFired_ && onSessionClosed) {
        closeFired_ = true;
        const std::weak_ptr<char> alive = lifeToken();
        fire(onSessionClosed, 0);
        if (alive.expired()) return false;
    }
    // A handler may already have started the next connection.
    if (gen == gen_ && fd_ < 0) restoreDefaults();
    return true;
}

void ClientSocket::restoreDefaults() {
    addrAssigned_ = addrResolved_ = false;
    portAssigned_ = portResolved_ = false;
    localPort_ = "0";
    localPortResolved_ = false;
    state_ = SocketState::Closed;
    allSent_ = true;
    readCount_ = 0;
    closeFired_ = false;
}

void ClientSocket::watchWrite(bool on) {
    if (writeNotifier_) writeNotifier_->setEnabled(on);
}

int ClientSocket::send(const void* data, int len) {
    return static_cast<int>(
        sendBytes(static_cast<const char*>(data), len > 0 ? static_cast<std::size_t>(len) : 0));
}

long long ClientSocket::sendText(std::string_view text) {
    return sendBytes(text.data(), text.size());
}

long long ClientSocket::sendBytes(const char* data, std::size_t len) {
    if (state_ != SocketState::Connected) {
        socketError("Send", socket_error::kNotConnected);
        return -1;
    }
    allSent_ = false;
    if (tls_ && !tls_->established()) {
        plainOut_.append(data, len); // goes out when the handshake has succeeded
        return static_cast<long long>(len);
    }
    queueBytes(data, len);
    if (tryToSend() && allSent_) postWriteReady();
    return static_cast<long long>(len);
}

bool ClientSocket::tryToSend() {
    if (fd_ < 0 || !queue_.hasBlocks()) return true;
    // One call hands the operating system as many queued blocks as it takes, so a large
    // batch costs a few system calls and full-sized segments instead of one of each per
    // block.
    constexpr std::size_t kMaxGather = 64;
    for (;;) {
        iovec iov[kMaxGather];
        std::size_t count = 0;
        std::size_t offered = 0;
        for (std::size_t i = 0; i < queue_.blockCount() && count < kMaxGather; ++i) {
            const std::string_view v = queue_.at(i).peek();
            if (v.empty()) continue;
            iov[count].iov_base = const_cast<char*>(v.data());
            iov[count].iov_len = v.size();
            offered += v.size();
            ++count;
        }
        if (count == 0) {
            while (queue_.dropFrontIfDone()) {
            }
            allSent_ = true;
            return true;
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = count;
        const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = SocketErrorFromErrno(errno);
            if (code == socket_error::kInvalidArgument || code == socket_error::kNotASocket ||
                code == socket_error::kConnectionReset || code == socket_error::kNotConnected) {
                closeFired_ = true;
                const std::weak_ptr<char> alive = lifeToken();
                if (!internalClose(true)) return false;
                fire(onSessionClosed, code);
                return !alive.expired();
            }
            if (code == socket_error::kWouldBlock) {
                watchWrite(true);
                return true;
            }
            socketError("TryToSend failed", code);
            return true;
        }
        if (n == 0) {
            watchWrite(true);
            return true;
        }
        std::size_t left = static_cast<std::size_t>(n);
        for (std::size_t i = 0; left > 0 && i < queue_.blockCount(); ++i) {
            SendBuffer& b = queue_.at(i);
            const std::size_t take = std::min(left, b.peek().size());
            b.remove(static_cast<int>(take));
            left -= take;
        }
        while (queue_.dropFrontIfDone()) {
        }
        if (static_cast<std::size_t>(n) < offered) {
            watchWrite(true);
            return true;
        }
    }
}

int ClientSocket::receive(void* buffer, int size) {
    if (fd_ < 0) {
        lastError_ = socket_error::kNotASocket;
        return -1;
    }
    if (size <= 0) return 0;
    if (tls_) {
        const std::size_t n = std::min(plainAvailable(), static_cast<std::size_t>(size));
        if (n == 0) {
            if (tlsEnded_) return 0;
            lastError_ = socket_error::kWouldBlock;
            return -1;
        }
        std::memcpy(buffer, plainIn_.data() + plainPos_, n);
        plainPos_ += n;
        if (plainPos_ == plainIn_.size()) {
            plainIn_.clear();
            plainPos_ = 0;
        }
        readCount_ += static_cast<long long>(n);
        return static_cast<int>(n);
    }
    ssize_t n;
    do {
        n = ::recv(fd_, buffer, static_cast<std::size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        lastError_ = SocketErrorFromErrno(errno);
        return -1;
    }
    readCount_ += n;
    return static_cast<int>(n);
}

// ---------------------------------------------------------------------------------------
// Notifications

void ClientSocket::postWriteReady() {
    QMetaObject::invokeMethod(
        this, [this, gen = gen_] { writeReady(gen, 0); }, Qt::QueuedConnection);
}

void ClientSocket::postConnectComplete(int error) {
    QMetaObject::invokeMethod(
        this, [this, gen = gen_, error] { connectComplete(gen, error); }, Qt::QueuedConnection);
}

void ClientSocket::bgException(const std::exception& e) {
    bool canClose = true;
    if (onHandlerException) {
        const std::weak_ptr<char> alive = lifeToken();
        try {
            fire(onHandlerException, std::cref(e), std::ref(canClose));
        } catch (...) {
        }
        if (alive.expired()) return;
    }
    if (canClose) {
        try {
            abortConnection();
        } catch (...) {
        }
    }
}

void ClientSocket::onWriteActivated(unsigned gen) {
    if (gen != gen_ || fd_ < 0) return;
    if (state_ == SocketState::Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        connectComplete(gen, SocketErrorFromErrno(err));
        return;
    }
    writeReady(gen, 0);
}

void ClientSocket::connectComplete(unsigned gen, int error) {
    if (gen != gen_ || fd_ < 0 || state_ != SocketState::Connecting) return;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        watchWrite(false);
        setState(SocketState::Connected);
        if (error == 0 && readNotifier_) readNotifier_->setEnabled(true);
        if (error == 0 && implicitTls && gen == gen_ && state_ == SocketState::Connected) {
            beginTls();
            implicitPending_ = true;
            return;
        }
        fire(onSessionConnected, error);
        if (alive.expired()) return;
        if (error != 0 && gen == gen_ && state_ != SocketState::Closed) closeConnection();
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

void ClientSocket::writeReady(unsigned gen, int error) {
    if (gen != gen_ || fd_ < 0 || state_ != SocketState::Connected) return;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        if (!tryToSend()) return;
        // The handshake's own records are no data of the caller's.
        if (tls_ && !tls_->established()) {
            if (allSent_) watchWrite(false);
            return;
        }
        if (gen == gen_ && fd_ >= 0 && allSent_) {
            watchWrite(false);
            fire(onDataSent, error);
        }
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

void ClientSocket::onReadActivated(unsigned gen) {
    if (gen != gen_ || fd_ < 0 || inReadLoop_ || state_ != SocketState::Connected) return;
    if (tls_) {
        guarded([this, gen] { tlsReadable(gen); });
        return;
    }
    char c;
    const ssize_t r = receivedCount() > 0 ? 1 : ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) {
        readableLoop(0);
        return;
    }
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    closedNotification(r == 0 ? 0 : SocketErrorFromErrno(errno));
}

bool ClientSocket::readableLoop(int error) {
    const unsigned gen = gen_;
    const std::weak_ptr<char> alive = lifeToken();
    // A handler may run a nested event loop: the level-triggered notifier must not call
    // back into the loop meanwhile.
    inReadLoop_ = true;
    if (readNotifier_) readNotifier_->setEnabled(false);
    // A peer that keeps sending could hold the loop for ever: after a number of rounds
    // the event loop gets its turn, and the notifier brings the rest.
    for (int round = 0; round < kMaxReadRounds; ++round) {
        lastError_ = 0;
        const long long before = readCount_;
        if (onDataAvailable) {
            try {
                fire(onDataAvailable, error);
            } catch (...) {
                if (alive.expired()) return false;
                break; // ends the loop; the connection stays as it is
            }
            if (alive.expired()) return false;
        } else if (tls_) {
            plainIn_.clear(); // nobody takes it
            plainPos_ = 0;
            break;
        } else {
            char buf[1024];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0)
                lastError_ = SocketErrorFromErrno(errno);
            else
                readCount_ += n;
        }
        if (gen != gen_ || fd_ < 0) break;
        if (lastError_ != 0) break;
        if (receivedCount() <= 0) break;
        // A handler that took nothing is called again by the next notification rather
        // than spinning here.
        if (readCount_ == before) break;
    }
    inReadLoop_ = false;
    // After the end of an encrypted stream the handle stays readable; what is left is
    // delivered from the decrypted bytes.
    if (gen == gen_ && readNotifier_ && !(tls_ && tlsEnded_)) readNotifier_->setEnabled(true);
    return true;
}

void ClientSocket::closedNotification(int error) {
    if (state_ == SocketState::Connecting) return;
    const unsigned gen = gen_;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        if (!readableLoop(0) || gen != gen_) return;
        if (onSessionClosed && !closeFired_) {
            closeFired_ = true;
            fire(onSessionClosed, error);
            if (alive.expired()) return;
        }
        if (gen == gen_ && state_ != SocketState::Closed) closeConnection();
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

} // namespace tandrel
