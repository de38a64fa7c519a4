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
// The connection may be encrypted with TLS, either from the start (ImplicitTls) or from
// a point the caller chooses on an open connection (StartTls). Either way the events,
// Send, ReceiveData and RcvdCount keep their meaning, applied to the plain text; the
// certificate is verified and any failure closes the connection with a text in
// TlsError(): there is never a fall back to unencrypted transfer.
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

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

// The text of a socket error code ("Connection refused" for 10061, ...), or
// "Not a WinSock error".
std::string ErrorDesc(int code);
// The socket error code for an errno value (ECONNREFUSED gives 10061, ...). Values
// without a counterpart are returned unchanged.
int SocketErrorFromErrno(int err);

// The error code of a TLS failure (handshake, certificate or a damaged record); the
// text for the user is ClientSocket::TlsError().
inline constexpr int wsTlsError = 20001;

// A fixed-capacity block of the send queue.
class SendBuffer {
public:
    static constexpr int DefaultSize = 1514;
    // A capacity of zero or less gives DefaultSize.
    explicit SendBuffer(int size = DefaultSize);

    // Copies as many bytes as fit behind the written ones; returns how many (0 when full).
    int Write(const char* data, int len);
    // The unread bytes.
    std::string_view Peek() const;
    // Marks n bytes read (at most up to the written ones); a fully read block is empty
    // and reusable again.
    void Remove(int n);
    // A new area of n bytes; unread data stays.
    void Resize(int n);

    int Capacity() const { return static_cast<int>(buf_.size()); }
    int WrCount() const { return wr_; }
    int RdCount() const { return rd_; }
    bool Empty() const { return rd_ == wr_; }

private:
    std::vector<char> buf_;
    int wr_ = 0;
    int rd_ = 0;
};

// First-in first-out list of SendBuffer blocks. Appending fills the last block and adds
// blocks of `blockSize` bytes until everything is stored; emptied blocks in front are
// dropped while another follows, and the last block stays for reuse.
class TSendQueue {
public:
    explicit TSendQueue(int blockSize = SendBuffer::DefaultSize) : blockSize_(blockSize) {}
    void Append(const char* data, std::size_t len);
    void Clear() { blocks_.clear(); }
    bool HasBlocks() const { return !blocks_.empty(); }
    // True when no unread byte is queued.
    bool Empty() const;
    std::size_t BlockCount() const { return blocks_.size(); }
    SendBuffer& Front() { return *blocks_.front(); }
    SendBuffer& At(std::size_t i) { return *blocks_[i]; }
    // Drops the first block if it is empty and another one follows; false otherwise.
    bool DropFrontIfDone();
    // Unread bytes of each block, front first.
    std::vector<int> BlockFill() const;

private:
    int blockSize_;
    std::deque<std::unique_ptr<SendBuffer>> blocks_;
};

class ClientSocket : public QObject {
    Q_OBJECT
public:
    using SessionEvent = std::function<void(ClientSocket* sender, int error)>;
    using ChangeStateEvent =
        std::function<void(ClientSocket* sender, TSocketState oldState, TSocketState newState)>;
    using ErrorEvent = std::function<void(ClientSocket* sender)>;
    using BgExceptionEvent =
        std::function<void(ClientSocket* sender, const std::exception& e, bool& canClose)>;

    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // --- properties ---
    const std::string& Addr() const { return addr_; }
    void setAddr(const std::string& addr);
    const std::string& Port() const { return port_; }
    void setPort(const std::string& port);
    const std::string& Proto() const { return proto_; }
    void setProto(const std::string& proto);
    const std::string& LocalPort() const { return localPort_; }
    void setLocalPort(const std::string& port);

    TSocketState State() const { return state_; }
    int LastError() const { return lastError_; }
    // Bytes received since the last close (plain text when encrypted).
    long long ReadCount() const { return readCount_; }
    // Bytes that ReceiveData can take at once: those waiting in the operating system's
    // receive buffer (-1 when it cannot be read), or the decrypted ones when encrypted.
    int RcvdCount() const;
    // The operating system's handle, -1 when there is none.
    int Handle() const { return fd_; }

    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0; // seconds
    int FlushTimeout = 60; // seconds; stored only
    TSocketSendFlags SendFlags = wsSendNormal;
    bool MultiThreaded = false;
    // Connect does the TLS handshake right after the TCP connection is made; the session
    // counts as connected (OnSessionConnected) only once it has succeeded. Not reset by a
    // close, so a caller who asked for encryption never gets a plain connection by
    // forgetting to ask again.
    bool ImplicitTls = false;

