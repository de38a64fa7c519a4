// SPDX-License-Identifier: GPL-3.0-or-later
// The mailing run's steps.
#include "mailing/MailingRun.h"

#include <exception>
#include <iterator>

#include "mailing/DeliveryRun.h"
#include "mailing/DeliverySettings.h"
#include "model/MailFile.h"
#include "merge/Preparation.h"
#include "model/RunResults.h"
#include "mailing/SentLog.h"
#include "model/Settings.h"

namespace tandrel {

// Between the delivery and the front end's observer: keeps each outcome in the results
// file and tells the credential source of a refused login, then passes everything on.
class MailingRun::Relay : public MailingObserver {
public:
    explicit Relay(MailingRun& run) : run_(run) {}

    void deliveryProgress(int percent) override {
        if (run_.observer_) run_.observer_->deliveryProgress(percent);
    }
    void deliveryEvent(const DeliveryEvent& event) override {
        if (event.kind == DeliveryEvent::Kind::Problem &&
            event.problem == DeliveryProblem::LoginRefused && run_.credentialSource_)
            run_.credentialSource_->credentialsRefused(LoginRequest(run_.st_.prefs));
        if (run_.observer_) run_.observer_->deliveryEvent(event);
    }
    void reportCleared() override {
        if (run_.observer_) run_.observer_->reportCleared();
    }
    void reportLine(const std::string& line) override {
        if (run_.observer_) run_.observer_->reportLine(line);
    }
    void statusChanged(const std::string& text) override {
        if (run_.observer_) run_.observer_->statusChanged(text);
    }
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
        if (run_.observer_) run_.observer_->messageOutcome(message, outcome, reply);
    }
    void deliveryEnded(const DeliverySummary& summary) override {
        if (!summary.runLogSaved) run_.summary_.runLogError = run_.delivery_->runLogError();
        if (run_.observer_) run_.observer_->deliveryEnded(summary);
    }

private:
    MailingRun& run_;
};

MailingRun::MailingRun(AppState& session, std::vector<Person*> recipients, std::string subject,
                       MailingKind kind)
    : st_(session), recipients_(std::make_shared<const RecipientList>(std::move(recipients))),
      subject_(std::move(subject)), kind_(kind), relay_(std::make_unique<Relay>(*this)) {}

MailingRun::~MailingRun() {
    delivery_.reset();
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

bool MailingRun::obtainCredentials(CredentialSource& source) {
    credentialSource_ = &source;
    credentials_.reset();
    if (st_.prefs.user.empty()) return true;
    credentials_ = source.credentialsFor(LoginRequest(st_.prefs));
    return credentials_.has_value();
}

void MailingRun::prepare() {
    messages_.reset();
    prepared_.reset();
    summary_.recipients = 0;
    // A test mail is merged with the person's own values, To and Cc lines included, and
    // goes to the sender alone: only the envelope names the sender.
    prepared_ = PrepareMailing(
        st_, recipients_,
        [this](int percent) {
            if (observer_) observer_->preparationProgress(percent);
        },
        kind_ == MailingKind::TestMail ? st_.prefs.fromAddress : std::string());
    useMessages(prepared_);
}

void MailingRun::prepareTestMail(MailEditors mail) {
    mail.subject = "[Test] " + mail.subject;
    const MailText kept = st_.mailText; // a shown preview relies on the template
    try {
        BuildMailText(st_, mail);
        prepare();
    } catch (...) {
        st_.mailText = kept;
        throw;
    }
    st_.mailText = kept;
}

void MailingRun::useMessages(std::shared_ptr<MessageSource> messages) {
    messages_ = std::move(messages);
    summary_.recipients = messages_ ? static_cast<int>(messages_->count()) : 0;
}

DryRunResult MailingRun::writeDryRun(const std::string& dir) {
    const std::shared_ptr<MessageSource> messages = std::move(messages_);
    if (!messages) return {};
    return WriteDryRun(*messages, dir, [this](int percent) {
        if (observer_) observer_->deliveryProgress(percent);
    });
}

void MailingRun::startDelivery() {
    std::vector<std::string>* accepted = &acceptedScratch_;
    if (kind_ == MailingKind::Mailing) {
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
    delivery_ = std::make_unique<DeliveryRun>(*relay_, st_.runLog, *accepted, &st_.runLogSaved);
    const std::string password = credentials_ ? credentials_->secret : std::string();
    DeliveryConfig config = DeliveryConfigFor(st_, password);
    if (config.bearerToken && credentialSource_)
        config.renewToken = [this](std::function<void(std::string)> answer) {
            answer(renewedSecret());
        };
    // The connections hold the messages from here on, each dropped after its outcome.
    std::shared_ptr<MessageSource> messages = std::move(messages_);
    if (!messages) messages = std::make_shared<ListedMessages>(OutgoingList());
    try {
        delivery_->start(messages, summary_.recipients, config, st_.runLogPath());
        summary_.started = true;
    } catch (const std::exception& e) {
        summary_.startError = e.what();
        throw;
    }
}

std::string MailingRun::renewedSecret() {
    const CredentialRequest request = LoginRequest(st_.prefs);
    credentialSource_->credentialsRefused(request);
    try {
        credentials_ = credentialSource_->credentialsFor(request);
    } catch (const std::exception&) {
        credentials_.reset(); // the refusal stands as the answer
    }
    return credentials_ ? credentials_->secret : std::string();
}

bool MailingRun::running() const {
    return delivery_ && delivery_->running();
}

bool MailingRun::waitForEnd(int timeoutMs) {
    return !delivery_ || delivery_->waitForEnd(timeoutMs);
}

void MailingRun::cancel(const std::string& stopSignalName) {
    if (!delivery_) return;
    if (!stopSignalName.empty() && delivery_->running()) summary_.stoppedBy = stopSignalName;
    if (!delivery_->cancel(stopSignalName)) summary_.runLogError = delivery_->runLogError();
}

MailingSummary MailingRun::finish() {
    messages_.reset();
    if (delivery_) {
        summary_.accepted = delivery_->acceptedCount();
        summary_.errorsOccurred = delivery_->errorsOccurred();
    }
    if (sentLog_) {
        try {
            sentLog_->finish(st_.sentLogPath());
        } catch (const std::exception& e) {
            summary_.fileErrors.push_back(e.what());
        }
    }
    results_.reset();
    if (delivery_) {
        try {
            delivery_->closeConnection();
        } catch (const std::exception& e) {
            summary_.fileErrors.push_back(e.what());
        }
    }
    return summary_;
}

std::vector<std::string> MailingRun::takeFileErrors() {
    std::vector<std::string> taken;
    taken.swap(summary_.fileErrors);
    return taken;
}

} // namespace tandrel
