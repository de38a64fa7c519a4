// SPDX-License-Identifier: GPL-3.0-or-later
// `tandrel send`: loading the files like the window does, then the mailing run: check,
// login, preparation, and the messages written out or delivered, with progress on stderr.
#include "app/SendCommandLine.h"

#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

#include "mailing/MailingRun.h"
#include "mailing/RunWords.h"
#include "merge/Compose.h"
#include "merge/Mime.h"
#include "merge/SendCheck.h"
#include "model/CsvFile.h"
#include "model/DatabaseDocument.h"
#include "model/DatabaseFile.h"
#include "model/FieldFile.h"
#include "model/MailFile.h"
#include "model/Settings.h"
#include "model/TextFile.h"
#include "model/VisibleText.h"
#include "oauth/BrowserLauncher.h"
#include "oauth/OAuthCredentials.h"
#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokenSource.h"

namespace tandrel {

namespace {

// A failure that ends the command with status 2 before anything is sent.
struct Stop {
    std::string text;
};

// One line, redrawn in place, when stderr is a terminal; nothing otherwise, so that logs
// of scheduled runs hold only the summary.
class ProgressLine {
public:
    explicit ProgressLine(std::ostream& err) : err_(err), shown_(::isatty(STDERR_FILENO) == 1) {}
    void show(const std::string& what, int percent) {
        if (!shown_ || percent == last_) return;
        last_ = percent;
        what_ = what;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        std::string line = '\r' + what + " [" + std::string(filled, '#') +
                           std::string(width - filled, ' ') + "] " + std::to_string(percent) + "%";
        length_ = line.size() - 1;
        err_ << line << std::flush;
        open_ = true;
    }
    // A line said while the stage goes on: the progress line is wiped for it and drawn
    // again at its next change.
    void say(const std::string& text) {
        if (open_) err_ << '\r' << std::string(length_, ' ') << '\r';
        open_ = false;
        last_ = -1;
        err_ << text << '\n' << std::flush;
    }
    // The stage is over: its line reaches 100% and is then wiped, so what follows (the
    // next stage, the summary, a problem) starts on a clean line.
    void finish() {
        if (open_) {
            show(what_, 100);
            err_ << '\r' << std::string(length_, ' ') << '\r' << std::flush;
        }
        open_ = false;
        last_ = -1;
    }

private:
    std::ostream& err_;
    bool shown_;
    bool open_ = false;
    int last_ = -1;
    std::string what_;
    std::size_t length_ = 0;
};

// A text for the terminal: control characters in what it quotes from outside (a server's
// or a helper's words, a file name) are written out instead of acting on the terminal,
// and its lines end in LF.
std::string ForTerminal(const std::string& text) {
    return VisibleLines(text, LineEnds::Lf);
}

// The write end of the pipe that carries a stop signal to the event loop. A signal
// handler can reach nothing but a global, so this is the one: set only while a delivery
// runs, and only ever written to by the handler.
volatile std::sig_atomic_t stopSignalPipe = -1;

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// Does only what is safe in a handler: one write, and the default action back so that
// a second signal ends the program at once.
void OnStopSignal(int signal) {
    const int savedErrno = errno;
    for (const int s : kStopSignals) {
        struct sigaction now {};
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler == OnStopSignal) {
            now.sa_handler = SIG_DFL;
            ::sigaction(s, &now, nullptr);
        }
    }
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(stopSignalPipe, &byte, 1);
    errno = savedErrno;
}

// While it lives, the first SIGINT or SIGTERM calls `onStop` from the event loop, where
// the dialogue may be touched. A signal the program was started with ignored (a job a
// script put in the background) stays ignored.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return; // the signals act as before
        stopSignalPipe = pipe_[1];
        notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { take(); });
        struct sigaction handler {};
        handler.sa_handler = OnStopSignal;
        sigemptyset(&handler.sa_mask);
        handler.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            installed_[i] = ::sigaction(kStopSignals[i], nullptr, &saved_[i]) == 0 &&
                            saved_[i].sa_handler != SIG_IGN &&
                            ::sigaction(kStopSignals[i], &handler, nullptr) == 0;
        }
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            if (installed_[i]) ::sigaction(kStopSignals[i], &saved_[i], nullptr);
        if (pipe_[0] < 0) return;
        stopSignalPipe = -1;
        notifier_.reset();
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that stopped the run; 0 when none did.
    int received() const { return received_; }

private:
    void take() {
        unsigned char byte = 0;
        while (::read(pipe_[0], &byte, 1) == 1) {
            if (received_ != 0) continue;
            received_ = byte;
            onStop_(received_);
        }
    }

    std::function<void(int)> onStop_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction saved_[std::size(kStopSignals)]{};
    bool installed_[std::size(kStopSignals)] = {};
    int received_ = 0;
};

