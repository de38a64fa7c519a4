// SPDX-License-Identifier: GPL-3.0-or-later
// The mailing run's steps, each entered from the state before it.
#include "mailing/MailingRun.h"

#include <exception>
#include <iterator>

#include "mailing/DeliverySettings.h"
#include "mailing/RunWords.h"
#include "mailing/SentLog.h"
#include "merge/Address.h"
#include "merge/Preparation.h"
#include "model/MailFile.h"
#include "model/RunResults.h"
#include "model/Settings.h"

namespace tandrel {

// Between the transport and the front end: keeps each outcome in the results file,
// tells the credential source of a refused login and notes the end, then passes
// everything on.
class MailingRun::OutcomeRecorder : public MailingObserver {
public:
    explicit OutcomeRecorder(MailingRun& run) : run_(run) {}

    void deliveryProgress(int percent) override { run_.frontEnd_->deliveryProgress(percent); }
    void deliveryEvent(const DeliveryEvent& event) override {
        if (event.kind == DeliveryEvent::Kind::Problem &&
            event.problem == DeliveryProblem::LoginRefused && run_.options_.credentials)
            run_.options_.credentials->credentialsRefused(LoginRequest(run_.st_.prefs));
        run_.frontEnd_->deliveryEvent(event);
    }
    void reportCleared() override { run_.frontEnd_->reportCleared(); }
    void reportLine(const std::string& line) override { run_.frontEnd_->reportLine(line); }
    void statusChanged(const std::string& text) override { run_.frontEnd_->statusChanged(text); }
    void messageOutcome(std::size_t message, MessageOutcome outcome,
                        const ServerReply* reply) override {
        // Written as each message is answered, so a crash loses no outcome.
        if (run_.results_) run_.results_->record(message, RunResultOf(outcome));
        if (outcome == MessageOutcome::MaybeDelivered) {
            if (run_.kind_ == MailingKind::TestMail)
                run_.summary_.maybeDelivered.push_back(run_.st_.prefs.fromAddress);
            else if (message < run_.recipients_->size())
                run_.summary_.maybeDelivered.push_back((*run_.recipients_)[message]->email());
        }
        run_.frontEnd_->messageOutcome(message, outcome, reply);
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        if (!summary.runLogSaved) run_.summary_.runLogError = run_.transport_->runLogError();
        run_.frontEnd_->deliveryEnded(summary);
        // The transport is still inside its own call: the files and the connection are
        // closed from the event loop.
        run_.enter(RunState::Finishing);
        run_.finish_.start();
    }

private:
    MailingRun& run_;
};

MailingRun::MailingRun(AppState& session, std::vector<Person*> recipients, std::string subject,
                       MailingKind kind)
    : st_(session), recipients_(std::make_shared<const RecipientList>(std::move(recipients))),
      subject_(std::move(subject)), kind_(kind),
      recorder_(std::make_unique<OutcomeRecorder>(*this)) {
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, [this] { prepareAll(); });
    finish_.setSingleShot(true);
    finish_.setInterval(0);
    QObject::connect(&finish_, &QTimer::timeout, [this] { finish(); });
}

MailingRun::~MailingRun() {
    transport_.reset();
}

bool MailingRun::enter(RunState state) {
    state_ = state;
    if (frontEnd_) frontEnd_->stateChanged(state);
    return state_ == state; // the front end may have cancelled the run on hearing it
}

void MailingRun::end(RunEnding ending, std::string problem) {
    // A token renewal may still be asked for when the connection ended by itself.
    dropQuestions();
    summary_.ending = ending;
    summary_.problem = std::move(problem);
    messages_.reset();
    enter(RunState::Ended);
    frontEnd_->runEnded(summary_);
}

std::vector<SendProblem> MailingRun::check() const {
    // Settings the run cannot honour come first: they stop every run, a test mail too,
    // before any password is asked for.
    std::vector<SendProblem> problems;
    for (std::string& text : UnknownSettingValues(st_.prefs))
        problems.push_back({CheckSeverity::Blocking, std::move(text)});
    if (LoginWithoutEncryption(st_.prefs))
        problems.push_back({CheckSeverity::Blocking, kLoginNeedsEncryption});
    if (kind_ == MailingKind::TestMail) return problems;
    std::vector<SendProblem> more = CheckBeforeSending(st_, *recipients_);
    problems.insert(problems.end(), std::make_move_iterator(more.begin()),
                    std::make_move_iterator(more.end()));
    return problems;
}

