#include "WSocket.h"

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

namespace tandrel {

// ---------------------------------------------------------------------------------------
// Error codes and texts

std::string ErrorDesc(int code) {
    switch (code) {
    case 0:
        return "No Error";
    case 10004:
        return "Interrupted system call";
    case 10009:
        return "Bad file number";
    case 10013:
        return "Permission denied";
    case 10014:
        return "Bad address";
    case 10022:
        return "Invalid argument";
    case 10024:
        return "Too many open files";
    case 10035:
        return "Operation would block";
    case 10036:
        return "Operation now in progress";
    case 10037:
        return "Operation already in progress";
    case 10038:
        return "Socket operation on non-socket";
    case 10039:
        return "Destination address required";
    case 10040:
        return "Message too long";
    case 10041:
        return "Protocol wrong type for socket";
    case 10042:
        return "Protocol not available";
    case 10043:
        return "Protocol not supported";
    case 10044:
        return "Socket type not supported";
    case 10045:
        return "Operation not supported on socket";
    case 10046:
        return "Protocol family not supported";
    case 10047:
        return "Address family not supported by protocol family";
    case 10048:
        return "Address already in use";
    case 10049:
        return "Address not available";
    case 10050:
        return "Network is down";
    case 10051:
        return "Network is unreachable";
    case 10052:
        return "Network dropped connection on reset";
    case 10053:
        return "Connection aborted";
    case 10054:
        return "Connection reset by peer";
    case 10055:
        return "No buffer space available";
    case 10056:
        return "Socket is already connected";
    case 10057:
        return "Socket is not connected";
    case 10058:
        return "Can't send after socket shutdown";
    case 10059:
        return "Too many references: can't splice";
    case 10060:
        return "Connection timed out";
    case 10061:
        return "Connection refused";
    case 10062:
        return "Too many levels of symbolic links";
    case 10063:
        return "File name too long";
    case 10064:
        return "Host is down";
    case 10065:
        return "No route to host";
    case 10066:
        return "Directory not empty";
    case 10067:
        return "Too many processes";
    case 10068:
        return "Too many users";
    case 10069:
        return "Disc quota exceeded";
    case 10070:
        return "Stale NFS file handle";
    case 10071:
        return "Too many levels of remote in path";
    case 10091:
        return "Network sub-system is unusable";
    case 10092:
        return "WinSock DLL cannot support this application";
    case 10093:
        return "WinSock not initialized";
    case 11001:
        return "Host not found";
    case 11002:
        return "Non-authoritative host not found";
    case 11003:
        return "Non-recoverable error";
    case 11004:
        return "No Data";
    default:
        return "Not a WinSock error";
    }
}

int SocketErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case ENFILE:
        return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
        return 10035;
#endif
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    // Writing to a connection the peer has already torn down.
    case EPIPE:
        return 10054;
    case ENOBUFS:
        return 10055;
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return err;
    }
}

// ---------------------------------------------------------------------------------------
// Send buffers

TBuffer::TBuffer(int size) : buf_(static_cast<std::size_t>(size > 0 ? size : DefaultSize)) {}

int TBuffer::Write(const char* data, int len) {
    const int n = std::max(0, std::min(len, Capacity() - wr_));
    if (n > 0) std::memcpy(buf_.data() + wr_, data, static_cast<std::size_t>(n));
    wr_ += n;
    return n;
}

std::string_view TBuffer::Peek() const {
    return std::string_view(buf_.data() + rd_, static_cast<std::size_t>(wr_ - rd_));
}

void TBuffer::Remove(int n) {
    if (n <= 0) return;
    rd_ = std::min(wr_, rd_ + n);
    if (rd_ == wr_) rd_ = wr_ = 0;
}

void TBuffer::Resize(int n) {
    if (n <= 0) n = DefaultSize;
    const std::string_view unread = Peek();
    std::vector<char> area(static_cast<std::size_t>(std::max<std::size_t>(n, unread.size())));
    std::copy(unread.begin(), unread.end(), area.begin());
    wr_ = static_cast<int>(unread.size());
    rd_ = 0;
    buf_ = std::move(area);
}

