// SPDX-License-Identifier: GPL-3.0-or-later
// The Send command: the mailing run with the windows as its front end. The run drives
// itself; the windows answer its questions, show what it reports and, once it has ended
// and the delivery window is closed, show what went wrong in error boxes.
#include "ui/mailing/SendLauncher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <functional>
#include <optional>
#include <utility>

#include "keyring/Keyring.h"
#include "mailing/RunWords.h"
#include "model/MailFile.h"
#include "model/RunResults.h"
#include "oauth/BrowserLauncher.h"
#include "oauth/OAuthCredentials.h"
#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokenSource.h"
#include "ui/mailing/DeliveryWindow.h"
#include "ui/mailing/PasswordPrompt.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/SendCheckDialog.h"
#include "ui/TextBridge.h"
#include "ui/WaitCursor.h"

namespace tandrel {

namespace {

// The windows of one run: what the run asks and tells goes to the window showing it.
class WindowFrontEnd : public MailingFrontEnd {
public:
    WindowFrontEnd(const SendWindows& windows, MailingRun& run, bool showPreparation)
        : windows_(windows), run_(run), showPreparation_(showPreparation && windows.preparation) {
        if (windows_.delivery)
            closed_ = QObject::connect(windows_.delivery, &QDialog::finished, windows_.delivery,
                                       [this] { checkOver(); });
        signInWaitShow_.setSingleShot(true);
        signInWaitShow_.setInterval(0);
        QObject::connect(&signInWaitShow_, &QTimer::timeout, [this] {
            if (signInWait_) signInWait_->show();
        });
    }
    ~WindowFrontEnd() override {
        QObject::disconnect(closed_);
        endSignInWait();
    }
    WindowFrontEnd(const WindowFrontEnd&) = delete;
    WindowFrontEnd& operator=(const WindowFrontEnd&) = delete;

    // Called once the run has ended and its delivery window is closed.
    std::function<void()> whenOver;
    bool over() const { return run_.ended() && !deliveryShown_; }
    // What went wrong, in the order the user is to read it.
    std::vector<std::string> errors;

    void confirmProblems(const std::vector<SendProblem>& problems,
                         std::function<void(bool)> answer) override {
        auto* dialog = new SendCheckDialog(problems, windows_.parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(
            dialog, &QDialog::finished, dialog,
            [answer = std::move(answer)](int result) { answer(result == QDialog::Accepted); });
        dialog->show();
    }

    void stateChanged(RunState state) override {
        if (state == RunState::AwaitingCredentials && windows_.tokens &&
            run_.session().prefs.auth == kTokenMechanism) {
            showSignInWait();
            return;
        }
        endSignInWait();
        if (state == RunState::Preparing && showPreparation_) {
            cursor_.emplace();
            windows_.preparation->showPreparing();
            return;
        }
        if (windows_.preparation && windows_.preparation->isVisible())
            windows_.preparation->done(1);
        cursor_.reset();
        if (state == RunState::Delivering) {
            // The run went on without its results file.
            for (std::string& text : run_.takeFileErrors())
                errors.push_back(std::move(text));
            if (windows_.delivery) {
                deliveryShown_ = true;
                windows_.delivery->showRun(run_);
            }
        }
    }

    void runEnded(const MailingSummary& summary) override {
        collectErrors(summary);
        if (deliveryShown_ && !summary.started) windows_.delivery->endWithoutRun();
        checkOver();
    }

    void preparationProgress(int percent) override {
        if (showPreparation_) windows_.preparation->preparationProgress(percent);
    }
    void deliveryProgress(int percent) override {
        if (windows_.delivery) windows_.delivery->deliveryProgress(percent);
    }
    void reportCleared() override {
        if (windows_.delivery) windows_.delivery->reportCleared();
    }
    void reportLine(const std::string& line) override {
        if (windows_.delivery) windows_.delivery->reportLine(line);
    }
    void statusChanged(const std::string& text) override {
        if (windows_.delivery) windows_.delivery->statusChanged(text);
    }
    void deliveryEvent(const DeliveryEvent& event) override {
        if (windows_.delivery) windows_.delivery->deliveryEvent(event);
    }
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override {
        if (windows_.delivery) windows_.delivery->messageOutcome(message, outcome, reply);
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        if (windows_.delivery) windows_.delivery->deliveryEnded(summary);
    }

private:
    // A login by token may wait minutes for the sign-in in the browser. Meanwhile this
    // modal window keeps the people the run holds from being edited or replaced, and its
    // Cancel ends the run and the sign-in. It comes up only when the token is not at hand.
    void showSignInWait() {
        auto* wait = new QProgressDialog(windows_.parent);
        wait->setObjectName(QStringLiteral("SignInWaitBox"));
        wait->setWindowTitle(QStringLiteral("Tandrel"));
        wait->setLabelText(QStringLiteral("Waiting for the login token: please finish the "
                                          "sign-in in your browser."));
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), wait);
        cancel->setObjectName(QStringLiteral("CancelBut"));
        cancel->setAccessibleName(cancel->text());
        wait->setCancelButton(cancel);
        wait->setRange(0, 0);
        wait->setAutoClose(false);
        wait->setAutoReset(false);
        wait->setWindowModality(Qt::ApplicationModal);
        QObject::connect(wait, &QProgressDialog::canceled, wait, [this] {
            if (run_.state() == RunState::AwaitingCredentials) run_.cancel();
        });
        signInWait_ = wait;
        signInWaitShow_.start(); // from the event loop, if the run still waits
    }

