// SPDX-License-Identifier: GPL-3.0-or-later
// ClientSocket: a non-blocking, event-driven IPv4 TCP client socket living on the GUI
// thread. Operations return at once; the outcome of a connection attempt, arriving
// data, a drained send queue and the close of the connection are reported through the
// On... callbacks, dispatched by the Qt event loop (QSocketNotifier plus queued calls).
//
// Error codes are those of the Windows Sockets numbering (10061 "Connection refused",
// ...): the operating system's errno values are mapped onto them, so the texts the user
// sees are the same everywhere.
//
// The connection may be encrypted with TLS, either from the start (implicitTls) or from
// a point the caller chooses on an open connection (startTls). Either way the events,
// send, receive and receivedCount keep their meaning, applied to the plain text; the
// certificate is verified and any failure closes the connection with a text in
// tlsError(): there is never a fall back to unencrypted transfer.
#pragma once

#include <QObject>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class QSocketNotifier;

namespace tandrel {

class TlsChannel;

// Raised for failures an operation meets at once; the message is the text shown.
class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class SocketState {
    Opened,     // a handle exists; the connection is not asked for yet
    Connecting, // the connection is asked for; its outcome comes as onSessionConnected
    Connected,
    Closed,
};

// The socket error codes the socket acts on itself; SocketErrorText has the text of each.
namespace socket_error {
inline constexpr int kInvalidArgument = 10022;
inline constexpr int kWouldBlock = 10035;
inline constexpr int kNotASocket = 10038;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kNotConnected = 10057;
// A TLS failure (handshake, certificate or a damaged record); the text for the user is
// ClientSocket::tlsError().
inline constexpr int kTls = 20001;
} // namespace socket_error

// The text of a socket error code ("Connection refused" for 10061, ...), or
// "Not a WinSock error".
std::string SocketErrorText(int code);
// The socket error code for an errno value (ECONNREFUSED gives 10061, ...). Values
// without a counterpart are returned unchanged.
int SocketErrorFromErrno(int err);

// A fixed-capacity block of the send queue.
class SendBuffer {
public:
    static constexpr int kDefaultSize = 1514;
    // A capacity of zero or less gives kDefaultSize.
    explicit SendBuffer(int size = kDefaultSize);

    // Copies as many bytes as fit behind the written ones; returns how many (0 when full).
    int write(const char* data, int len);
    // The unread bytes.
    std::string_view peek() const;
    // Marks n bytes read (at most up to the written ones); a fully read block is empty
    // and reusable again.
    void remove(int n);
    // A new area of n bytes; unread data stays.
    void resize(int n);

    int capacity() const { return static_cast<int>(buf_.size()); }
    int writtenCount() const { return wr_; }
    int readCount() const { return rd_; }
    bool empty() const { return rd_ == wr_; }

private:
    std::vector<char> buf_;
    int wr_ = 0;
    int rd_ = 0;
};

// First-in first-out list of SendBuffer blocks. Appending fills the last block and adds
// blocks of `blockSize` bytes until everything is stored; emptied blocks in front are
// dropped while another follows, and the last block stays for reuse.
class SendQueue {
public:
    explicit SendQueue(int blockSize = SendBuffer::kDefaultSize) : blockSize_(blockSize) {}
    void append(const char* data, std::size_t len);
    void clear() { blocks_.clear(); }
    bool hasBlocks() const { return !blocks_.empty(); }
    // True when no unread byte is queued.
    bool empty() const;
    std::size_t blockCount() const { return blocks_.size(); }
    SendBuffer& front() { return *blocks_.front(); }
    SendBuffer& at(std::size_t i) { return *blocks_[i]; }
    // Drops the first block if it is empty and another one follows; false otherwise.
    bool dropFrontIfDone();
    // Unread bytes of each block, front first.
    std::vector<int> blockFill() const;

private:
    int blockSize_;
    std::deque<std::unique_ptr<SendBuffer>> blocks_;
};

class ClientSocket : public QObject {
    Q_OBJECT
public:
    using SessionEvent = std::function<void(ClientSocket* sender, int error)>;
    using ChangeStateEvent =
        std::function<void(ClientSocket* sender, SocketState oldState, SocketState newState)>;
    using BgExceptionEvent =
        std::function<void(ClientSocket* sender, const std::exception& e, bool& canClose)>;

    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // --- properties ---
    const std::string& address() const { return addr_; }
    void setAddress(const std::string& addr);
    const std::string& port() const { return port_; }
    void setPort(const std::string& port);
    const std::string& localPort() const { return localPort_; }
    void setLocalPort(const std::string& port);

    SocketState state() const { return state_; }
    int lastError() const { return lastError_; }
    // Bytes received since the last close (plain text when encrypted).
    long long readCount() const { return readCount_; }
    // Bytes that receive can take at once: those waiting in the operating system's
    // receive buffer (-1 when it cannot be read), or the decrypted ones when encrypted.
    int receivedCount() const;
    // The operating system's handle, -1 when there is none.
    int handle() const { return fd_; }

    // connectToHost does the TLS handshake right after the TCP connection is made; the session
    // counts as connected (onSessionConnected) only once it has succeeded. Not reset by a
    // close, so a caller who asked for encryption never gets a plain connection by
    // forgetting to ask again.
    bool implicitTls = false;

