// SPDX-License-Identifier: GPL-3.0-or-later
#include "imap/MailboxClient.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <curl/curl.h>
#include <thread>

namespace tandrel::imap {

namespace {

constexpr int kMostConnections = 4;
// The longest a worker sleeps between looks at its stop flag when nothing wakes it.
constexpr int kPollMilliseconds = 1000;

void InitLibraryOnce() {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == 0; }();
    static_cast<void>(initialised);
}

bool ValidHost(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-';
    });
}

// Why these bytes cannot go as one literal of a message ("" when they can).
std::string MessageFault(const std::string& bytes) {
    if (bytes.empty()) return "The message is empty.";
    if (bytes.find('\0') != std::string::npos) return "The message holds a NUL byte.";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool crAlone = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
        const bool lfAlone = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
        if (crAlone || lfAlone) return "The message has a line that does not end in CR LF.";
    }
    return {};
}

// One connection's transfers: the handle and what its callbacks gather.
struct Transfer {
    CURL* easy = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    std::string serverLine; // the last tagged line the server sent
    std::string body;       // the untagged answers of a LIST
    const std::string* upload = nullptr;
    std::size_t offset = 0; // bytes of `upload` handed to libcurl so far
    std::size_t index = 0;

    Transfer() : easy(curl_easy_init()) {}
    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    void reset() {
        error[0] = '\0';
        serverLine.clear();
        body.clear();
        offset = 0;
    }
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = std::min(size * count, t->upload->size() - t->offset);
    std::copy_n(t->upload->data() + t->offset, n, buffer);
    t->offset += n;
    return n;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<Transfer*>(user)->body.append(data, size * count);
    return size * count;
}

// Keeps the server's last refusal: a tagged NO or BAD, or an untagged BYE.
int WatchServer(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN || size == 0) return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) return 0;
    const std::string words = line.substr(space + 1); // the tag goes
    const auto starts = [&](const char* status) { return words.rfind(status, 0) == 0; };
    const bool refusal = line[0] == '*' ? starts("BYE ") : (starts("NO ") || starts("BAD "));
    if (refusal && line[0] != '+') static_cast<Transfer*>(user)->serverLine = words;
    return 0;
}

std::string FailureText(CURLcode code, const Transfer& t) {
    std::string text = t.error[0] ? std::string(t.error) : std::string(curl_easy_strerror(code));
    if (!t.serverLine.empty()) text += " (the server said: " + t.serverLine + ")";
    return text;
}

struct Setup {
    MailboxConfig config;
    std::string url;    // imap[s]://host:port/folder
    std::string caFile; // SSL_CERT_FILE, trusted besides the system's authorities
};

void Configure(Transfer& t, const Setup& s) {
    CURL* e = t.easy;
    const MailboxConfig& c = s.config;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_URL, s.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    curl_easy_setopt(e, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!s.caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, s.caFile.c_str());
    curl_easy_setopt(e, CURLOPT_USERNAME, c.user.c_str());
    if (c.bearerToken.empty()) {
        curl_easy_setopt(e, CURLOPT_PASSWORD, c.password.c_str());
    } else {
        curl_easy_setopt(e, CURLOPT_XOAUTH2_BEARER, c.bearerToken.c_str());
        curl_easy_setopt(e, CURLOPT_LOGIN_OPTIONS,
                         c.bearerMechanism == BearerMechanism::XOAuth2 ? "AUTH=XOAUTH2"
                                                                       : "AUTH=OAUTHBEARER");
    }
    curl_easy_setopt(e, CURLOPT_SASL_IR, 1L);
    const long seconds = std::max(1, c.timeoutSeconds);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, seconds);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, seconds);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.error);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, WatchServer);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, &t);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
}

} // namespace

// The worker thread of one request, and the multi handle it drives: the handle is made
// and freed on the client's thread, which alone may wake the worker through it.
struct MailboxClient::Worker {
    std::thread thread;
    std::atomic<bool> stop{false};
    CURLM* multi = curl_multi_init();

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() {
        stop = true;
        curl_multi_wakeup(multi);
        if (thread.joinable()) thread.join();
        curl_multi_cleanup(multi);
    }

