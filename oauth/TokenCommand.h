// SPDX-License-Identifier: GPL-3.0-or-later
// The token command: a command line of the user's, run with /bin/sh -c, whose first line
// of standard output is the access token. Helpers that already keep a login's tokens
// fit here.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QProcess;
class QTimer;

namespace tandrel {

struct TokenCommandResult {
    std::string accessToken; // valid when error is ""
    std::string error;       // for the user, with the command's standard error
};

// One run of the command. Destroying the object ends a run still going.
class TokenCommand : public QObject {
    Q_OBJECT
public:
    explicit TokenCommand(QObject* parent = nullptr);
    ~TokenCommand() override;

    // Starts `commandLine`; `done` is called once, also when the command does not finish
    // within `limit` (it is then killed with everything it started).
    void start(const std::string& commandLine, std::chrono::milliseconds limit,
               std::function<void(TokenCommandResult)> done);
    void cancel();

private:
    void finish(TokenCommandResult result);
    void onFinished(int exitCode, bool crashed);
    void killGroup();

    std::unique_ptr<QProcess> process_;
    QTimer* timer_ = nullptr;
    std::function<void(TokenCommandResult)> done_;
    std::chrono::milliseconds limit_{0};
};

} // namespace tandrel