    // --- operations ---
    // Starts connecting to address:port; the outcome arrives as onSessionConnected.
    // Immediate failures raise ESocketException.
    void connectToHost();
    // Orderly close: shuts the sending direction down, closes, fires onSessionClosed once.
    void closeConnection();
    // Discards queued data and closes without shutting down first.
    void abortConnection();
    // Queues the bytes and sends what the network takes. Returns len (0 for len <= 0);
    // raises ESocketException when not connected. onDataSent is never fired
    // from inside Send: when everything went out at once it is posted to the event loop.
    // While a TLS handshake runs, the bytes wait and go out encrypted once it succeeds
    // (they are dropped if it fails).
    int send(const void* data, int len);
    // As send, for texts of any length.
    long long sendText(std::string_view text);
    // One read of at most size bytes: the count, 0 when the peer has closed, -1 on error
    // (lastError() then holds the code; 10035 when nothing is waiting).
    int receive(void* buffer, int size);

    // Begins TLS on an open plain connection, for the STARTTLS command: call it when the
    // server's positive reply to STARTTLS has been read, before sending anything else.
    // Plain bytes the server sent after that reply are discarded unread (they could only
    // be an attacker's injection); a caller holding received bytes of its own must drop
    // them too. The handshake then runs from the event loop and ends with onTlsDone.
    // Raises ESocketException when not connected or already encrypted.
    void startTls();
    // True once the handshake has succeeded and until the connection closes.
    bool tlsActive() const;
    // The text of the last TLS failure ("Error, the server's certificate is not trusted:
    // ..."), kept after the close until the next connectToHost; empty when there was none.
    const std::string& tlsError() const { return tlsError_; }

    // --- events ---
    // A handler of onSessionConnected, onDataAvailable, onDataSent, onSessionClosed or
    // onHandlerException may destroy the socket; nothing of it is touched afterwards. One of
    // onStateChange must not (the operation that fired it goes on).
    //
    // onTlsDone ends every handshake, with error 0 or socket_error::kTls. With implicitTls it is
    // followed by onSessionConnected with the same error. After a failure, onSessionClosed
    // follows with socket_error::kTls; nothing was sent after the handshake. A TLS failure later
    // on (a damaged record) closes the connection the same way, without onTlsDone.
    SessionEvent onSessionConnected;
    SessionEvent onDataAvailable;
    SessionEvent onDataSent;
    SessionEvent onSessionClosed;
    SessionEvent onTlsDone;
    ChangeStateEvent onStateChange;
    BgExceptionEvent onHandlerException;

private:
    void setState(SocketState s);
    // Raises ESocketException with the text.
    [[noreturn]] void raiseSocketError(const std::string& text);
    // "Error n in function name" + CR LF + SocketErrorText(n); closes the handle for 10054/10057.
    [[noreturn]] void socketError(const std::string& name, int code);
    void resolveAll();
    // These return false when a handler they fired destroyed the socket.
    bool tryToSend();
    bool internalClose(bool shutdownFirst);
    bool readableLoop(int error);
    void restoreDefaults();
    void dropHandle();
    void watchWrite(bool on);

    // Notification handlers; `gen` identifies the connection they were meant for.
    void onReadActivated(unsigned gen);
    void onWriteActivated(unsigned gen);
    void connectComplete(unsigned gen, int error);
    void writeReady(unsigned gen, int error);
    void closedNotification(int error);
    void postWriteReady();
    void postConnectComplete(int error);
    void bgException(const std::exception& e);

    // TLS (ClientSocketTls.cpp). These return false when a handler they fired destroyed the
    // socket or the connection is gone.
    void beginTls();
    bool tlsReadable(unsigned gen);
    bool tlsProgress(unsigned gen);
    bool tlsDeliver(unsigned gen);
    bool tlsFailed(unsigned gen, const std::string& text, bool inHandshake);
    bool flushTls();
    void postTlsDeliver();
    void sendCloseNotify();
    void dropTls();
    std::size_t plainAvailable() const { return plainIn_.size() - plainPos_; }
    void queueBytes(const char* data, std::size_t len);
    long long sendBytes(const char* data, std::size_t len);

    // Calls a handler through a copy of the event, so that it may reassign the event or
    // destroy the socket while it runs.
    template <class Event, class... Args> void fire(const Event& event, Args... args) {
        if (!event) return;
        const Event handler = event;
        handler(this, args...);
    }
    // Runs f; an exception escaping it goes to onHandlerException (then the connection is
    // aborted unless the handler says otherwise).
    template <class F> void guarded(F&& f) {
        const std::weak_ptr<char> alive = lifeToken();
        try {
            f();
        } catch (const std::exception& e) {
            if (!alive.expired()) bgException(e);
        } catch (...) {
            if (!alive.expired()) bgException(std::runtime_error("unknown exception"));
        }
    }
    // Expires when the socket is destroyed: checked after every handler that may do so.
    std::weak_ptr<char> lifeToken() const { return life_; }

    std::string addr_, port_, localPort_ = "0";
    bool addrAssigned_ = false, portAssigned_ = false;
    bool addrResolved_ = false, portResolved_ = false, localPortResolved_ = false;
    std::uint32_t sinAddr_ = 0; // network order
    std::uint16_t sinPort_ = 0; // host order
    std::uint16_t localPortNum_ = 0;

    int fd_ = -1;
    unsigned gen_ = 0; // grows with every new or closed handle
    SocketState state_ = SocketState::Closed;
    int lastError_ = 0;
    long long readCount_ = 0;
    SendQueue queue_;
    bool allSent_ = true;
    bool closeFired_ = false;
    bool destroying_ = false;
    bool inReadLoop_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::shared_ptr<char> life_ = std::make_shared<char>();

    std::unique_ptr<TlsChannel> tls_;
    bool implicitPending_ = false; // onSessionConnected waits for the handshake
    bool tlsEnded_ = false;        // close_notify or end of stream seen
    int tlsEndError_ = 0;
    std::string tlsHost_;
    std::string tlsError_;
    std::string plainIn_; // decrypted, not yet taken from plainPos_ on
    std::size_t plainPos_ = 0;
    std::string plainOut_; // sent during the handshake
};

} // namespace tandrel