void TSendQueue::Append(const char* data, std::size_t len) {
    while (len > 0) {
        if (blocks_.empty() || blocks_.back()->WrCount() >= blocks_.back()->Capacity())
            blocks_.push_back(std::make_unique<TBuffer>(blockSize_));
        const int chunk = static_cast<int>(std::min<std::size_t>(len, 1u << 30));
        const int n = blocks_.back()->Write(data, chunk);
        data += n;
        len -= static_cast<std::size_t>(n);
    }
}

bool TSendQueue::Empty() const {
    return std::all_of(blocks_.begin(), blocks_.end(), [](const auto& b) { return b->Empty(); });
}

bool TSendQueue::DropFrontIfDone() {
    if (blocks_.size() < 2 || !blocks_.front()->Empty()) return false;
    blocks_.pop_front();
    return true;
}

std::vector<int> TSendQueue::BlockFill() const {
    std::vector<int> out;
    for (const auto& b : blocks_)
        out.push_back(b->WrCount() - b->RdCount());
    return out;
}

// ---------------------------------------------------------------------------------------
// Resolution

namespace {

// A resolution failure; Connect raises it again with "connect: " in front.
struct ResolveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

bool StartsWithDigit(const std::string& s) {
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s[0]));
}

// The run of digits after any leading blanks, in decimal; -1 when it does not fit.
long LeadingNumber(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 65535) return -1;
    }
    return v;
}

std::string Replace(std::string pattern, const std::string& value) {
    const auto pos = pattern.find("%s");
    if (pos != std::string::npos) pattern.replace(pos, 2, value);
    return pattern;
}

int ResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= 32)
        throw ResolveError("WSocketResolveProto: Invalid Protocol.");
    if (StartsWithDigit(proto)) {
        const long v = LeadingNumber(proto);
        if (v < 0 || v > 255) throw ResolveError("WSocketResolveProto: Invalid Protocol.");
        return static_cast<int>(v);
    }
    const std::string name = Trim(proto);
    protoent pe{}, *res = nullptr;
    char buf[1024];
    if (::getprotobyname_r(name.c_str(), &pe, buf, sizeof buf, &res) == 0 && res)
        return res->p_proto;
    // Systems without a protocols database still know these two.
    if (name == "tcp") return 6;
    if (name == "udp") return 17;
    throw ResolveError(Replace("WSocketResolveProto: Cannot convert protocol '%s'", name));
}

std::string ProtoName(int proto) {
    protoent pe{}, *res = nullptr;
    char buf[1024];
    if (::getprotobynumber_r(proto, &pe, buf, sizeof buf, &res) == 0 && res && res->p_name)
        return res->p_name;
    return proto == 17 ? "udp" : "tcp";
}

std::uint16_t ResolvePort(const std::string& port, int proto) {
    if (port.empty() || port.size() >= 32) throw ResolveError("WSocketResolvePort: Invalid Port.");
    if (StartsWithDigit(port)) {
        const long v = LeadingNumber(port);
        if (v < 0) throw ResolveError("WSocketResolvePort: Invalid Port.");
        return static_cast<std::uint16_t>(v);
    }
    const std::string name = Trim(port);
    servent se{}, *res = nullptr;
    char buf[1024];
    if (::getservbyname_r(name.c_str(), ProtoName(proto).c_str(), &se, buf, sizeof buf, &res) !=
            0 ||
        !res)
        throw ResolveError(Replace("WSocketResolvePort: Cannot convert port '%s'", name));
    return ntohs(static_cast<std::uint16_t>(res->s_port));
}

// Network-order IPv4 address. The name lookup blocks the calling thread.
std::uint32_t ResolveHost(const std::string& addr) {
    if (addr.empty() || addr.size() > 256)
        throw ResolveError("WSocketResolveHost: '" + addr + "' Invalid Hostname.");
    const std::string text = Trim(addr);
    if (StartsWithDigit(text)) {
        in_addr a{};
        if (::inet_aton(text.c_str(), &a) == 0 && text != "255.255.255.255")
            throw ResolveError("WSocketResolveHost: '" + addr + "' Invalid IP address.");
        return text == "255.255.255.255" ? INADDR_NONE : a.s_addr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (res) ::freeaddrinfo(res);
        throw ResolveError(Replace("WSocketResolveHost: Cannot convert host address '%s'", text));
    }
    const std::uint32_t a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return a;
}

// Connection outcomes the operating system may report at once although they belong
// to the asynchronous connection result (refused, unreachable, timed out).
bool IsConnectOutcome(int err) {
    return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH ||
           err == ECONNRESET;
}

} // namespace