    // Runs the transfers in the multi handle until none is left or the stop flag is set;
    // `done(transfer, code)` is told of each that ends, after it left the handle, and
    // may add one again.
    template <class Done> void drive(int& active, Done done) {
        while (!stop && active > 0) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
                if (m->msg != CURLMSG_DONE) continue;
                CURL* easy = m->easy_handle;
                const CURLcode code = m->data.result;
                curl_multi_remove_handle(multi, easy);
                --active;
                Transfer* t = nullptr;
                curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t);
                done(*t, code);
            }
            if (!stop && active > 0) curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
        }
    }
    void add(Transfer& t, int& active) {
        curl_easy_setopt(t.easy, CURLOPT_PRIVATE, &t);
        curl_multi_add_handle(multi, t.easy);
        ++active;
    }
};

MailboxClient::MailboxClient(MailboxConfig config)
    : config_(std::move(config)), context_(std::make_unique<QObject>()) {
    InitLibraryOnce();
}

MailboxClient::~MailboxClient() {
    cancel();
    context_.reset(); // answers still queued for it are dropped with it
}

void MailboxClient::cancel() {
    worker_.reset();
    ++epoch_;
    request_ = 0;
    state_ = MailboxState::Idle;
    listDone_ = nullptr;
    report_ = nullptr;
    appendDone_ = nullptr;
}

std::string MailboxClient::refusal(const std::string* folder) const {
    if (state_ != MailboxState::Idle) return "The mailbox is busy with another request.";
    if (config_.security == Security::None)
        return "The mailbox is only logged into over an encrypted connection (TLS or "
               "STARTTLS).";
    if (!ValidHost(config_.host)) return "The mailbox's host name is not valid.";
    if (!FitsOnOneLine(config_.user) || config_.user.empty())
        return "The user name for the mailbox is empty or holds a line break.";
    if (!FitsOnOneLine(config_.password) || !FitsOnOneLine(config_.bearerToken))
        return "The password or token for the mailbox holds a line break.";
    if (folder && !EncodeFolderName(*folder))
        return "The folder name is empty, holds a line break or is not valid UTF-8.";
    return {};
}

void MailboxClient::postRefusal(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        context_.get(),
        [this, epoch = epoch_, fn = std::move(fn)] {
            if (epoch == epoch_) fn();
        },
        Qt::QueuedConnection);
}

std::function<void(std::function<void()>)> MailboxClient::answerPoster() {
    // Called on the worker thread: the context lives until the worker is joined.
    return [this, context = context_.get(), request = request_](std::function<void()> fn) {
        QMetaObject::invokeMethod(
            context,
            [this, request, fn = std::move(fn)] {
                if (request == request_) fn();
            },
            Qt::QueuedConnection);
    };
}

void MailboxClient::finish() {
    worker_.reset(); // it has posted its last answer: the join is short
    request_ = 0;
    state_ = MailboxState::Idle;
}

namespace {

std::string BaseUrl(const MailboxConfig& c) {
    return std::string(c.security == Security::Tls ? "imaps://" : "imap://") + c.host + ":" +
           std::to_string(c.port) + "/";
}

std::string TrustedFile() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file ? file : "";
}

} // namespace

void MailboxClient::listFolders(std::function<void(const FolderListing&)> done) {
    if (const std::string why = refusal(nullptr); !why.empty()) {
        postRefusal([done = std::move(done), why] { done(FolderListing{{}, why}); });
        return;
    }
    state_ = MailboxState::Listing;
    request_ = ++requests_;
    listDone_ = std::move(done);
    worker_ = std::make_unique<Worker>();
    Setup setup{config_, BaseUrl(config_), TrustedFile()};
    worker_->thread = std::thread([w = worker_.get(), post = answerPoster(), this,
                                   setup = std::move(setup)] {
        Transfer t;
        Configure(t, setup);
        // LIST-EXTENDED asks for the special-use marks; a server without it may still
        // send them with a plain LIST.
        const char* const commands[] = {"LIST \"\" \"*\" RETURN (SPECIAL-USE)", "LIST \"\" \"*\""};
        std::size_t tried = 0;
        curl_easy_setopt(t.easy, CURLOPT_CUSTOMREQUEST, commands[tried]);
        curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, WriteBody);
        curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t);
        FolderListing listing;
        int active = 0;
        w->add(t, active);
        w->drive(active, [&](Transfer& answered, CURLcode code) {
            if (code == CURLE_QUOTE_ERROR && ++tried < std::size(commands)) {
                answered.reset();
                curl_easy_setopt(answered.easy, CURLOPT_CUSTOMREQUEST, commands[tried]);
                w->add(answered, active);
                return;
            }
            if (code == CURLE_OK)
                listing.folders = ParseFolderList(answered.body);
            else
                listing.error = FailureText(code, answered);
        });
        if (w->stop) return;
        post([this, listing = std::move(listing)] {
            auto callback = std::move(listDone_);
            finish();
            callback(listing);
        });
    });
}