    void endSignInWait() {
        QProgressDialog* wait = signInWait_.data();
        if (!wait) return;
        signInWait_.clear();
        signInWaitShow_.stop();
        QObject::disconnect(wait, &QProgressDialog::canceled, nullptr, nullptr);
        wait->reset(); // its own timer would show it still
        wait->hide();
        wait->deleteLater();
    }

    void collectErrors(const MailingSummary& summary) {
        const std::string noMail = std::string("\n\n") + kNoMailSent;
        switch (summary.ending) {
        case RunEnding::PreparationFailed: {
            if (run_.kind() == MailingKind::TestMail) {
                errors.push_back(summary.problem); // a test mail's, as it was raised
                break;
            }
            std::string text = NotPreparedText(summary.problem);
            text[0] = 'T';
            errors.push_back(text + noMail);
            break;
        }
        case RunEnding::CredentialsFailed:
            errors.push_back(summary.problem + noMail);
            break;
        case RunEnding::NotStartable:
            errors.push_back(summary.problem);
            break;
        case RunEnding::Delivered:
            if (!summary.startError.empty())
                errors.push_back(ConnectErrorText(run_.session().prefs.smtp, summary.startError));
            errors.insert(errors.end(), summary.fileErrors.begin(), summary.fileErrors.end());
            if (!summary.renewalError.empty()) errors.push_back(summary.renewalError);
            break;
        default:
            break;
        }
    }

    void checkOver() {
        if (deliveryShown_ && !windows_.delivery->isVisible()) deliveryShown_ = false;
        if (over() && whenOver) whenOver();
    }