void MailingRun::start(MailingFrontEnd& frontEnd, RunOptions options) {
    if (state_ != RunState::Idle) return;
    frontEnd_ = &frontEnd;
    options_ = std::move(options);
    if (!enter(RunState::Checking)) return;
    if (kind_ == MailingKind::TestMail && !IsValidAddress(st_.prefs.fromAddress))
        return end(RunEnding::NotStartable, kTestMailNeedsSender);
    std::vector<SendProblem> problems = check();
    if (problems.empty()) return afterCheck(problems, true);
    if (!enter(RunState::AwaitingConfirmation)) return;
    frontEnd_->confirmProblems(problems,
                               [this, life = std::weak_ptr<char>(life_), problems](bool yes) {
                                   if (!life.expired() && state_ == RunState::AwaitingConfirmation)
                                       afterCheck(problems, yes);
                               });
}

void MailingRun::afterCheck(const std::vector<SendProblem>& problems, bool confirmed) {
    if (!confirmed || HasBlockingProblem(problems)) return end(RunEnding::CheckDeclined);
    askCredentials();
}

void MailingRun::askCredentials() {
    credentials_.reset();
    // Asked before anything is prepared, so a declined question leaves everything as
    // it was. A dry run sends nothing and logs in nowhere.
    if (st_.prefs.user.empty() || options_.dryRunDir || !options_.credentials) {
        return beginPreparing();
    }
    if (!enter(RunState::AwaitingCredentials)) return;
    options_.credentials->requestCredentials(
        LoginRequest(st_.prefs),
        [this, life = std::weak_ptr<char>(life_), question = ask()](CredentialsAnswer given) {
            if (!life.expired() && answered(question) && state_ == RunState::AwaitingCredentials)
                takeCredentials(std::move(given));
        });
}

unsigned MailingRun::ask() {
    questions_.insert(++lastQuestion_);
    return lastQuestion_;
}

bool MailingRun::answered(unsigned question) {
    return questions_.erase(question) == 1;
}

void MailingRun::dropQuestions() {
    if (questions_.empty()) return;
    questions_.clear();
    options_.credentials->cancelRequests();
}

void MailingRun::takeCredentials(CredentialsAnswer given) {
    if (!given.error.empty()) return end(RunEnding::CredentialsFailed, std::move(given.error));
    if (!given.credentials) return end(RunEnding::CredentialsDeclined);
    if (LoginRequest(st_.prefs).mechanism != kTokenMechanism) {
        if (std::string fault = PasswordFault(given.credentials->secret); !fault.empty())
            return end(RunEnding::CredentialsFailed, std::move(fault));
    }
    credentials_ = std::move(given.credentials);
    beginPreparing();
}

void MailingRun::beginPreparing() {
    if (!enter(RunState::Preparing)) return;
    if (options_.settleMs > 0)
        settle_.start(options_.settleMs);
    else
        prepareAll();
}

void MailingRun::prepareAll() {
    if (state_ != RunState::Preparing) return;
    if (!messagesGiven_) {
        try {
            prepareMessages();
        } catch (const std::exception& e) { // ComposeError, or what the system raised
            if (state_ == RunState::Preparing) end(RunEnding::PreparationFailed, e.what());
            return;
        }
        // The front end may have cancelled the run from a progress call: it has ended.
        if (state_ != RunState::Preparing) return;
    }
    if (options_.prepareOnly) return end(RunEnding::Prepared);
    startDelivery();
}

void MailingRun::prepareMessages() {
    if (!options_.testMail) return prepareMailText();
    // The template with "[Test] " before its subject; the session's mail text stays as
    // it was, for a shown preview relies on it.
    MailEditors mail = *options_.testMail;
    mail.subject = "[Test] " + mail.subject;
    const MailText kept = st_.mailText;
    try {
        BuildMailText(st_, mail);
        prepareMailText();
    } catch (...) {
        st_.mailText = kept;
        throw;
    }
    st_.mailText = kept;
}

void MailingRun::prepareMailText() {
    messages_.reset();
    prepared_.reset();
    summary_.recipients = 0;
    // A test mail is merged with the person's own values, To and Cc lines included, and
    // goes to the sender alone: only the envelope names the sender.
    prepared_ = PrepareMailing(
        st_, recipients_, [this](int percent) { frontEnd_->preparationProgress(percent); },
        kind_ == MailingKind::TestMail ? st_.prefs.fromAddress : std::string());
    messages_ = prepared_;
    summary_.recipients = static_cast<int>(prepared_->count());
}

void MailingRun::useMessages(std::shared_ptr<MessageSource> messages) {
    messages_ = std::move(messages);
    messagesGiven_ = true;
    summary_.recipients = messages_ ? static_cast<int>(messages_->count()) : 0;
}

