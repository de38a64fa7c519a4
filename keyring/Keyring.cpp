// SPDX-License-Identifier: GPL-3.0-or-later
// QtKeychain jobs run to completion in a local event loop, so callers get plain results.
#include "keyring/Keyring.h"

#include <QEventLoop>
#include <qt6keychain/keychain.h>

namespace tandrel {

namespace {

const QString kService = QStringLiteral("Tandrel");

QString AccountKey(const std::string& account) {
    return QString::fromUtf8(account.data(), static_cast<qsizetype>(account.size()));
}

// Starts the job and waits for it; the job must not fall back to a clear-text file.
void RunJob(QKeychain::Job& job) {
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false; // a job that fails at once may finish inside start()
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    job.start();
    if (!finished) loop.exec();
}

class DesktopKeyring : public PasswordKeeper {
public:
    std::optional<std::string> load(const std::string& account) override {
        QKeychain::ReadPasswordJob job(kService);
        job.setKey(AccountKey(account));
        RunJob(job);
        if (job.error() != QKeychain::NoError) return std::nullopt;
        return job.binaryData().toStdString();
    }
    bool store(const std::string& account, const std::string& password) override {
        QKeychain::WritePasswordJob job(kService);
        job.setKey(AccountKey(account));
        job.setBinaryData(QByteArray::fromStdString(password));
        RunJob(job);
        return job.error() == QKeychain::NoError;
    }
    void forget(const std::string& account) override {
        QKeychain::DeletePasswordJob job(kService);
        job.setKey(AccountKey(account));
        RunJob(job);
    }
};

} // namespace

std::unique_ptr<PasswordKeeper> MakeDesktopKeyring() {
    return std::make_unique<DesktopKeyring>();
}

PasswordKeeper& KeyringOf(AppState& st) {
    if (!st.keyring) st.keyring = MakeDesktopKeyring();
    return *st.keyring;
}

} // namespace tandrel
