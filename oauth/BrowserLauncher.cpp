// SPDX-License-Identifier: GPL-3.0-or-later
#include "oauth/BrowserLauncher.h"

#include <QProcess>
#include <QStringList>

#include "oauth/ChildEnvironment.h"

namespace tandrel {

namespace {

// The address is always one argument of its own, never text for a shell.
bool StartDetached(const QString& commandLine, const QString& address) {
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty()) return false;
    bool placed = false;
    for (QString& word : words) {
        if (word.contains(QLatin1String("%s"))) {
            word.replace(QLatin1String("%s"), address);
            placed = true;
        }
    }
    if (!placed) words << address;
    QProcess browser;
    browser.setProgram(words.takeFirst());
    browser.setArguments(words);
    browser.setProcessEnvironment(EnvironmentWithoutSecrets());
    return browser.startDetached();
}

} // namespace

bool OpenUrlInBrowser(const QUrl& address) {
    const QString text = address.toString(QUrl::FullyEncoded);
    const QString browsers = qEnvironmentVariable("BROWSER");
    for (const QString& command : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (StartDetached(command, text)) return true;
    return StartDetached(QStringLiteral("xdg-open"), text);
}

} // namespace tandrel