// ---------------------------------------------------------------------------------------
// TWSocket

namespace {
// Handler calls per readable notification before the event loop gets its turn again.
constexpr int kMaxReadRounds = 64;
} // namespace

TWSocket::TWSocket(QObject* parent) : QObject(parent) {}

TWSocket::~TWSocket() {
    destroying_ = true;
    // The owner may already be half gone: nothing is reported from here on.
    OnSessionConnected = nullptr;
    OnDataAvailable = nullptr;
    OnDataSent = nullptr;
    OnSessionClosed = nullptr;
    OnChangeState = nullptr;
    OnError = nullptr;
    OnBgException = nullptr;
    if (fd_ >= 0) {
        try {
            internalClose(true);
        } catch (...) {
        }
    }
}

void TWSocket::setState(TSocketState s) {
    if (s == state_) return;
    const TSocketState old = state_;
    state_ = s;
    fire(OnChangeState, old, s);
}

void TWSocket::raiseSocketError(const std::string& text) {
    if (OnError) {
        fire(OnError);
        return;
    }
    throw ESocketException(text);
}

void TWSocket::socketError(const std::string& name, int code) {
    const std::string text =
        "Error " + std::to_string(code) + " in function " + name + "\r\n" + ErrorDesc(code);
    if (code == 10054 || code == 10057) {
        if (fd_ >= 0) dropHandle();
        setState(wsClosed);
    }
    lastError_ = code;
    raiseSocketError(text);
}

void TWSocket::setAddr(const std::string& addr) {
    const std::string t = Trim(addr);
    if (addrAssigned_ && t == addr_) return;
    if (state_ != wsClosed) return raiseSocketError("Cannot change Addr if not closed");
    addr_ = t;
    addrResolved_ = false;
    addrAssigned_ = !t.empty();
}

void TWSocket::setPort(const std::string& port) {
    const std::string t = Trim(port);
    if (portAssigned_ && t == port_) return;
    if (state_ != wsClosed) return raiseSocketError("Cannot change Port if not closed");
    port_ = t;
    portResolved_ = false;
    portAssigned_ = !t.empty();
}

void TWSocket::setProto(const std::string& proto) {
    const std::string t = Trim(proto);
    if (protoAssigned_ && t == proto_) return;
    if (state_ != wsClosed) return raiseSocketError("Cannot change Proto if not closed");
    proto_ = t;
    protoResolved_ = false;
    protoAssigned_ = !t.empty();
}

void TWSocket::setLocalPort(const std::string& port) {
    if (state_ != wsClosed) return raiseSocketError("Cannot change LocalPort if not closed");
    localPort_ = port;
    localPortResolved_ = false;
}

int TWSocket::RcvdCount() const {
    if (fd_ < 0) return 0;
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) < 0) return -1;
    return n;
}

void TWSocket::resolveAll() {
    if (!protoResolved_) {
        protoNum_ = ResolveProto(proto_);
        datagram_ = protoNum_ == 17;
        protoResolved_ = true;
    }
    if (!portResolved_) {
        sinPort_ = ResolvePort(port_, protoNum_);
        portResolved_ = true;
    }
    if (!localPortResolved_) {
        localPortNum_ = ResolvePort(localPort_, protoNum_);
        localPortResolved_ = true;
    }
    if (!addrResolved_) {
        sinAddr_ = ResolveHost(addr_);
        addrResolved_ = true;
    }
}

void TWSocket::Connect() {
    if (fd_ >= 0 && state_ != wsClosed) return raiseSocketError("Connect: Socket already in use");
    if (!portAssigned_) return raiseSocketError("Connect: No Port Specified");
    if (!addrAssigned_) return raiseSocketError("Connect: No IP Address Specified");
    if (!protoAssigned_) return raiseSocketError("Connect: No Protocol Specified");
    try {
        resolveAll();
    } catch (const ResolveError& e) {
        return raiseSocketError(std::string("connect: ") + e.what());
    }
    queue_.Clear();

    const int fd =
        ::socket(AF_INET, (datagram_ ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, protoNum_);
    if (fd < 0) return socketError("Connect (socket)", SocketErrorFromErrno(errno));
    fd_ = fd;
    ++gen_;
    setState(wsOpened);

    if (!datagram_) {
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
        if (LingerOnOff != wsLingerNoSet) {
            linger l{};
            l.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
            l.l_linger = LingerTimeout;
            if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
                return socketError("setsockopt(SO_LINGER)", SocketErrorFromErrno(errno));
        }
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
    }

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
        setState(wsConnecting);
        watchWrite(true); // writable means the outcome is known
        return;
    }
    const int err = errno;
    if (IsConnectOutcome(err)) {
        // Reported like any other outcome: through OnSessionConnected, later.
        setState(wsConnecting);
        postConnectComplete(SocketErrorFromErrno(err));
        return;
    }
    lastError_ = SocketErrorFromErrno(err);
    socketError("Connect", lastError_);
}

