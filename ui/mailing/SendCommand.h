// SPDX-License-Identifier: GPL-3.0-or-later
// The Send command and "Send Test to Me": the mailing run with its windows.
#pragma once

#include <string>
#include <vector>

#include "model/AppState.h"

class DeliveryWindow;
namespace tandrel {
class OAuthTokenSource;
}
class PreparationWindow;
class QWidget;

namespace tandrel {

// The windows a run shows, and the window its questions and error boxes belong to.
struct SendWindows {
    QWidget* parent = nullptr;
    PreparationWindow* preparation = nullptr;
    DeliveryWindow* delivery = nullptr;
    // The session's bearer tokens, for a login with auth=oauth2; null otherwise.
    OAuthTokenSource* tokens = nullptr;
};

// sendMailing's work, for the mail in the editors and `recipients` (the recipient rows,
// in order). Does nothing without a database or recipients, or when the user cancels
// the check or the password question. Otherwise prepares one message per recipient in
// the preparation window and delivers them in the delivery window; the run appends its
// block to the sent log and records each person's outcome in the results file. Failures
// (preparation, connecting, writing the files) are shown in error boxes after the
// clean-up; the outgoing messages are always released.
void RunMailing(const SendWindows& windows, AppState& st,
                const std::vector<Person*>& recipients, const MailEditors& editors,
                bool previewShown);

// Edit, "Send Test to Me": the mail merged for `person`, its subject prefixed
// "[Test] ", delivered through the delivery window to the sender's own address only
// (the person's To and Cc lines stay in its header; no copy goes out). Neither the sent
// log nor the results of the last run are touched.
void RunTestMail(const SendWindows& windows, AppState& st, const MailEditors& editors,
                 bool previewShown, const Person& person);

// The entries of the loaded database that the last run (also of an earlier session)
// did not reach, in database order; empty without a database or when all were reached.
std::vector<Person*> RecipientsNotReached(const AppState& st);

} // namespace tandrel
