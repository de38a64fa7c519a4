// The Send command: preparation, delivery, sent log, and the clean-up whatever happened.
#include "SendCommand.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "DeliveryWindow.h"
#include "MailFile.h"
#include "PreparationWindow.h"
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

void RunMailing(MainHooks& main, Forms& forms) {
    AppState& st = main.state();
    if (!st.db || main.recipientRows().empty()) return;

    WaitCursor cursor;
    std::vector<std::string> errors; // shown once the run is cleaned up
    bool blockStarted = false;
    try {
        const std::optional<std::string> prepError = forms.preparationWindow->prepare();
        cursor.restore();
        if (prepError) {
            // Nothing was sent, so the sent log gets no block for this attempt.
            errors.push_back("The mails could not be prepared: " + *prepError +
                             "\n\nNo mail has been sent.");
        } else {
            st.SentLog.push_back("Mailing started " + Rfc822Date());
            st.SentLog.push_back("");
            st.SentLog.push_back("Subject: " + main.editorTexts().subject);
            st.SentLog.push_back("");
            st.SentLog.push_back("Mails sent to:");
            blockStarted = true;
            forms.deliveryWindow->deliver();
        }
    } catch (const std::exception& e) {
        errors.push_back(e.what());
    }

    // Clean-up, whatever happened above.
    OutgoingList().swap(st.outgoing);
    if (blockStarted) {
        st.SentLog.push_back("");
        st.SentLog.push_back("");
        try {
            WriteTextFile(st.sentLogPath(), st.SentLog);
        } catch (const std::exception& e) {
            errors.push_back(e.what());
        }
    }
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
