// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/DovecotServer.h"

#include <QProcess>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace tandrel::test {

namespace fs = std::filesystem;

namespace {

const char* const kDovecot = "/usr/sbin/dovecot";

bool Alive(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The accounts the server's processes run as: as root, "nobody" (Dovecot refuses to
// run its login processes as root); otherwise the user running the tests.
struct Accounts {
    std::string user, group;
};

Accounts ServerAccounts() {
    const passwd* pw = ::geteuid() == 0 ? ::getpwnam("nobody") : ::getpwuid(::geteuid());
    if (!pw) throw std::runtime_error("no account to run dovecot as");
    const group* gr = ::getgrgid(pw->pw_gid);
    return {pw->pw_name, gr ? gr->gr_name : std::to_string(pw->pw_gid)};
}

// The whole configuration: nothing of the system's is included.
const char* const kConfig = R"(base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = @DIR@/dovecot.log
protocols = imap
listen = 127.0.0.1
default_internal_user = @USER@
default_internal_group = @GROUP@
default_login_user = @USER@
ssl = yes
ssl_cert = <@DIR@/server.pem
ssl_key = <@DIR@/server.key
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain login xoauth2 oauthbearer
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN @DIR@/passwd
}
userdb {
  driver = static
  args = uid=@USER@ gid=@GROUP@ home=@DIR@/mail/%u
}
mail_location = maildir:@DIR@/mail/%u/Maildir
first_valid_uid = 1
namespace inbox {
  inbox = yes
  separator = /
@FOLDERS@}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = @STARTTLS_PORT@
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = @TLS_PORT@
    ssl = yes
  }
}
service stats {
  unix_listener stats-reader {
    mode = 0600
  }
  unix_listener stats-writer {
    mode = 0600
  }
}
)";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string Config(const std::string& dir, const DovecotOptions& o, const Accounts& a,
                   std::uint16_t startTlsPort, std::uint16_t tlsPort) {
    std::string folders;
    if (!o.sentFolder.empty())
        folders += "  mailbox \"" + o.sentFolder +
                   "\" {\n    special_use = \\Sent\n"
                   "    auto = create\n  }\n";
    for (const std::string& f : o.otherFolders)
        folders += "  mailbox \"" + f + "\" {\n    auto = create\n  }\n";
    std::string config = kConfig;
    ReplaceAll(config, "@FOLDERS@", folders);
    ReplaceAll(config, "@DIR@", dir);
    ReplaceAll(config, "@USER@", a.user);
    ReplaceAll(config, "@GROUP@", a.group);
    ReplaceAll(config, "@STARTTLS_PORT@", std::to_string(startTlsPort));
    ReplaceAll(config, "@TLS_PORT@", std::to_string(tlsPort));
    return config;
}

} // namespace

std::string DovecotServer::MissingReason() {
    if (!fs::exists(kDovecot)) return "dovecot is not installed (scripts/deps.sh installs it)";
    if (!fs::exists("/usr/lib/dovecot/imap"))
        return "dovecot-imapd is not installed (scripts/deps.sh installs it)";
    return {};
}

DovecotServer::DovecotServer(const DovecotOptions& options) : dir_(std::make_unique<TempDir>()) {
    const std::string& d = dir_->path();
    const Accounts accounts = ServerAccounts();
    // The server's own accounts read the users and write the mail here.
    fs::permissions(d, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
    fs::create_directory(d + "/mail");
    fs::permissions(d + "/mail", fs::perms::all);
    WriteFileBytes(d + "/server.pem", ReadFileBytes(options.identity.certFile));
    WriteFileBytes(d + "/server.key", ReadFileBytes(options.identity.keyFile));
    WriteFileBytes(d + "/passwd", options.user + ":{PLAIN}" + options.password + "::::::\n");
    std::string lastLog;
    // The ports are chosen before the server binds them; if another process takes one
    // first, the server does not start and the next attempt takes others.
    for (int attempt = 0; attempt < 3; ++attempt) {
        startTlsPort_ = UnusedLoopbackPort();
        tlsPort_ = UnusedLoopbackPort();
        if (startTlsPort_ == tlsPort_) continue;
        WriteFileBytes(d + "/dovecot.conf", Config(d, options, accounts, startTlsPort_, tlsPort_));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QString::fromLocal8Bit(kDovecot),
                {QStringLiteral("-c"), QString::fromStdString(d + "/dovecot.conf")});
        if (!p.waitForFinished(20000) || p.exitCode() != 0) {
            lastLog = p.readAll().toStdString() + log();
            continue;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string pid = ReadFileBytes(d + "/run/master.pid");
            if (!pid.empty()) masterPid_ = std::stoi(pid);
            if (masterPid_ && !Alive(masterPid_)) break;
            if (masterPid_ && CanConnectToLoopback(startTlsPort_) && CanConnectToLoopback(tlsPort_))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        lastLog = log();
        stop();
    }
    throw std::runtime_error("dovecot did not start: " + lastLog);
}

DovecotServer::~DovecotServer() {
    stop();
}

void DovecotServer::stop() {
    if (!Alive(masterPid_)) return;
    ::kill(masterPid_, SIGTERM);
    // The master takes its own processes with it; it is gone once it no longer answers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Alive(masterPid_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Alive(masterPid_)) ::kill(masterPid_, SIGKILL);
    masterPid_ = 0;
}

std::string DovecotServer::log() const {
    return ReadFileBytes(dir_->file("dovecot.log"));
}

} // namespace tandrel::test
