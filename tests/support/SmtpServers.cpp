// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/SmtpServers.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace tandrel::test {

namespace fs = std::filesystem;

namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kSmtpSink = "/usr/sbin/smtp-sink";

void StopProcess(QProcess* p) {
    if (!p || p->state() == QProcess::NotRunning) return;
    p->terminate();
    if (!p->waitForFinished(3000)) {
        p->kill();
        p->waitForFinished(3000);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        out.push_back(text.substr(pos, eol - pos));
        pos = eol + 1;
    }
    return out;
}

} // namespace

bool CanConnectToLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::uint16_t StartPythonServer(QProcess& proc, const QStringList& scriptAndArguments) {
    proc.setProgram(QString::fromLocal8Bit(kPython));
    proc.setArguments(scriptAndArguments);
    proc.start();
    if (!proc.waitForStarted(10000)) throw std::runtime_error("cannot start /usr/bin/python3");
    // The script prints the port once it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    QByteArray out;
    while (!out.contains('\n') && std::chrono::steady_clock::now() < deadline &&
           proc.state() != QProcess::NotRunning) {
        proc.waitForReadyRead(100);
        out += proc.readAllStandardOutput();
    }
    bool ok = false;
    const int port = out.trimmed().toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        const std::string err = proc.readAllStandardError().toStdString();
        StopProcess(&proc);
        throw std::runtime_error(scriptAndArguments.value(0).toStdString() +
                                 " did not start: " + err);
    }
    return static_cast<std::uint16_t>(port);
}

void StopServerProcess(QProcess* proc) {
    StopProcess(proc);
}

std::uint16_t UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot find a free port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

// ---------------------------------------------------------------------------------------

namespace {

// Runs the openssl tool in `dir`; throws with its messages when it fails.
void OpenSsl(const std::string& dir, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw std::runtime_error("openssl " + args.join(' ').toStdString() +
                                 " failed: " + p.readAll().toStdString());
}

// A fixed configuration, so that nothing depends on the system's openssl.cnf.
const char* const kOpenSslConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[local]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
[wrong]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong.test
)";

// A fresh P-256 key, with the fixed configuration.
QStringList NewKeyArguments() {
    return {"-newkey", "ec",      "-pkeyopt",   "ec_paramgen_curve:prime256v1",
            "-nodes",  "-config", "openssl.cnf"};
}

} // namespace

TestCertificates::TestCertificates() : dir_(std::make_unique<TempDir>()) {
    const std::string& d = dir_->path();
    WriteFileBytes(dir_->file("openssl.cnf"), kOpenSslConfig);
    const QStringList ec = NewKeyArguments();
    // Self-signed: the authority, and an identity nobody trusts.
    const auto selfSigned = [&](const QString& name, const QString& cn, const QString& ext) {
        OpenSsl(d, QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=" + cn, "-extensions",
                               ext, "-keyout", name + ".key", "-out", name + ".pem"} +
                       ec);
    };
    selfSigned("ca", "Tandrel test authority", "ca");
    selfSigned("self", "localhost", "local");
    signedByCa("server", "localhost", "openssl.cnf", "local");
    signedByCa("wrong", "wrong.test", "openssl.cnf", "wrong");
    caFile_ = dir_->file("ca.pem");
    trusted_ = {dir_->file("server.pem"), dir_->file("server.key")};
    wrongName_ = {dir_->file("wrong.pem"), dir_->file("wrong.key")};
    selfSigned_ = {dir_->file("self.pem"), dir_->file("self.key")};
}

TestCertificates::~TestCertificates() = default;

void TestCertificates::signedByCa(const std::string& name, const std::string& commonName,
                                  const std::string& extFile, const std::string& section) {
    const QString n = QString::fromStdString(name);
    OpenSsl(dir_->path(),
            QStringList{"req", "-new", "-subj", QString::fromStdString("/CN=" + commonName),
                        "-keyout", n + ".key", "-out", n + ".csr"} +
                NewKeyArguments());
    OpenSsl(dir_->path(),
            {"x509", "-req", "-in", n + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-days", "2", "-extfile", QString::fromStdString(extFile),
             "-extensions", QString::fromStdString(section), "-out", n + ".pem"});
}

TestCertificates::Identity TestCertificates::issue(const std::string& name,
                                                   const std::string& commonName,
                                                   const std::string& altNames) {
    std::string ext = "[ext]\nbasicConstraints = CA:FALSE\n"
                      "keyUsage = critical, digitalSignature, keyEncipherment\n"
                      "extendedKeyUsage = serverAuth\n";
    if (!altNames.empty()) ext += "subjectAltName = " + altNames + "\n";
    WriteFileBytes(dir_->file(name + ".cnf"), ext);
    signedByCa(name, commonName, name + ".cnf", "ext");
    return {dir_->file(name + ".pem"), dir_->file(name + ".key")};
}

// ---------------------------------------------------------------------------------------

AiosmtpdServer::AiosmtpdServer() : AiosmtpdServer(AiosmtpdOptions{}) {}

