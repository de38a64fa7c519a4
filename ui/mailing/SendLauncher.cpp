// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Send and Send Test, run by the send commands.
#include "ui/mailing/SendLauncher.h"

#include <QScopedValueRollback>

#include "ui/mailing/DeliveryWindow.h"
#include "keyring/Keyring.h"
#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokenSource.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/TokenLogin.h"

SendLauncher::SendLauncher(MainWindow& main) : main_(main) {
    windows_.parent = &main;
    windows_.preparation = new PreparationWindow(&main);
    windows_.delivery = new DeliveryWindow(&main);
    main.setMailingLauncher(this);
}

SendLauncher::~SendLauncher() {
    main_.setMailingLauncher(nullptr);
}

void SendLauncher::prepareTokens() {
    if (tokens_ || !tandrel::UsesOAuth(main_.state().prefs)) return;
    tandrel::OAuthTokenSource::Options options;
    options.openUrl = tandrel::OpenUrlOnDesktop;
    options.keyring = &tandrel::KeyringOf(main_.state());
    tokens_ = std::make_unique<tandrel::OAuthTokenSource>(std::move(options));
    windows_.tokens = tokens_.get();
}

void SendLauncher::sendMailing() {
    // A sign-in in the browser waits in an event loop with the main window usable: a
    // second Send then must not start a run inside the first.
    if (running_) return;
    const QScopedValueRollback<bool> running(running_, true);
    prepareTokens();
    tandrel::RunMailing(windows_, main_.state(), main_.recipientRows(), main_.editorTexts(),
                        main_.previewShown());
}

void SendLauncher::sendTestMail(const tandrel::Person& person) {
    if (running_) return;
    const QScopedValueRollback<bool> running(running_, true);
    prepareTokens();
    tandrel::RunTestMail(windows_, main_.state(), main_.editorTexts(), main_.previewShown(),
                         person);
}
