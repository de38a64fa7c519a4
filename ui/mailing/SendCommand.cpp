// SPDX-License-Identifier: GPL-3.0-or-later
// The Send command: the mailing run, with the check, the password question, the
// preparation and delivery windows, and the error boxes after the clean-up.
#include "ui/mailing/SendCommand.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/mailing/DeliveryWindow.h"
#include "model/MailFile.h"
#include "mailing/MailingRun.h"
#include "ui/mailing/PasswordPrompt.h"
#include "ui/mailing/PreparationWindow.h"
#include "model/RunResults.h"
#include "mailing/RunWords.h"
#include "merge/SendCheck.h"
#include "ui/mailing/SendCheckDialog.h"
#include "ui/mailing/TokenLogin.h"

namespace tandrel {

namespace {

// The hourglass for the length of a run; restoring is idempotent, so the early
// restore after preparation and the one of the clean-up do not pop someone else's.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void restore() {
        if (!active_) return;
        active_ = false;
        QApplication::restoreOverrideCursor();
    }

private:
    bool active_ = true;
};

// The login of a run: the password question, or the session's bearer tokens.
class WindowLogin {
public:
    WindowLogin(const SendWindows& windows, AppState& st) : passwords_(st, windows.parent) {
        if (windows.tokens && st.prefs.auth == kTokenMechanism)
            tokens_.emplace(*windows.tokens, st, windows.parent);
    }
    CredentialSource& source() {
        if (tokens_) return *tokens_;
        return passwords_;
    }

private:
    WindowCredentials passwords_;
    std::optional<WindowTokenCredentials> tokens_;
};

void ShowError(QWidget* parent, const std::string& text) {
    QMessageBox::critical(parent, QStringLiteral("Tandrel"),
                          QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

// The last step of every run: the run finished (sent log, results, connection), then
// the errors collected shown.
void FinishAndReport(const SendWindows& windows, MailingRun& run,
                     std::vector<std::string>& errors) {
    const MailingSummary summary = run.finish();
    errors.insert(errors.end(), summary.fileErrors.begin(), summary.fileErrors.end());
    windows.delivery->flushUpdates();
    for (const std::string& text : errors)
        ShowError(windows.parent, text);
}

// Delivers the prepared messages in the delivery window; what went wrong is added to
// `errors` in the order the user is to read it.
void Deliver(const SendWindows& windows, MailingRun& run, const Preferences& prefs,
             std::vector<std::string>& errors) {
    std::string connectError;
    try {
        windows.delivery->deliver(run);
    } catch (const std::exception& e) {
        connectError = ConnectErrorText(prefs.smtp, e.what());
    }
    for (std::string& text : run.takeFileErrors())
        errors.push_back(std::move(text)); // the run went on without its results file
    if (!connectError.empty()) errors.push_back(connectError);
}

} // namespace

std::vector<Person*> RecipientsNotReached(const AppState& st) {
    if (!st.db) return {};
    return RecipientsNotReached(*st.db, st.runResultsPath());
}

void RunMailing(const SendWindows& windows, AppState& st,
                const std::vector<Person*>& recipients, const MailEditors& editors,
                bool previewShown) {
    if (!st.db || recipients.empty()) return;
    // The check reads the mail as it will be prepared, so it is built from the editors
    // here (a shown preview already did, and the editors then hold merged text).
    if (!previewShown) BuildMailText(st, editors);
    MailingRun run(st, recipients, editors.subject);
    if (!ConfirmSendCheck(run.check(), windows.parent)) return;
    // Asked before anything is prepared, so Cancel leaves everything as it was.
    WindowLogin login(windows, st);
    if (!run.obtainCredentials(login.source())) return;

    WaitCursor cursor;
    std::vector<std::string> errors; // shown once the run is cleaned up
    const std::optional<std::string> prepError = windows.preparation->prepare(run);
    cursor.restore();
    if (prepError) {
        // Nothing was sent, so the sent log gets no block for this attempt.
        errors.push_back("The mails could not be prepared: " + *prepError +
                         "\n\nNo mail has been sent.");
    } else {
        Deliver(windows, run, st.prefs, errors);
    }
    FinishAndReport(windows, run, errors);
}

namespace {

// The mail's template as editors, whether the editors hold it or a preview.
MailEditors TemplateEditors(const AppState& st, const MailEditors& editors, bool previewShown) {
    if (!previewShown) return editors;
    MailEditors eds;
    std::vector<std::string> lines = st.mailText.lines;
    bool hasHeader = st.mailText.hasHeader;
    ParseMailHeader(lines, eds, hasHeader);
    eds.body = std::move(lines);
    return eds;
}

} // namespace

void RunTestMail(const SendWindows& windows, AppState& st, const MailEditors& editors,
                 bool previewShown, const Person& person) {
    if (!st.db) return;
    if (!IsValidAddress(st.prefs.fromAddress)) {
        ShowError(windows.parent, "A test mail goes to your own address: please enter a "
                                  "valid e-mail address in Preferences first.");
        return;
    }
    // Merged with the person's own values; the run delivers it to the sender alone.
    Person stand = person;
    const MailEditors eds = TemplateEditors(st, editors, previewShown);
    MailingRun run(st, {&stand}, eds.subject, MailingKind::TestMail);
    if (!ConfirmSendCheck(run.check(), windows.parent)) return;
    WindowLogin login(windows, st);
    if (!run.obtainCredentials(login.source())) return;

    std::vector<std::string> errors;
    try {
        run.prepareTestMail(eds);
        Deliver(windows, run, st.prefs, errors);
    } catch (const std::exception& e) {
        errors.push_back(ConnectErrorText(st.prefs.smtp, e.what()));
    }
    FinishAndReport(windows, run, errors);
}

} // namespace tandrel