DeliveryConfig MailingRun::deliveryConfig() {
    const std::string password = credentials_ ? credentials_->secret : std::string();
    DeliveryConfig config = DeliveryConfigFor(st_, password);
    if (!config.bearerToken || !options_.credentials) return config;
    // The dialogue asks at most once per connection when the server refuses a token: the
    // source is told of the refusal and asked once more; "" lets the refusal stand.
    config.renewToken =
        [this, life = std::weak_ptr<char>(life_)](std::function<void(std::string)> answer) {
            if (life.expired()) return;
            const CredentialRequest request = LoginRequest(st_.prefs);
            options_.credentials->credentialsRefused(request);
            options_.credentials->requestCredentials(
                request, [this, life, question = ask(),
                          answer = std::move(answer)](CredentialsAnswer given) {
                    // The dialogue went with the run, or the run no longer waits.
                    if (life.expired() || !answered(question)) return;
                    summary_.renewalError = std::move(given.error);
                    credentials_ = std::move(given.credentials);
                    answer(credentials_ ? credentials_->secret : std::string());
                });
        };
    return config;
}

void MailingRun::startDelivery() {
    std::vector<std::string>* accepted = &acceptedScratch_;
    if (kind_ == MailingKind::Mailing && !options_.dryRunDir) {
        try {
            static const Database noDatabase;
            results_ = std::make_unique<RunResultsWriter>(
                st_.runResultsPath(), IdentifyPeople(st_.db ? *st_.db : noDatabase, *recipients_));
        } catch (const std::exception& e) {
            summary_.fileErrors.push_back(e.what()); // the run goes on without its results file
        }
        // The accepted addresses follow the block's head in the session's sent log.
        sentLog_ = std::make_unique<SentLogBlock>(st_.sentLog, subject_);
        accepted = &st_.sentLog;
    }
    transport_ = std::move(options_.transport);
    if (!transport_) {
        transport_ = options_.dryRunDir ? MakeDryRunTransport(*options_.dryRunDir)
                                        : MakeSmtpTransport(deliveryConfig(), st_.runLog,
                                                            &st_.runLogSaved, st_.runLogPath());
    }
    if (!enter(RunState::Delivering)) return;
    // The transport holds the messages from here on, each dropped after its outcome.
    TransportJob job{std::move(messages_), summary_.recipients, recorder_.get(), accepted};
    try {
        summary_.started = true;
        transport_->start(std::move(job));
    } catch (const std::exception& e) {
        if (options_.dryRunDir) return end(RunEnding::DryRunFailed, e.what());
        summary_.started = false;
        summary_.startError = e.what();
        enter(RunState::Finishing);
        finish_.start();
    }
}

void MailingRun::cancel(const std::string& stopSignalName) {
    switch (state_) {
    case RunState::Idle:
    case RunState::Finishing:
    case RunState::Ended:
        return;
    case RunState::Checking:
    case RunState::AwaitingConfirmation:
    case RunState::AwaitingCredentials:
    case RunState::Preparing:
        settle_.stop();
        return end(RunEnding::Cancelled);
    case RunState::Delivering:
        break;
    }
    dropQuestions(); // a token renewal asked for
    if (!stopSignalName.empty() && transport_->running()) summary_.stoppedBy = stopSignalName;
    if (!transport_->cancel(stopSignalName)) summary_.runLogError = transport_->runLogError();
    enter(RunState::Finishing);
    finish_.start();
}

void MailingRun::finish() {
    if (state_ != RunState::Finishing) return;
    if (transport_) {
        summary_.accepted = transport_->acceptedCount();
        summary_.errorsOccurred = transport_->errorsOccurred();
        summary_.dryRun = transport_->dryRunResult();
    }
    if (sentLog_) {
        try {
            sentLog_->finish(st_.sentLogPath());
        } catch (const std::exception& e) {
            summary_.fileErrors.push_back(e.what());
        }
        sentLog_.reset();
    }
    results_.reset();
    if (transport_) {
        try {
            transport_->close();
        } catch (const std::exception& e) {
            summary_.fileErrors.push_back(e.what());
        }
    }
    end(options_.dryRunDir ? RunEnding::DryRunWritten : RunEnding::Delivered);
}

std::vector<std::string> MailingRun::takeFileErrors() {
    std::vector<std::string> taken;
    taken.swap(summary_.fileErrors);
    return taken;
}

MailEditors TemplateEditors(const AppState& st, const MailEditors& editors, bool previewShown) {
    if (!previewShown) return editors;
    MailEditors eds;
    std::vector<std::string> lines = st.mailText.lines;
    bool hasHeader = st.mailText.hasHeader;
    ParseMailHeader(lines, eds, hasHeader);
    eds.body = std::move(lines);
    return eds;
}

} // namespace tandrel