    SendWindows windows_;
    MailingRun& run_;
    bool showPreparation_;
    bool deliveryShown_ = false;
    std::optional<WaitCursor> cursor_;
    QMetaObject::Connection closed_;
    QPointer<QProgressDialog> signInWait_;
    QTimer signInWaitShow_;
};

// The login of a run: the password question, or the session's bearer tokens.
class WindowLogin {
public:
    WindowLogin(const SendWindows& windows, AppState& st) : passwords_(st, windows.parent) {
        if (windows.tokens && st.prefs.auth == kTokenMechanism)
            tokens_.emplace(*windows.tokens, st.prefs, st.rememberTokenLogin);
    }
    CredentialSource& source() {
        if (tokens_) return *tokens_;
        return passwords_;
    }

private:
    WindowCredentials passwords_;
    std::optional<OAuthCredentials> tokens_;
};

void ShowErrors(const SendWindows& windows, const std::vector<std::string>& errors) {
    if (windows.delivery) windows.delivery->flushUpdates();
    for (const std::string& text : errors)
        QMessageBox::critical(windows.parent, QStringLiteral("Tandrel"), WordsText(text));
}

// Starts the run with the windows as its front end and waits until it is over; what went
// wrong, in the order the user is to read it.
std::vector<std::string> RunAndWait(const SendWindows& windows, MailingRun& run, RunOptions options,
                                    bool showPreparation) {
    WindowFrontEnd frontEnd(windows, run, showPreparation);
    QEventLoop loop;
    frontEnd.whenOver = [&loop] { loop.quit(); };
    options.settleMs = showPreparation ? windows.settleMs : 0;
    run.start(frontEnd, std::move(options));
    if (!frontEnd.over()) loop.exec();
    return std::move(frontEnd.errors);
}

// A run in the windows with the session's login, its errors shown at the end.
void RunWithLogin(const SendWindows& windows, AppState& st, MailingRun& run, RunOptions options,
                  bool showPreparation) {
    WindowLogin login(windows, st);
    options.credentials = &login.source();
    ShowErrors(windows, RunAndWait(windows, run, std::move(options), showPreparation));
}

} // namespace

MailingSummary RunInWindows(const SendWindows& windows, MailingRun& run, RunOptions options,
                            bool showPreparation) {
    RunAndWait(windows, run, std::move(options), showPreparation);
    return run.summary();
}

std::vector<Person*> RecipientsNotReached(const AppState& st) {
    if (!st.db) return {};
    return RecipientsNotReached(*st.db, st.runResultsPath());
}

void RunMailing(const SendWindows& windows, AppState& st, const std::vector<Person*>& recipients,
                const MailEditors& editors, bool previewShown) {
    if (!st.db || recipients.empty()) return;
    // The check reads the mail as it will be prepared, so it is built from the editors
    // here (a shown preview already did, and the editors then hold merged text).
    if (!previewShown) BuildMailText(st, editors);
    MailingRun run(st, recipients, editors.subject);
    RunWithLogin(windows, st, run, {}, true);
}

void RunTestMail(const SendWindows& windows, AppState& st, const MailEditors& editors,
                 bool previewShown, const Person& person) {
    if (!st.db) return;
    // Merged with the person's own values; the run delivers it to the sender alone.
    Person stand = person;
    RunOptions options;
    options.testMail = TemplateEditors(st, editors, previewShown);
    MailingRun run(st, {&stand}, options.testMail->subject, MailingKind::TestMail);
    RunWithLogin(windows, st, run, std::move(options), false);
}

bool OpenUrlOnDesktop(const QUrl& address) {
    return QDesktopServices::openUrl(address) || OpenUrlInBrowser(address);
}

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
    if (tokens_ || !UsesOAuth(main_.state().prefs)) return;
    OAuthTokenSource::Options options;
    options.openUrl = OpenUrlOnDesktop;
    options.keyring = &KeyringOf(main_.state());
    tokens_ = std::make_unique<OAuthTokenSource>(std::move(options));
    windows_.tokens = tokens_.get();
}

void SendLauncher::sendMailing() {
    // A sign-in in the browser waits with the main window usable: a second Send then must
    // not start a run inside the first.
    if (running_) return;
    const QScopedValueRollback<bool> running(running_, true);
    prepareTokens();
    RunMailing(windows_, main_.state(), main_.recipientRows(), main_.editorTexts(),
               main_.previewShown());
}

void SendLauncher::sendTestMail(const Person& person) {
    if (running_) return;
    const QScopedValueRollback<bool> running(running_, true);
    prepareTokens();
    RunTestMail(windows_, main_.state(), main_.editorTexts(), main_.previewShown(), person);
}

} // namespace tandrel