AiosmtpdServer::AiosmtpdServer(const AiosmtpdOptions& o) : dir_(std::make_unique<TempDir>()) {
    storeDir_ = dir_->file("store");
    fs::create_directory(storeDir_);
    QStringList args{
        QString::fromLocal8Bit(TANDREL_SOURCE_DIR "/tests/support/smtp_store_server.py"),
        QString::fromLocal8Bit(storeDir_.c_str())};
    const auto add = [&args](const char* option, const std::string& value) {
        args << QString::fromLatin1(option) << QString::fromStdString(value);
    };
    if (o.tls != AiosmtpdOptions::Tls::None) {
        add("--cert", o.identity.certFile);
        add("--key", o.identity.keyFile);
        args << (o.tls == AiosmtpdOptions::Tls::Implicit ? "--tls" : "--starttls");
    }
    if (o.requireStartTls) args << "--require-starttls";
    if (!o.user.empty()) {
        add("--user", o.user);
        add("--password", o.password);
        if (o.authRequired) args << "--auth-required";
        if (o.authWithoutTls) args << "--auth-plaintext";
    }
    for (const auto& r : o.refused)
        add("--refuse", r);
    if (o.sizeLimit > 0) add("--size-limit", std::to_string(o.sizeLimit));
    if (o.pipelining) args << "--pipelining";
    if (o.dropConnection > 0) add("--drop-connection", std::to_string(o.dropConnection));
    for (int n : o.dropAtMail)
        add("--drop-at-mail", std::to_string(n));
    if (!o.oauthTokensFile.empty()) {
        add("--oauth-tokens", o.oauthTokensFile);
        if (o.oauthOnly) args << "--oauth-only";
        if (o.withoutOAuthBearer) args << "--no-oauthbearer";
    }
    proc_ = std::make_unique<QProcess>();
    port_ = StartPythonServer(*proc_, args);
}

AiosmtpdServer::~AiosmtpdServer() {
    StopProcess(proc_.get());
}

std::vector<StoredMessage> AiosmtpdServer::messages() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(storeDir_, ec))
        if (e.path().extension() == ".eml") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    std::vector<StoredMessage> out;
    for (const auto& n : names) {
        StoredMessage m;
        for (const auto& line : Lines(ReadFileBytes(storeDir_ + "/" + n + ".env"))) {
            if (line.rfind("MAIL FROM:", 0) == 0) m.mailFrom = line.substr(10);
            if (line.rfind("RCPT TO:", 0) == 0) m.rcptTo.push_back(line.substr(8));
            if (line == "TLS:yes") m.encrypted = true;
            if (line.rfind("AUTH:", 0) == 0) m.login = line.substr(5);
            if (line.rfind("CONN:", 0) == 0) m.connection = std::stoi(line.substr(5));
        }
        m.data = ReadFileBytes(storeDir_ + "/" + n + ".eml");
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<std::string> AiosmtpdServer::authLog() const {
    return Lines(ReadFileBytes(storeDir_ + "/auth.log"));
}

bool AiosmtpdServer::waitForMessages(std::size_t count, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (messages().size() >= count) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// ---------------------------------------------------------------------------------------

SmtpSinkServer::SmtpSinkServer(std::vector<std::string> extraArgs, bool dump)
    : dir_(std::make_unique<TempDir>()) {
    const bool root = ::geteuid() == 0;
    QStringList args;
    if (root)
        args << "-u"
             << "nobody";
    if (dump) {
        dumpDir_ = dir_->file("dump");
        fs::create_directory(dumpDir_);
        // smtp-sink writes as "nobody" when started by root.
        fs::permissions(dir_->path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
        fs::permissions(dumpDir_, fs::perms::all);
        args << "-d" << QString::fromLocal8Bit((dumpDir_ + "/%Y%m%d%H%M%S.").c_str());
    }
    for (const auto& a : extraArgs)
        args << QString::fromLocal8Bit(a.c_str());

    std::string lastError;
    // The port is chosen before smtp-sink binds it; if someone else takes it first,
    // smtp-sink exits and the next attempt uses another port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::uint16_t port = UnusedLoopbackPort();
        proc_ = std::make_unique<QProcess>();
        proc_->setProgram(QString::fromLocal8Bit(kSmtpSink));
        proc_->setArguments(QStringList(args)
                            << QStringLiteral("127.0.0.1:%1").arg(port) << QStringLiteral("64"));
        proc_->start();
        if (!proc_->waitForStarted(10000)) throw std::runtime_error("cannot start smtp-sink");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            // Connecting once is the readiness probe; smtp-sink sees it as a short session.
            if (CanConnectToLoopback(port)) {
                port_ = port;
                return;
            }
            if (proc_->waitForFinished(20)) break;
        }
        lastError = proc_->readAllStandardError().toStdString();
        StopProcess(proc_.get());
    }
    throw std::runtime_error("smtp-sink did not start: " + lastError);
}

SmtpSinkServer::~SmtpSinkServer() {
    StopProcess(proc_.get());
}

bool SmtpSinkServer::running() const {
    return proc_ && proc_->state() == QProcess::Running;
}

std::vector<std::string> SmtpSinkServer::dumpedMessages() const {
    std::vector<std::string> names;
    std::error_code ec;
    if (!dumpDir_.empty())
        for (const auto& e : fs::directory_iterator(dumpDir_, ec))
            names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> out;
    for (const auto& n : names)
        out.push_back(ReadFileBytes(n));
    return out;
}

} // namespace tandrel::test
