// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/TokenCommand.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <unistd.h>

#include "oauth/ChildEnvironment.h"
#include "oauth/TokenEndpoint.h"
#include "model/VisibleText.h"

namespace tandrel {

namespace {

// What the user sees of the command's standard error: its text, trimmed, not endless,
// its lines kept and its control characters written out.
std::string ErrorOutput(const QByteArray& bytes) {
    constexpr qsizetype kShown = 2000;
    QByteArray text = bytes.trimmed();
    if (text.size() > kShown) text = text.left(kShown) + "...";
    return text.isEmpty() ? std::string() : ": " + VisibleLines(text.toStdString());
}

std::string DurationText(std::chrono::milliseconds d) {
    if (d.count() % 1000 == 0) return std::to_string(d.count() / 1000) + " seconds";
    return std::to_string(d.count()) + " milliseconds";
}

std::string FirstLine(const QByteArray& output) {
    const qsizetype eol = output.indexOf('\n');
    return (eol < 0 ? output : output.left(eol)).trimmed().toStdString();
}

} // namespace

TokenCommand::TokenCommand(QObject* parent) : QObject(parent) {}

TokenCommand::~TokenCommand() {
    done_ = nullptr;
    if (process_) {
        process_->disconnect(this);
        killGroup();
        process_.reset();
    }
}

void TokenCommand::start(const std::string& commandLine, std::chrono::milliseconds limit,
                         std::function<void(TokenCommandResult)> done) {
    cancel();
    done_ = std::move(done);
    limit_ = limit;
    process_ = std::make_unique<QProcess>();
    // Its own process group, so that a time-out ends the pipelines and helpers the shell
    // started as well, not the shell alone.
    process_->setChildProcessModifier([] { ::setpgid(0, 0); });
    process_->setProcessEnvironment(EnvironmentWithoutSecrets());
    connect(process_.get(), &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) {
                onFinished(exitCode, status == QProcess::CrashExit);
            });
    connect(process_.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finish({"", "the token command could not be started: " +
                            process_->errorString().toStdString()});
    });
    // A token is a line; a command that pours out output without end must not fill the
    // memory until the time-out.
    const auto checkSize = [this] {
        constexpr qint64 kMaxOutput = 1024 * 1024;
        if (process_->bytesAvailable() <= kMaxOutput) return;
        process_->disconnect(this);
        killGroup();
        finish({"", "the token command printed more than 1 MiB"});
    };
    connect(process_.get(), &QProcess::readyReadStandardOutput, this, checkSize);
    connect(process_.get(), &QProcess::readyReadStandardError, this, [this, checkSize] {
        process_->setReadChannel(QProcess::StandardError);
        checkSize();
        if (process_) process_->setReadChannel(QProcess::StandardOutput);
    });
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        // Its end is this outcome, not a crash.
        process_->disconnect(this);
        killGroup();
        const QByteArray err = process_->readAllStandardError();
        finish({"", "the token command did not finish within " + DurationText(limit_) +
                        ErrorOutput(err)});
    });
    process_->start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QString::fromLocal8Bit(commandLine.c_str())});
    // Nothing to read on standard input: a command that asks gets end of file at once.
    process_->closeWriteChannel();
    timer_->start(limit);
}

void TokenCommand::onFinished(int exitCode, bool crashed) {
    if (!process_) return;
    const QByteArray err = process_->readAllStandardError();
    if (crashed || exitCode != 0) {
        finish(
            {"", (crashed ? std::string("the token command crashed")
                          : "the token command failed with exit code " + std::to_string(exitCode)) +
                     ErrorOutput(err)});
        return;
    }
    const std::string token = FirstLine(process_->readAllStandardOutput());
    if (!IsUsableAccessToken(token)) {
        finish({"", std::string(token.empty() ? "the token command printed no token"
                                              : "the token command printed no usable token") +
                        ErrorOutput(err)});
        return;
    }
    finish({token, ""});
}

void TokenCommand::killGroup() {
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    const qint64 pid = process_->processId();
    if (pid > 0) ::kill(-static_cast<pid_t>(pid), SIGKILL);
    process_->kill();
    process_->waitForFinished(3000);
}

void TokenCommand::finish(TokenCommandResult result) {
    if (timer_) {
        timer_->stop();
        timer_->deleteLater();
        timer_ = nullptr;
    }
    if (process_) {
        process_->disconnect(this);
        killGroup();
        process_.release()->deleteLater();
    }
    if (auto done = std::exchange(done_, nullptr)) done(std::move(result));
}

void TokenCommand::cancel() {
    if (!done_ && !process_) return;
    done_ = nullptr;
    finish({"", "cancelled"});
}

} // namespace tandrel
