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
#include "PasswordPrompt.h"
#include "PreparationWindow.h"
#include "RunResults.h"
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

namespace {


} // namespace

void RunMailing(MainHooks& main, Forms& forms) {
    AppState& st = main.state();
    if (!st.db || main.recipientRows().empty()) return;
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
    try {
        forms.deliveryWindow->closeConnection();
    } catch (const std::exception& e) {
        errors.push_back(e.what());
    }

    for (const std::string& text : errors)
        ShowError(main.mainWidget(), text);
}

} // namespace tandrel