    // --- operations ---
    // Starts connecting to Addr:Port; the outcome arrives as OnSessionConnected.
    // Immediate failures raise ESocketException (or fire OnError).
    void Connect();
    // Orderly close: shuts the sending direction down, closes, fires OnSessionClosed once.
    void CloseConnection();
    // Discards queued data and closes without shutting down first.
    void AbortConnection();
    // Queues the bytes and sends what the network takes. Returns len (0 for len <= 0),
    // -1 when not connected and OnError handled the failure. OnDataSent is never fired
    // from inside Send: when everything went out at once it is posted to the event loop.
    // While a TLS handshake runs, the bytes wait and go out encrypted once it succeeds
    // (they are dropped if it fails).
    int Send(const void* data, int len);
    // As Send, for texts of any length.
    long long SendText(std::string_view text);
    // One read of at most size bytes: the count, 0 when the peer has closed, -1 on error
    // (LastError then holds the code; 10035 when nothing is waiting).
    int ReceiveData(void* buffer, int size);
    // Reads the RcvdCount bytes waiting (empty text when none or on error).
    std::string ReceiveText();

    // Begins TLS on an open plain connection, for the STARTTLS command: call it when the
    // server's positive reply to STARTTLS has been read, before sending anything else.
    // Plain bytes the server sent after that reply are discarded unread (they could only
    // be an attacker's injection); a caller holding received bytes of its own must drop
    // them too. The handshake then runs from the event loop and ends with OnTlsDone.
    // Raises ESocketException (or fires OnError) when not connected or already encrypted.
    void StartTls();
    // True once the handshake has succeeded and until the connection closes.
    bool TlsActive() const;
    // The text of the last TLS failure ("Error, the server's certificate is not trusted:
    // ..."), kept after the close until the next Connect; empty when there was none.
    const std::string& TlsError() const { return tlsError_; }

    // --- events ---
    // A handler of OnSessionConnected, OnDataAvailable, OnDataSent, OnSessionClosed or
    // OnBgException may destroy the socket; nothing of it is touched afterwards. Those of
    // OnChangeState and OnError must not (the operation that fired them goes on).
    //
    // OnTlsDone ends every handshake, with error 0 or wsTlsError. With ImplicitTls it is
    // followed by OnSessionConnected with the same error. After a failure, OnSessionClosed
    // follows with wsTlsError; nothing was sent after the handshake. A TLS failure later
    // on (a damaged record) closes the connection the same way, without OnTlsDone.
    SessionEvent OnSessionConnected;
    SessionEvent OnDataAvailable;
    SessionEvent OnDataSent;
    SessionEvent OnSessionClosed;
    SessionEvent OnTlsDone;
    ChangeStateEvent OnChangeState;
    ErrorEvent OnError;
    BgExceptionEvent OnBgException;

private:
    void setState(TSocketState s);
    // Raises ESocketException, or fires OnError when assigned (then returns normally).
    void raiseSocketError(const std::string& text);
    // "Error n in function name" + CR LF + ErrorDesc(n); closes the handle for 10054/10057.
    void socketError(const std::string& name, int code);
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

    // TLS (WSocketTls.cpp). These return false when a handler they fired destroyed the
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
    // Runs f; an exception escaping it goes to OnBgException (then the connection is
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

    std::string addr_, port_, proto_ = "tcp", localPort_ = "0";
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
    // "tcp" is protocol 6 without a look-up, as after every close.
    bool addrResolved_ = false, portResolved_ = false, protoResolved_ = true,
         localPortResolved_ = false;
    std::uint32_t sinAddr_ = 0; // network order
    std::uint16_t sinPort_ = 0; // host order
    std::uint16_t localPortNum_ = 0;
    int protoNum_ = 6;
    bool datagram_ = false;

    int fd_ = -1;
    unsigned gen_ = 0; // grows with every new or closed handle
    TSocketState state_ = wsClosed;
    int lastError_ = 0;
    long long readCount_ = 0;
    TSendQueue queue_;
    bool allSent_ = true;
    bool closeFired_ = false;
    bool destroying_ = false;
    bool inReadLoop_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::shared_ptr<char> life_ = std::make_shared<char>();

    std::unique_ptr<TlsChannel> tls_;
    bool implicitPending_ = false; // OnSessionConnected waits for the handshake
    bool tlsEnded_ = false;        // close_notify or end of stream seen
    int tlsEndError_ = 0;
    std::string tlsHost_;
    std::string tlsError_;
    std::string plainIn_; // decrypted, not yet taken from plainPos_ on
    std::size_t plainPos_ = 0;
    std::string plainOut_; // sent during the handshake
};

} // namespace tandrel
