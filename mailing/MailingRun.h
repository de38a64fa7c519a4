// SPDX-License-Identifier: GPL-3.0-or-later
// A mailing run: the one way the program sends, whichever front end started it (the
// window's Send and "Send Test to Me", `tandrel send`, the benchmarks). Started once, it
// goes through its steps by itself; the front end (a MailingFrontEnd) answers what a
// person must answer and hears what happens.
//
//   state                 event                                  next state
//   Idle                  start()                                Checking
//   Checking              no problem                             AwaitingCredentials,
//                                                                or Preparing (no login,
//                                                                a dry run)
//   Checking              problems                               AwaitingConfirmation
//   Checking              test mail without a valid sender       Ended (NotStartable)
//   AwaitingConfirmation  yes, no problem blocks                 as after "no problem"
//   AwaitingConfirmation  no, or a blocking problem              Ended (CheckDeclined)
//   AwaitingCredentials   credentials fit for use                Preparing
//   AwaitingCredentials   declined / error or unusable password  Ended (CredentialsDeclined
//                                                                / CredentialsFailed)
//   Preparing             settled, messages made                 Delivering, or Ended
//                                                                (Prepared: prepareOnly)
//   Preparing             a message cannot be made               Ended (PreparationFailed)
//   Delivering            transport ended, or cancel()           Finishing
//   Delivering            transport could not start              Finishing (startError),
//                                                                Ended (DryRunFailed)
//   Finishing             next turn of the event loop            Ended (Delivered,
//                                                                DryRunWritten)
//   any before Delivering cancel()                               Ended (Cancelled)
//
// Every change of state is told (stateChanged); Ended is followed by runEnded with the
// summary. Waiting (for an answer, the screen, the transport) is done by returning to
// the caller's event loop: the run never runs one of its own.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QTimer>

#include "mailing/Credentials.h"
#include "mailing/MailingObserver.h"
#include "mailing/Transport.h"
#include "merge/SendCheck.h"
#include "model/AppState.h"

namespace tandrel {

class MessageSource;
class PreparedMailing;
class RunResultsWriter;
class SentLogBlock;

enum class MailingKind {
    Mailing, // a run to the recipients: results file and sent-log block
    TestMail // the person's message, delivered to the sender only: neither the results
             // nor the sent log change
};

// Why a run with a user name and Security "none" cannot log in.
inline constexpr const char* kLoginNeedsEncryption =
    "A login needs encryption: with a user name set, choose STARTTLS or TLS as Security "
    "in Preferences (security=starttls or tls in Tandrel.ini)";

// Why a test mail cannot be sent: it goes to the sender's own address.
inline constexpr const char* kTestMailNeedsSender =
    "A test mail goes to your own address: please enter a valid e-mail address in "
    "Preferences first.";

// How a front end wants its run.
struct RunOptions {
    // Asked when the settings name a login user (not for a dry run); must outlive the
    // run, which tells it when the server refuses the login. Null: no login.
    CredentialSource* credentials = nullptr;
    // Write every message there instead of delivering them.
    std::optional<std::string> dryRunDir;
    // How long the screen may settle before the preparation, which holds the event
    // loop: the window lets its preparation window paint; the command line waits not.
    int settleMs = 0;
    // End once the messages are prepared (for measuring and tests).
    bool prepareOnly = false;
    // A test mail's template as the editors hold it: "[Test] " goes before its subject,
    // the person's own values are merged, To and Cc lines included; the session's mail
    // text is left as it was.
    std::optional<MailEditors> testMail;
    // Where the messages go; null: the relay over SMTP, or the dry run's folder.
    std::unique_ptr<Transport> transport;
};

class MailingRun {
public:
    // `session` holds the database, the attachments, the mail text (already built from
    // the editors), the relay settings, the data folder and the session's logs in memory.
    // `subject` is the mail's subject as written, for the sent log.
    MailingRun(AppState& session, std::vector<Person*> recipients, std::string subject,
               MailingKind kind = MailingKind::Mailing);
    ~MailingRun();
    MailingRun(const MailingRun&) = delete;
    MailingRun& operator=(const MailingRun&) = delete;

    // Sets the run going; `frontEnd` must outlive it. Parts of the run may happen before
    // this returns (all of it, when nothing waits).
    void start(MailingFrontEnd& frontEnd, RunOptions options = {});
    RunState state() const { return state_; }
    bool ended() const { return state_ == RunState::Ended; }
    // Stops where it stands; the run log so far is written, with the signal's note.
    void cancel(const std::string& stopSignalName = {});

    // The settings first (an unknown value of an enumerated key, a login without
    // encryption: errors for every kind of run), then, for a mailing, the check before
    // sending. The run asks it itself; tests may too.
    std::vector<SendProblem> check() const;
    // Messages made some other way, sent instead of prepared ones (before start()).
    void useMessages(std::shared_ptr<MessageSource> messages);
    // What the preparation made; null before it or after a failed one.
    const PreparedMailing* prepared() const { return prepared_.get(); }

    const AppState& session() const { return st_; }
    MailingKind kind() const { return kind_; }
    const std::vector<Person*>& recipients() const { return *recipients_; }
    // The addresses of the messages so far whose end of data went out unanswered.
    const std::vector<std::string>& maybeDelivered() const { return summary_.maybeDelivered; }
    // What went wrong so far with the files, taken (for a front end that reports at once).
    std::vector<std::string> takeFileErrors();
    const MailingSummary& summary() const { return summary_; }

private:
    class OutcomeRecorder;

    // Tells the front end; false when it cancelled the run meanwhile.
    bool enter(RunState state);
    void end(RunEnding ending, std::string problem = {});
    void afterCheck(const std::vector<SendProblem>& problems, bool confirmed);
    void askCredentials();
    void takeCredentials(CredentialsAnswer given);
    void beginPreparing();
    void prepareAll();
    void prepareMessages();
    void prepareMailText();
    void startDelivery();
    void finish();
    // A question to the credential source: its number, which its answer must bring.
    unsigned ask();
    bool answered(unsigned question);
    // The run waits for no answer any more: the source stops working on them.
    void dropQuestions();
    DeliveryConfig deliveryConfig();

    AppState& st_;
    std::shared_ptr<const std::vector<Person*>> recipients_;
    std::string subject_;
    MailingKind kind_;
    RunState state_ = RunState::Idle;
    MailingFrontEnd* frontEnd_ = nullptr;
    RunOptions options_;
    std::optional<Credentials> credentials_;
    // The credential source's questions not answered yet (the login, token renewals of
    // each connection); an answer to one no longer here is dropped.
    std::set<unsigned> questions_;
    unsigned lastQuestion_ = 0;
    std::vector<std::string> acceptedScratch_; // a test mail's accepted address
    std::unique_ptr<RunResultsWriter> results_;
    std::unique_ptr<SentLogBlock> sentLog_;
    std::unique_ptr<OutcomeRecorder> recorder_;
    std::unique_ptr<Transport> transport_;
    std::shared_ptr<PreparedMailing> prepared_;
    std::shared_ptr<MessageSource> messages_; // until the transport takes them
    bool messagesGiven_ = false;
    MailingSummary summary_;
    QTimer settle_; // the pause before the preparation
    QTimer finish_; // the step from Finishing to Ended, outside the transport's calls
    // Expires with the run: answers that come after it are dropped.
    std::shared_ptr<char> life_ = std::make_shared<char>();
};

// The mail's template as editors, whether the editors hold it or a preview (which
// leaves merged text in them): what a test mail is made of.
MailEditors TemplateEditors(const AppState& st, const MailEditors& editors, bool previewShown);

} // namespace tandrel
