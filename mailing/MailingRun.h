// SPDX-License-Identifier: GPL-3.0-or-later
// A mailing run: the one way the program sends, whichever front end started it (the
// window's Send and "Send Test to Me", `tandrel send`, the benchmarks). Its steps, in
// order:
//
//   check()             the check before sending
//   obtainCredentials() the relay login, from the front end's credential source
//   prepare()           one message per recipient, with the preparation gauge
//   writeDryRun()       or startDelivery() and waitForEnd(): the SMTP dialogue, its
//                       report and run log, each person's outcome in the results file
//   finish()            the sent log's block, the connection closed, the summary
//
// The front end hears of each step through a MailingObserver.
#pragma once

#include <climits>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/AppState.h"
#include "mailing/Credentials.h"
#include "mailing/DryRun.h"
#include "mailing/MailingObserver.h"
#include "merge/SendCheck.h"

namespace tandrel {

class DeliveryRun;
class MessageSource;
class PreparedMailing;
class RunResultsWriter;
class SentLogBlock;

enum class MailingKind {
    Mailing, // a run to the recipients: results file and sent-log block
    TestMail // the person's message, delivered to the sender only: neither the results
             // nor the sent log change
};

struct MailingSummary {
    int accepted = 0;            // messages the server accepted
    int recipients = 0;          // messages prepared
    bool started = false;        // the delivery began
    bool errorsOccurred = false; // the dialogue reported a problem, maybe one it got over
    // The addresses of the messages whose end of data went out but was never answered:
    // the server may have stored them.
    std::vector<std::string> maybeDelivered;
    std::string startError;      // the text of a connect error raised at once
    std::string stoppedBy;       // the signal that stopped the run, if one did
    // Files that could not be written: the results file (the run went on without it)
    // and the sent log. The run log's failure is told apart, in runLogError.
    std::vector<std::string> fileErrors;
    std::string runLogError;

    // Not every message was accepted. A problem the run got over (a connection lost
    // while others delivered its messages, a refused Cc address) is no failure.
    bool failed() const { return !startError.empty() || accepted < recipients; }
};

// Why a run with a user name and Security "none" cannot log in.
inline constexpr const char* kLoginNeedsEncryption =
    "A login needs encryption: with a user name set, choose STARTTLS or TLS as Security "
    "in Preferences (security=starttls or tls in Tandrel.ini)";

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

    // Null: nobody listens. May change between the steps.
    void setObserver(MailingObserver* observer) { observer_ = observer; }

    // The settings first (an unknown value of an enumerated key, a login without
    // encryption: errors for every kind of run), then, for a mailing, the check before
    // sending.
    std::vector<SendProblem> check() const;
    // Asks `source` when the relay settings name a user; false when it gave nothing (the
    // user declined). What the source throws passes on. The source must outlive the run:
    // it is told when the server refuses the login.
    bool obtainCredentials(CredentialSource& source);
    // Throws ComposeError; nothing is prepared then.
    void prepare();
    // A test mail's preparation: `mail` (the template as the editors hold it) with
    // "[Test] " before its subject, merged for the run's one recipient, To and Cc lines
    // included, and addressed to the sender alone. The session's mail text is left as
    // it was. Throws ComposeError.
    void prepareTestMail(MailEditors mail);
    // Messages made some other way, sent instead of prepared ones.
    void useMessages(std::shared_ptr<MessageSource> messages);
    // What prepare() made; null before it or after a failed one.
    const PreparedMailing* prepared() const { return prepared_.get(); }
    DryRunResult writeDryRun(const std::string& dir);
    // Opens the results file, begins the sent-log block and starts the dialogue. A
    // connect error raised at once is thrown (std::runtime_error with the socket's text).
    // The run lets go of the prepared messages either way.
    void startDelivery();
    bool running() const;
    bool waitForEnd(int timeoutMs = INT_MAX);
    // Stops where it stands; the run log so far is written, with the signal's note.
    void cancel(const std::string& stopSignalName = {});
    // After the delivery (ended, cancelled or failed to start): ends the sent-log block,
    // closes the connection and the results file.
    MailingSummary finish();

    const AppState& session() const { return st_; }
    const std::vector<Person*>& recipients() const { return *recipients_; }
    // The addresses of the messages so far whose end of data went out unanswered.
    const std::vector<std::string>& maybeDelivered() const { return summary_.maybeDelivered; }
    // What went wrong so far with the files, taken (for a front end that reports at once).
    std::vector<std::string> takeFileErrors();

private:
    class Relay;
    // After the server refused a token: the source told, and asked once more.
    std::string renewedSecret();

    AppState& st_;
    std::shared_ptr<const std::vector<Person*>> recipients_;
    std::string subject_;
    MailingKind kind_;
    MailingObserver* observer_ = nullptr;
    CredentialSource* credentialSource_ = nullptr;
    std::optional<Credentials> credentials_;
    std::vector<std::string> acceptedScratch_; // a test mail's accepted address
    std::unique_ptr<RunResultsWriter> results_;
    std::unique_ptr<SentLogBlock> sentLog_;
    std::unique_ptr<Relay> relay_;
    std::unique_ptr<DeliveryRun> delivery_;
    std::shared_ptr<PreparedMailing> prepared_;
    std::shared_ptr<MessageSource> messages_; // until the delivery or the dry run takes them
    MailingSummary summary_;
};

} // namespace tandrel