std::string SignalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : std::to_string(signal);
}

// The terminal a password is being typed on without echo, and its settings before: a
// stop signal then puts them back before it ends the program, which would otherwise leave
// the terminal without echo. Globals for the same reason as the pipe above; set only
// while the password is asked for.
volatile std::sig_atomic_t hiddenTerminal = -1;
termios terminalBefore{};

void RestoreTerminalAndStop(int signal) {
    const int savedErrno = errno;
    if (hiddenTerminal >= 0) ::tcsetattr(hiddenTerminal, TCSANOW, &terminalBefore);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    ::raise(signal); // delivered, with its default action, once this handler returns
    errno = savedErrno;
}

// While it lives, the echo of `fd` is off, and a stop signal puts it back first.
class HiddenTyping {
public:
    explicit HiddenTyping(int fd) {
        if (::tcgetattr(fd, &terminalBefore) != 0) return;
        hiddenTerminal = fd;
        struct sigaction handler {};
        handler.sa_handler = RestoreTerminalAndStop;
        sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaddset(&handler.sa_mask, kStopSignals[i]);
            installed_[i] = ::sigaction(kStopSignals[i], nullptr, &saved_[i]) == 0 &&
                            saved_[i].sa_handler != SIG_IGN;
        }
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            if (installed_[i]) installed_[i] = ::sigaction(kStopSignals[i], &handler, nullptr) == 0;
        termios quiet = terminalBefore;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        hidden_ = true;
    }
    ~HiddenTyping() {
        if (!hidden_) return;
        ::tcsetattr(hiddenTerminal, TCSAFLUSH, &terminalBefore);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            if (installed_[i]) ::sigaction(kStopSignals[i], &saved_[i], nullptr);
        hiddenTerminal = -1;
    }
    HiddenTyping(const HiddenTyping&) = delete;
    HiddenTyping& operator=(const HiddenTyping&) = delete;

private:
    bool hidden_ = false;
    struct sigaction saved_[std::size(kStopSignals)]{};
    bool installed_[std::size(kStopSignals)] = {};
};

// The last of the sources: asks on the terminal, or says how else to give a password.
class TerminalCredentials : public ImmediateCredentialSource {
public:
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override {
        const std::string who = request.user + " at " + request.host;
        FILE* tty = std::fopen("/dev/tty", "r+");
        if (!tty)
            throw std::runtime_error("a password is needed for " + who +
                                     ": remember it in the window's password prompt, or set "
                                     "TANDREL_PASSWORD");
        std::fprintf(tty, "Password for %s: ", who.c_str());
        std::fflush(tty);
        std::string password;
        {
            const HiddenTyping hidden(fileno(tty));
            for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';)
                password.push_back(static_cast<char>(c));
        }
        std::fputc('\n', tty);
        std::fclose(tty);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return Credentials{request.user, password};
    }
};

// The variable first: a script that sets it means this run. Then the password the window
// remembered in the keyring for the same login and server; then the terminal. The run
// refuses a password it cannot use (PasswordFault), as the window does.
class CommandLineCredentials : public FirstCredentialsOf {
public:
    explicit CommandLineCredentials(PasswordKeeper* keyring)
        : FirstCredentialsOf({&environment_, &kept_, &terminal_}), kept_(keyring) {}

private:
    EnvironmentCredentials environment_;
    KeptCredentials kept_;
    TerminalCredentials terminal_;
};

// The bearer-token login without a window: the browser named by $BROWSER (or xdg-open)
// for a sign-in; where none starts, the address is shown and the sign-in waits for
// someone to open it. A refresh token the window remembered is taken from the keyring;
// one that comes new is kept in memory only.
class CommandLineTokens {
public:
    CommandLineTokens(PasswordKeeper* keyring, const Preferences& prefs, std::ostream& err)
        : tokens_(OAuthTokenSource::Options{[&err](const QUrl& address) {
                                                if (OpenUrlInBrowser(address)) return true;
                                                err << "tandrel: open this address in a "
                                                       "browser to sign in:\n  "
                                                    << address.toString().toStdString()
                                                    << std::endl;
                                                return false;
                                            },
                                            keyring}),
          credentials_(tokens_, prefs, false) {}
    CredentialSource& credentials() { return credentials_; }

private:
    OAuthTokenSource tokens_;
    OAuthCredentials credentials_;
};