void MailboxClient::appendMessages(const std::string& folder, std::vector<std::string> messages,
                                   std::function<void(const AppendReport&)> report,
                                   std::function<void(const AppendEnd&)> done) {
    if (const std::string why = refusal(&folder); !why.empty()) {
        postRefusal([done = std::move(done), why] { done(AppendEnd{0, why}); });
        return;
    }
    state_ = MailboxState::Appending;
    request_ = ++requests_;
    report_ = std::move(report);
    appendDone_ = std::move(done);
    worker_ = std::make_unique<Worker>();
    const QByteArray path =
        QByteArray::fromStdString(*EncodeFolderName(folder)).toPercentEncoding();
    Setup setup{config_, BaseUrl(config_) + path.toStdString(), TrustedFile()};
    const std::size_t connections =
        static_cast<std::size_t>(std::clamp(config_.connections, 1, kMostConnections));
    worker_->thread = std::thread([w = worker_.get(), post = answerPoster(), this, connections,
                                   setup = std::move(setup), messages = std::move(messages)] {
        const auto tell = [&](AppendReport r) {
            post([this, r = std::move(r)] {
                // A copy: the callback may cancel(), which lets go of report_.
                if (auto callback = report_) callback(r);
            });
        };
        AppendEnd end;
        std::size_t next = 0;
        // Hands the next message that can be sent to `t`; false when none is left.
        const auto take = [&](Transfer& t, int& active) {
            while (next < messages.size() && end.error.empty()) {
                const std::size_t index = next++;
                if (const std::string fault = MessageFault(messages[index]); !fault.empty()) {
                    tell({index, AppendOutcome::Refused, fault});
                    continue;
                }
                t.reset();
                t.upload = &messages[index];
                t.index = index;
                curl_easy_setopt(t.easy, CURLOPT_INFILESIZE_LARGE,
                                 static_cast<curl_off_t>(messages[index].size()));
                w->add(t, active);
                return true;
            }
            return false;
        };
        std::vector<std::unique_ptr<Transfer>> transfers;
        int active = 0;
        for (std::size_t i = 0; i < std::min(connections, messages.size()); ++i) {
            auto t = std::make_unique<Transfer>();
            Configure(*t, setup);
            curl_easy_setopt(t->easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(t->easy, CURLOPT_READFUNCTION, ReadUpload);
            curl_easy_setopt(t->easy, CURLOPT_READDATA, t.get());
            if (!take(*t, active)) break;
            transfers.push_back(std::move(t));
        }
        w->drive(active, [&](Transfer& t, CURLcode code) {
            if (code == CURLE_OK) {
                ++end.stored;
                tell({t.index, AppendOutcome::Stored, {}});
            } else if (code == CURLE_UPLOAD_FAILED) {
                tell({t.index, AppendOutcome::Refused, FailureText(code, t)});
            } else {
                // The connection or the login failed: the other messages would meet the
                // same, so none is tried after this one.
                const std::string why = FailureText(code, t);
                tell({t.index, t.offset > 0 ? AppendOutcome::Failed : AppendOutcome::NotAttempted,
                      why});
                if (end.error.empty()) end.error = why;
                return;
            }
            take(t, active);
        });
        if (w->stop) return;
        for (; next < messages.size(); ++next)
            tell({next, AppendOutcome::NotAttempted, end.error});
        post([this, end] {
            auto callback = std::move(appendDone_);
            finish();
            callback(end);
        });
    });
}

} // namespace tandrel::imap
