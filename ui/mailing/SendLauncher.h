// SPDX-License-Identifier: GPL-3.0-or-later
// Connects the main window's Send and Send Test to the mailing run with its two windows.
#pragma once

#include <memory>

#include "ui/main/MainWindow.h"
#include "ui/mailing/SendCommand.h"

class SendLauncher : public MailingLauncher {
public:
    // Makes the preparation and delivery windows, children of `main`, and becomes its
    // mailing launcher.
    explicit SendLauncher(MainWindow& main);
    ~SendLauncher() override;
    SendLauncher(const SendLauncher&) = delete;
    SendLauncher& operator=(const SendLauncher&) = delete;

    DeliveryWindow* deliveryWindow() const { return windows_.delivery; }
    PreparationWindow* preparationWindow() const { return windows_.preparation; }

    void sendMailing() override;
    void sendTestMail(const tandrel::Person& person) override;

private:
    // The session's token source, made with the first run that logs in with a token.
    void prepareTokens();

    MainWindow& main_;
    tandrel::SendWindows windows_;
    std::unique_ptr<tandrel::OAuthTokenSource> tokens_;
    bool running_ = false; // a run (or its sign-in) is under way
};
