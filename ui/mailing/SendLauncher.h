// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Send and "Send Test to Me": the mailing run with the windows as its
// front end (the check, the login, the preparation and delivery windows, and the error
// boxes after the clean-up).
#pragma once

#include <QUrl>
#include <memory>
#include <string>
#include <vector>

#include "mailing/MailingRun.h"
#include "model/AppState.h"
#include "ui/main/MainWindow.h"

class QWidget;

namespace tandrel {

class DeliveryWindow;
class OAuthTokenSource;
class PreparationWindow;

// The windows a run shows, and the window its questions and error boxes belong to.
struct SendWindows {
    QWidget* parent = nullptr;
    PreparationWindow* preparation = nullptr;
    DeliveryWindow* delivery = nullptr;
    // The session's bearer tokens, for a login with auth=oauth2; null otherwise.
    OAuthTokenSource* tokens = nullptr;
    // How long the preparation window may paint before the preparation holds the loop.
    int settleMs = 250;
};

// Starts `run` with the windows as its front end and returns once it has ended and the
// delivery window (when it came up) was closed; the check's window and the password
// question come up as the run asks. Returns the run's summary. The preparation window
// is shown when `showPreparation`.
MailingSummary RunInWindows(const SendWindows& windows, MailingRun& run, RunOptions options,
                            bool showPreparation = true);

// sendMailing's work, for the mail in the editors and `recipients` (the recipient rows,
// in order). Does nothing without a database or recipients, or when the user cancels
// the check or the password question. Otherwise prepares one message per recipient in
// the preparation window and delivers them in the delivery window; the run appends its
// block to the sent log and records each person's outcome in the results file. Failures
// (preparation, connecting, writing the files) are shown in error boxes after the
// clean-up; the outgoing messages are always released.
void RunMailing(const SendWindows& windows, AppState& st, const std::vector<Person*>& recipients,
                const MailEditors& editors, bool previewShown);

// Edit, "Send Test to Me": the mail merged for `person`, its subject prefixed
// "[Test] ", delivered through the delivery window to the sender's own address only
// (the person's To and Cc lines stay in its header; no copy goes out). Neither the sent
// log nor the results of the last run are touched.
void RunTestMail(const SendWindows& windows, AppState& st, const MailEditors& editors,
                 bool previewShown, const Person& person);

// The entries of the loaded database that the last run (also of an earlier session)
// did not reach, in database order; empty without a database or when all were reached.
std::vector<Person*> RecipientsNotReached(const AppState& st);

// The desktop's way of opening an address ($BROWSER is honoured); where the platform
// has none, the browser command of the command line.
bool OpenUrlOnDesktop(const QUrl& address);

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
    void sendTestMail(const Person& person) override;

private:
    // The session's token source, made with the first run that logs in with a token.
    void prepareTokens();

    MainWindow& main_;
    SendWindows windows_;
    std::unique_ptr<OAuthTokenSource> tokens_;
    bool running_ = false; // a run (or its sign-in) is under way
};

} // namespace tandrel