void LoadPeople(AppState& st, const SendOptions& o, std::ostream& err) {
    if (!FileExists(o.db)) throw Stop{"Cannot open file " + o.db};
    CsvColumnsTaken taken;
    DatabaseLoad loaded = DatabaseLoad::Loaded;
    try {
        loaded = LoadDatabaseFiles(st, o.db, o.fields, o.emailColumn, &taken);
    } catch (const NoAddressColumn& e) {
        throw Stop{std::string(e.what()) +
                   "\nName the column that holds the e-mail addresses with --email-column NAME."};
    }
    if (loaded == DatabaseLoad::Loaded) {
        if (!taken.email.empty()) { // read with its header row
            if (const std::string note = CsvColumnsNote(taken); !note.empty())
                err << "tandrel: " << o.db << ": " << note << '\n';
        } else if (!o.emailColumn.empty()) {
            throw Stop{"--email-column is for a .csv file with a header row; " + o.db +
                       " begins with a person and is read through --fields"};
        }
        return;
    }
    // A .csv file whose first row is a person is a database in the program's own format,
    // which takes its fields from a field list like any other.
    throw Stop{"the database " + o.db +
               (IsCsvPath(o.db) ? " begins with a person, not with a header row naming the fields"
                                : " is not a .csv file") +
               ", so it needs --fields FILE"};
}

// The run on the terminal: the check's problems printed (and let through with --force
// or for a dry run), the gauge, the problems of the delivery kept for the end (a long run
// would otherwise print a line per message; the whole dialogue is in the run log), a stop
// signal while delivering taken as the window's Cancel, and the summary.
class CommandLineFrontEnd : public MailingFrontEnd {
public:
    CommandLineFrontEnd(MailingRun& run, ProgressLine& progress, const Preferences& prefs,
                        const SendOptions& options, std::ostream& out, std::ostream& err)
        : run_(run), progress_(progress), prefs_(prefs), options_(options), out_(out), err_(err),
          stage_(options.dryRunDir ? "Writing  " : "Sending  ") {}

    // Called once the run has ended.
    std::function<void()> whenEnded;
    int exitStatus = ExitUsageOrFile;

    void confirmProblems(const std::vector<SendProblem>& problems,
                         std::function<void(bool)> answer) override {
        // A dry run is the look before sending: warnings are printed, not obeyed.
        answer(
            CheckBeforeSendingOnCommandLine(problems, options_.force || options_.dryRunDir, err_));
    }
    void stateChanged(RunState state) override {
        if (state != RunState::Delivering) return;
        progress_.finish(); // the preparation's line
        // The run goes on without its results file. Texts quoting a file's name or outside
        // words reach the terminal with their control characters written out.
        for (const std::string& problem : run_.takeFileErrors())
            err_ << "tandrel: " << ForTerminal(problem) << '\n';
        // Stopped as the window's Cancel stops it: nothing more goes out, and what did is
        // logged like at the end of any run.
        if (!options_.dryRunDir)
            stopSignals_.emplace([this](int signal) { run_.cancel(SignalName(signal)); });
    }
    void preparationProgress(int percent) override { progress_.show("Preparing", percent); }
    void deliveryProgress(int percent) override { progress_.show(stage_, percent); }
    void deliveryEvent(const DeliveryEvent& event) override {
        // Said at once: the run may wait minutes more before it ends.
        if (event.kind == DeliveryEvent::Kind::ServerSilent) {
            for (const std::string& line : WordsFor(event).report)
                progress_.say(ForTerminal(line));
            return;
        }
        if (event.kind != DeliveryEvent::Kind::Problem) return;
        for (const std::string& line : WordsFor(event).report)
            if (!line.empty()) problems_.push_back(ForTerminal(line));
        // Where the connection was tried, and where that is set, as the window says it.
        if (const std::string hint = ConnectionHint(event, prefs_.smtp, prefs_.port); !hint.empty())
            problems_.push_back(ForTerminal(hint));
    }
    void runEnded(const MailingSummary& summary) override {
        progress_.finish();
        const int received = stopSignals_ ? stopSignals_->received() : 0;
        stopSignals_.reset();
        exitStatus = report(summary, received);
        if (whenEnded) whenEnded();
    }

private:
    int report(const MailingSummary& summary, int stopSignal) {
        switch (summary.ending) {
        case RunEnding::Delivered:
            return reportDelivery(summary, stopSignal);
        case RunEnding::DryRunWritten:
            return reportDryRun(summary.dryRun);
        case RunEnding::PreparationFailed:
            err_ << "tandrel: " << ForTerminal(NotPreparedText(summary.problem)) << '\n'
                 << kNoMailSent << '\n';
            return ExitUsageOrFile;
        case RunEnding::CredentialsDeclined:
            err_ << "tandrel: no password given; " << kNoMailSent << '\n';
            return ExitUsageOrFile;
        case RunEnding::CredentialsFailed:
        case RunEnding::NotStartable:
        case RunEnding::DryRunFailed:
            err_ << "tandrel: " << ForTerminal(summary.problem) << '\n';
            return ExitUsageOrFile;
        case RunEnding::CheckDeclined: // the check said why
        case RunEnding::Prepared:
        case RunEnding::Cancelled:
            break;
        }
        return ExitUsageOrFile;
    }

