// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/FakeSmtpServer.h"

#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tandrel::test {

namespace {

constexpr int kSliceMs = 20;

// Bytes made readable in failure messages.
std::string Visible(const std::string& s, std::size_t max = 200) {
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < max; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32 || c > 126) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
    return out;
}

} // namespace

FakeSmtpServer::FakeSmtpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("fake server: socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("fake server: cannot listen");
    }
    port_ = ntohs(a.sin_port);
}

FakeSmtpServer::~FakeSmtpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closeClient();
    if (listenFd_ >= 0) ::close(listenFd_);
    for (const auto& f : failures())
        ADD_FAILURE() << "fake SMTP server: " << f;
    if (!done_) ADD_FAILURE() << "fake SMTP server: the script was not used up";
}

FakeSmtpServer& FakeSmtpServer::send(std::string bytes) {
    steps_.push_back({Kind::Send, std::move(bytes), 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::flood(std::string bytes) {
    steps_.push_back({Kind::Flood, std::move(bytes), 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::reply(const std::string& line) {
    return send(line + "\r\n");
}
FakeSmtpServer& FakeSmtpServer::expect(const std::string& line) {
    steps_.push_back({Kind::Expect, line, 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::expectBytes(std::string bytes) {
    steps_.push_back({Kind::ExpectBytes, std::move(bytes), 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::pause(int ms) {
    steps_.push_back({Kind::Pause, {}, ms, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::close() {
    steps_.push_back({Kind::Close, {}, 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::expectClose() {
    steps_.push_back({Kind::ExpectClose, {}, 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::drainUntilClose() {
    steps_.push_back({Kind::Drain, {}, 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::acceptNext() {
    steps_.push_back({Kind::Accept, {}, 0, {}});
    return *this;
}
FakeSmtpServer& FakeSmtpServer::call(std::function<void()> fn) {
    steps_.push_back({Kind::Call, {}, 0, std::move(fn)});
    return *this;
}

void FakeSmtpServer::start() {
    if (thread_.joinable()) throw std::logic_error("fake server already started");
    thread_ = std::thread([this] { run(); });
}

bool FakeSmtpServer::waitDone(int timeoutMs) {
    if (done_) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        bool failed;
        {
            std::lock_guard<std::mutex> lock(mu_);
            failed = !failures_.empty();
        }
        if (done_ || failed) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done_;
}

std::vector<std::string> FakeSmtpServer::failures() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failures_;
}

std::string FakeSmtpServer::received() const {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
}

void FakeSmtpServer::fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(mu_);
    failures_.push_back(why);
}

void FakeSmtpServer::closeClient() {
    if (clientFd_ >= 0) ::close(clientFd_);
    clientFd_ = -1;
    pending_.clear();
    peerClosed_ = false;
}

bool FakeSmtpServer::acceptOne() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) > 0) {
            clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (clientFd_ >= 0) {
                ++connections_;
                return true;
            }
        }
    }
    return false;
}

bool FakeSmtpServer::readMore(int timeoutMs) {
    if (clientFd_ < 0 || peerClosed_) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{clientFd_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0) continue;
        char buf[65536];
        const ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            peerClosed_ = true;
            return false;
        }
        pending_.append(buf, static_cast<std::size_t>(n));
        std::lock_guard<std::mutex> lock(mu_);
        received_.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

void FakeSmtpServer::run() {
    if (!acceptOne()) {
        if (!stop_) fail("no client connected");
        return;
    }
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (stop_) return;
        const Step& s = steps_[i];
        const std::string where = "step " + std::to_string(i + 1) + ": ";
        switch (s.kind) {
        case Kind::Send:
        case Kind::Flood: {
            std::size_t off = 0;
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(stepTimeoutMs_);
            while (off < s.text.size() && !stop_) {
                if (std::chrono::steady_clock::now() > deadline) {
                    fail(where + "the client took only " + std::to_string(off) + " of " +
                         std::to_string(s.text.size()) + " bytes");
                    return;
                }
                pollfd p{clientFd_, POLLOUT, 0};
                if (::poll(&p, 1, kSliceMs) == 0) continue;
                const ssize_t n = ::send(clientFd_, s.text.data() + off, s.text.size() - off,
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (n <= 0 && s.kind == Kind::Flood) {
                    peerClosed_ = true;
                    break;
                }
                if (n <= 0) {
                    fail(where + "cannot send '" + Visible(s.text) + "'");
                    return;
                }
                off += static_cast<std::size_t>(n);
            }
            break;
        }
        case Kind::Expect: {
            std::size_t eol;
            while ((eol = pending_.find('\n')) == std::string::npos) {
                if (!readMore(stepTimeoutMs_)) {
                    fail(where + "expected '" + Visible(s.text) + "', got '" + Visible(pending_) +
                         (peerClosed_ ? "' and then the close" : "' before the time-out"));
                    return;
                }
            }
            const std::string got = pending_.substr(0, eol + 1);
            pending_.erase(0, eol + 1);
            if (got != s.text + "\r\n") {
                fail(where + "expected '" + Visible(s.text + "\r\n") + "', got '" + Visible(got) +
                     "'");
                return;
            }
            break;
        }
        case Kind::ExpectBytes: {
            while (pending_.size() < s.text.size()) {
                if (!readMore(stepTimeoutMs_)) break;
            }
            const std::string got = pending_.substr(0, s.text.size());
            pending_.erase(0, got.size());
            if (got != s.text) {
                std::size_t at = 0;
                while (at < got.size() && got[at] == s.text[at])
                    ++at;
                fail(where + "bytes differ at offset " + std::to_string(at) + " of " +
                     std::to_string(s.text.size()) + ": expected '" +
                     Visible(s.text.substr(at, 80)) + "', got '" + Visible(got.substr(at, 80)) +
                     "'");
                return;
            }
            break;
        }
        case Kind::Pause: {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
            while (!stop_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            break;
        }
        case Kind::Close:
            closeClient();
            break;
        case Kind::ExpectClose:
        case Kind::Drain: {
            while (readMore(stepTimeoutMs_)) {
            }
            if (!peerClosed_) {
                fail(where + "the client did not close the connection");
                return;
            }
            if (s.kind == Kind::ExpectClose && !pending_.empty()) {
                fail(where + "unexpected bytes before the close: '" + Visible(pending_) + "'");
                return;
            }
            closeClient();
            break;
        }
        case Kind::Accept:
            closeClient();
            if (!acceptOne()) {
                fail(where + "no further client connected");
                return;
            }
            break;
        case Kind::Call:
            s.fn();
            break;
        }
    }
    if (!pending_.empty() && strictEnd_) {
        fail("unexpected bytes after the script: '" + Visible(pending_) + "'");
        return;
    }
    done_ = true;
    // Anything the client sends after the last step is a failure too (unless allowed).
    while (!stop_ && clientFd_ >= 0 && !peerClosed_) {
        if (readMore(kSliceMs * 5) && strictEnd_) {
            fail("unexpected bytes after the script: '" + Visible(pending_) + "'");
            return;
        }
    }
}

} // namespace tandrel::test
