// The Send command: password, preparation, delivery, sent log, results, and the clean-up
// whatever happened.
#include "SendCommand.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeliveryWindow.h"
#include "MailFile.h"
#include "MailingRun.h"
#include "PasswordPrompt.h"
#include "PreparationWindow.h"
#include "RunResults.h"
#include "SendCheck.h"
#include "SendCheckDialog.h"
#include "TextFile.h"

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

void ShowError(QWidget* parent, const std::string& text) {
    QMessageBox::critical(parent, QStringLiteral("Tandrel"),
                          QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

// The last step of every run: the connection closed, then the errors collected shown.
void CloseAndReport(MainHooks& main, Forms& forms, std::vector<std::string>& errors) {
    try {
        forms.deliveryWindow->closeConnection();
    } catch (const std::exception& e) {
        errors.push_back(e.what());
    }
    for (const std::string& text : errors)
        ShowError(main.mainWidget(), text);
}

} // namespace

std::string ConnectErrorText(const GlobalPrefs& prefs, const std::string& socketText) {
    if (socketText.find("WSocketResolveHost:") == std::string::npos) return socketText;
    return "Cannot find the server \"" + prefs.smtp +
           "\". Check the server name in Preferences.\n\n" + socketText;
}

std::string RefusedConnectionText(const GlobalPrefs& prefs) {
    return "The server " + prefs.smtp + " did not accept a connection on port " + prefs.port + ".";
}

std::vector<ReceipData*> RecipientsNotReached(const AppState& st) {
    if (!st.db) return {};
    return RecipientsNotReached(*st.db, st.runResultsPath());
}

void RunMailing(MainHooks& main, Forms& forms) {
    AppState& st = main.state();
    if (!st.db || main.recipientRows().empty()) return;
    // The check reads the mail as it will be prepared, so it is built from the editors
    // here (a shown preview already did, and the editors then hold merged text).
    if (!main.previewShown()) BuildMailText(st, main.editorTexts());
    if (!ConfirmSendCheck(CheckBeforeSending(st, main.recipientRows()), main.mainWidget())) return;
    // Asked before anything is prepared, so Cancel leaves everything as it was.
    if (!PasswordForSend(st, main.mainWidget())) return;

    WaitCursor cursor;
    std::vector<std::string> errors; // shown once the run is cleaned up
    const std::size_t blockStart = st.SentLog.size();
    bool blockStarted = false;
    std::unique_ptr<RunResultsWriter> results;
    try {
        const std::optional<std::string> prepError = forms.preparationWindow->prepare();
        cursor.restore();
        if (prepError) {
            // Nothing was sent, so the sent log gets no block for this attempt.
            errors.push_back("The mails could not be prepared: " + *prepError +
                             "\n\nNo mail has been sent.");
        } else {
            try {
                results = std::make_unique<RunResultsWriter>(
                    st.runResultsPath(), IdentifyPeople(*st.db, main.recipientRows()));
            } catch (const std::exception& e) {
                errors.push_back(e.what()); // the run goes on without its results file
            }
            st.SentLog.push_back("Mailing started " + Rfc822Date());
            st.SentLog.push_back("");
            st.SentLog.push_back("Subject: " + main.editorTexts().subject);
            st.SentLog.push_back("");
            st.SentLog.push_back("Mails sent to:");
            blockStarted = true;
            // Written as each message is answered, so a crash loses no outcome.
            forms.deliveryWindow->onOutcome = [&results](std::size_t i, MessageOutcome o) {
                if (results) results->record(i, RunResultOf(o));
            };
            // The dialogue keeps its own copy: a big run does not hold the messages twice.
            forms.deliveryWindow->deliver([&st] { OutgoingList().swap(st.outgoing); });
        }
    } catch (const std::exception& e) {
        errors.push_back(ConnectErrorText(st.prefs, e.what()));
    }

    // Clean-up, whatever happened above.
    OutgoingList().swap(st.outgoing);
    if (blockStarted) {
        st.SentLog.push_back("");
        st.SentLog.push_back("");
        try {
            AppendTextFile(
                st.sentLogPath(),
                std::vector<std::string>(st.SentLog.begin() + blockStart, st.SentLog.end()));
        } catch (const std::exception& e) {
            errors.push_back(e.what());
        }
    }
    forms.deliveryWindow->onOutcome = nullptr;
    results.reset();
    cursor.restore();
    CloseAndReport(main, forms, errors);
}

namespace {

// The mail's template as editors, whether the editors hold it or a preview.
MailEditors TemplateEditors(MainHooks& main) {
    if (!main.previewShown()) return main.editorTexts();
    MailEditors eds;
    std::vector<std::string> lines = main.state().mailText.lines;
    bool hasHeader = main.state().mailText.MailHasHeader;
    ParseMailHeader(lines, eds, hasHeader);
    eds.body = std::move(lines);
    return eds;
}

} // namespace

void RunTestMail(MainHooks& main, Forms& forms, const ReceipData& person) {
    AppState& st = main.state();
    if (!st.db) return;
    if (!IsValidAddress(st.prefs.fromaddy)) {
        ShowError(main.mainWidget(), "A test mail goes to your own address: please enter a "
                                     "valid e-mail address in Preferences first.");
        return;
    }
    if (!PasswordForSend(st, main.mainWidget())) return;

    // Merged for the person, but delivered only to the sender: the envelope takes the
    // address, the header keeps what the person would see.
    ReceipData stand = person;
    stand.email = st.prefs.fromaddy;
    MailEditors eds = TemplateEditors(main);
    eds.subject = "[Test] " + eds.subject;
    const MailText kept = st.mailText; // a shown preview relies on the template
    const std::size_t sentLogSize = st.SentLog.size();
    std::vector<std::string> errors;
    try {
        try {
            BuildMailText(st, eds);
            PrepareAllMails(st, {&stand}, {});
        } catch (...) {
            st.mailText = kept;
            throw;
        }
        st.mailText = kept;
        // No results file and no sent-log block: the last real run stays resumable.
        forms.deliveryWindow->onOutcome = nullptr;
        forms.deliveryWindow->deliver([&st] { OutgoingList().swap(st.outgoing); });
    } catch (const std::exception& e) {
        errors.push_back(ConnectErrorText(st.prefs, e.what()));
    }
    OutgoingList().swap(st.outgoing);
    // The delivery notes each accepted address for the sent log; a test mail is no mailing.
    st.SentLog.resize(sentLogSize);
    CloseAndReport(main, forms, errors);
}

} // namespace tandrel