    int reportDryRun(const DryRunResult& result) {
        const std::size_t total = result.written;
        out_ << total << (total == 1 ? " message" : " messages") << " written to "
             << *options_.dryRunDir;
        if (result.removed > 0)
            out_ << ", replacing the " << result.removed << " of the earlier dry run";
        out_ << "; nothing was sent.\n";
        return ExitAllAccepted;
    }

    int reportDelivery(const MailingSummary& summary, int stopSignal) {
        // Reported, but the status still tells what the server did: a script that retries
        // on failure must not send every accepted message a second time.
        if (!summary.runLogError.empty())
            err_ << "tandrel: " << ForTerminal(summary.runLogError) << '\n';
        for (const std::string& problem : summary.fileErrors)
            err_ << "tandrel: " << ForTerminal(problem) << '\n';
        if (!summary.startError.empty())
            err_ << "tandrel: " << ForTerminal(ConnectErrorText(prefs_.smtp, summary.startError))
                 << '\n';
        if (!summary.renewalError.empty())
            err_ << "tandrel: " << ForTerminal(summary.renewalError) << '\n';
        // The problems only; the whole dialogue is in the run log, the accepted addresses
        // are in the sent log.
        for (const std::string& line : problems_)
            err_ << line << '\n';
        if (stopSignal != 0) err_ << "tandrel: stopped by " << SignalName(stopSignal) << ".\n";
        out_ << summary.accepted << " of " << summary.recipients << " messages accepted by "
             << prefs_.smtp << ".\n";
        // Not picked again by Recipients Not Reached: the server may have stored them.
        if (!summary.maybeDelivered.empty())
            out_ << ForTerminal(MaybeDeliveredLine(summary.maybeDelivered)) << ".\n";
        return summary.failed() ? ExitSomeFailed : ExitAllAccepted;
    }

    MailingRun& run_;
    ProgressLine& progress_;
    const Preferences& prefs_;
    const SendOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    std::string stage_;
    std::vector<std::string> problems_;
    std::optional<StopSignals> stopSignals_;
};

} // namespace

bool CheckBeforeSendingOnCommandLine(const std::vector<SendProblem>& problems, bool force,
                                     std::ostream& err) {
    if (problems.empty()) return true;
    err << "Check before sending:\n";
    for (const SendProblem& problem : problems)
        err << (problem.severity == CheckSeverity::Blocking ? "  error:   " : "  warning: ")
            << ForTerminal(problem.text) << '\n';
    // A file that cannot be read would only fail the preparation a moment later.
    if (HasBlockingProblem(problems)) {
        err << "tandrel: nothing was sent.\n";
        return false;
    }
    if (!force) err << "tandrel: nothing was sent; --force sends anyway.\n";
    return force;
}

int RunSendCommand(const SendOptions& options, const std::string& dataDir, std::ostream& out,
                   std::ostream& err, PasswordKeeper* keyring) {
    AppState st;
    ProgressLine progress(err);
    try {
        st.programDir = dataDir;
        st.computerName = ComputeLocalComputerName();
        const Profile ini(st.iniPath());
        WindowGeometry geo;
        ReadSettings(ini, st.prefs, st.user, geo);

        LoadPeople(st, options, err);
        MailEditors eds;
        if (!LoadMail(st, options.mail, eds)) throw Stop{"Cannot open file " + options.mail};
        for (const std::string& path : options.attachments)
            st.attachments.push_back(MakeAttachment(path));

        std::vector<Person*> recipients;
        if (st.db)
            for (const EntryPtr& entry : st.db->entries)
                recipients.push_back(entry.get());
        if (recipients.empty()) throw Stop{"the database " + options.db + " holds nobody"};

        CommandLineCredentials passwords(keyring);
        std::optional<CommandLineTokens> tokens;
        if (UsesOAuth(st.prefs)) tokens.emplace(keyring, st.prefs, err);
        MailingRun run(st, recipients, eds.subject);
        CommandLineFrontEnd frontEnd(run, progress, st.prefs, options, out, err);
        RunOptions runOptions;
        runOptions.credentials = tokens ? &tokens->credentials() : &passwords;
        runOptions.dryRunDir = options.dryRunDir;
        // The run ends by itself; the event loop carries it (sign-in, delivery) meanwhile.
        QEventLoop loop;
        frontEnd.whenEnded = [&loop] { loop.quit(); };
        run.start(frontEnd, std::move(runOptions));
        if (!run.ended()) loop.exec();
        return frontEnd.exitStatus;
    } catch (const Stop& stop) {
        progress.finish();
        err << "tandrel: " << ForTerminal(stop.text) << '\n';
    } catch (const std::exception& e) {
        progress.finish();
        err << "tandrel: " << ForTerminal(e.what()) << '\n';
    }
    return ExitUsageOrFile;
}

} // namespace tandrel
