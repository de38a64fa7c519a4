// SPDX-License-Identifier: GPL-3.0-or-later
// The program (or a tool) run as a child process, the way a script or the desktop runs it.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <functional>
#include <string>

namespace tandrel::test {

struct Outcome {
    int status = -1; // -1: did not finish in time; -2: crashed or was killed
    std::string out, err;
};

// `whileRunning`, when given, is called once the child has started.
inline Outcome RunChild(const QString& program, const QStringList& args,
                        const QProcessEnvironment& env, const QString& workingDirectory = {},
                        const std::function<void(QProcess&)>& whileRunning = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty()) p.setWorkingDirectory(workingDirectory);
    p.start(program, args);
    if (whileRunning && p.waitForStarted(30000)) whileRunning(p);
    Outcome o;
    if (!p.waitForFinished(120000)) return o;
    o.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    o.out = p.readAllStandardOutput().toStdString();
    o.err = p.readAllStandardError().toStdString();
    return o;
}

} // namespace tandrel::test