void TWSocket::CloseConnection() {
    internalClose(true);
}

void TWSocket::AbortConnection() {
    queue_.Clear();
    if (fd_ >= 0 && state_ == wsConnected && !datagram_) {
        LingerOnOff = wsLingerOff;
        linger l{};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    internalClose(false);
}

void TWSocket::dropHandle() {
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
}

bool TWSocket::internalClose(bool shutdownFirst) {
    if (fd_ < 0) {
        if (state_ != wsClosed) {
            setState(wsClosed);
            restoreDefaults();
        }
        return true;
    }
    if (state_ == wsClosed) return true;
    if (shutdownFirst) ::shutdown(fd_, SHUT_WR);
    dropHandle();
    const unsigned gen = gen_;
    setState(wsClosed);
    if (!destroying_ && !closeFired_ && OnSessionClosed) {
        closeFired_ = true;
        const std::weak_ptr<char> alive = lifeToken();
        fire(OnSessionClosed, 0);
        if (alive.expired()) return false;
    }
    // A handler may already have started the next connection.
    if (gen == gen_ && fd_ < 0) restoreDefaults();
    return true;
}

void TWSocket::restoreDefaults() {
    addrAssigned_ = addrResolved_ = false;
    portAssigned_ = portResolved_ = false;
    proto_ = "tcp";
    protoAssigned_ = protoResolved_ = true;
    protoNum_ = 6;
    datagram_ = false;
    localPort_ = "0";
    localPortResolved_ = false;
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    state_ = wsClosed;
    allSent_ = true;
    readCount_ = 0;
    closeFired_ = false;
    FlushTimeout = 60;
}

void TWSocket::watchWrite(bool on) {
    if (writeNotifier_) writeNotifier_->setEnabled(on);
}

int TWSocket::Send(const void* data, int len) {
    if (state_ != wsConnected) {
        socketError("Send", 10057);
        return -1;
    }
    allSent_ = false;
    if (len > 0) queue_.Append(static_cast<const char*>(data), static_cast<std::size_t>(len));
    if (tryToSend() && allSent_) postWriteReady();
    return len > 0 ? len : 0;
}

int TWSocket::SendText(std::string_view text) {
    return Send(text.data(), static_cast<int>(text.size()));
}

bool TWSocket::tryToSend() {
    if (fd_ < 0 || !queue_.HasBlocks()) return true;
    // Out-of-band data goes a block at a time; otherwise one call hands the operating
    // system as many queued blocks as it takes, so a large batch costs a few system
    // calls and full-sized segments instead of one of each per block.
    const bool urgent = SendFlags == wsSendUrgent;
    constexpr std::size_t kMaxGather = 64;
    for (;;) {
        iovec iov[kMaxGather];
        std::size_t count = 0;
        std::size_t offered = 0;
        for (std::size_t i = 0; i < queue_.BlockCount() && count < (urgent ? 1 : kMaxGather); ++i) {
            const std::string_view v = queue_.At(i).Peek();
            if (v.empty()) continue;
            iov[count].iov_base = const_cast<char*>(v.data());
            iov[count].iov_len = v.size();
            offered += v.size();
            ++count;
        }
        if (count == 0) {
            while (queue_.DropFrontIfDone()) {
            }
            allSent_ = true;
            return true;
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = count;
        const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | (urgent ? MSG_OOB : 0));
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = SocketErrorFromErrno(errno);
            if (code == 10022 || code == 10038 || code == 10054 || code == 10057) {
                closeFired_ = true;
                const std::weak_ptr<char> alive = lifeToken();
                if (!internalClose(true)) return false;
                fire(OnSessionClosed, code);
                return !alive.expired();
            }
            if (code == 10035) {
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
        for (std::size_t i = 0; left > 0 && i < queue_.BlockCount(); ++i) {
            TBuffer& b = queue_.At(i);
            const std::size_t take = std::min(left, b.Peek().size());
            b.Remove(static_cast<int>(take));
            left -= take;
        }
        while (queue_.DropFrontIfDone()) {
        }
        if (static_cast<std::size_t>(n) < offered) {
            watchWrite(true);
            return true;
        }
    }
}

int TWSocket::ReceiveData(void* buffer, int size) {
    if (fd_ < 0) {
        lastError_ = 10038;
        return -1;
    }
    if (size <= 0) return 0;
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

std::string TWSocket::ReceiveText() {
    const int n = RcvdCount();
    if (n <= 0) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    const int got = ReceiveData(s.data(), n);
    if (got < 0) return {};
    s.resize(static_cast<std::size_t>(got));
    return s;
}

// ---------------------------------------------------------------------------------------
// Notifications

void TWSocket::postWriteReady() {
    QMetaObject::invokeMethod(
        this, [this, gen = gen_] { writeReady(gen, 0); }, Qt::QueuedConnection);
}

void TWSocket::postConnectComplete(int error) {
    QMetaObject::invokeMethod(
        this, [this, gen = gen_, error] { connectComplete(gen, error); }, Qt::QueuedConnection);
}

void TWSocket::bgException(const std::exception& e) {
    bool canClose = true;
    if (OnBgException) {
        const std::weak_ptr<char> alive = lifeToken();
        try {
            fire(OnBgException, std::cref(e), std::ref(canClose));
        } catch (...) {
        }
        if (alive.expired()) return;
    }
    if (canClose) {
        try {
            AbortConnection();
        } catch (...) {
        }
    }
}

void TWSocket::onWriteActivated(unsigned gen) {
    if (gen != gen_ || fd_ < 0) return;
    if (state_ == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        connectComplete(gen, SocketErrorFromErrno(err));
        return;
    }
    writeReady(gen, 0);
}

void TWSocket::connectComplete(unsigned gen, int error) {
    if (gen != gen_ || fd_ < 0 || state_ != wsConnecting) return;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        watchWrite(false);
        setState(wsConnected);
        if (error == 0 && readNotifier_) readNotifier_->setEnabled(true);
        fire(OnSessionConnected, error);
        if (alive.expired()) return;
        if (error != 0 && gen == gen_ && state_ != wsClosed) CloseConnection();
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

void TWSocket::writeReady(unsigned gen, int error) {
    if (gen != gen_ || fd_ < 0 || state_ != wsConnected) return;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        if (!tryToSend()) return;
        if (gen == gen_ && fd_ >= 0 && allSent_) {
            watchWrite(false);
            fire(OnDataSent, error);
        }
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

void TWSocket::onReadActivated(unsigned gen) {
    if (gen != gen_ || fd_ < 0 || inReadLoop_ || state_ != wsConnected) return;
    char c;
    const ssize_t r = RcvdCount() > 0 ? 1 : ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0) {
        readableLoop(0);
        return;
    }
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    closedNotification(r == 0 ? 0 : SocketErrorFromErrno(errno));
}

bool TWSocket::readableLoop(int error) {
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
        if (OnDataAvailable) {
            try {
                fire(OnDataAvailable, error);
            } catch (...) {
                if (alive.expired()) return false;
                break; // ends the loop; the connection stays as it is
            }
            if (alive.expired()) return false;
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
        if (RcvdCount() <= 0) break;
        // A handler that took nothing is called again by the next notification rather
        // than spinning here.
        if (readCount_ == before) break;
    }
    inReadLoop_ = false;
    if (gen == gen_ && readNotifier_) readNotifier_->setEnabled(true);
    return true;
}

void TWSocket::closedNotification(int error) {
    if (state_ == wsConnecting) return;
    const unsigned gen = gen_;
    const std::weak_ptr<char> alive = lifeToken();
    try {
        if (!readableLoop(0) || gen != gen_) return;
        if (OnSessionClosed && !closeFired_) {
            closeFired_ = true;
            fire(OnSessionClosed, error);
            if (alive.expired()) return;
        }
        if (gen == gen_ && state_ != wsClosed) CloseConnection();
    } catch (const std::exception& e) {
        if (!alive.expired()) bgException(e);
    } catch (...) {
        if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
    }
}

} // namespace tandrel
