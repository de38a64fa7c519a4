// `tandrel send`: loading the files like the window does, preparing every person's
// message, and writing them out or delivering them, with progress on stderr.
#include "SendCommandLine.h"

#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <termios.h>
#include <unistd.h>

#include "Compose.h"
#include "CsvFile.h"
#include "DatabaseFile.h"
#include "FieldFile.h"
#include "HeadlessDelivery.h"
#include "Keyring.h"
#include "MailFile.h"
#include "MailingRun.h"
#include "Mime.h"
#include "RunResults.h"
#include "SendCheck.h"
#include "Settings.h"
#include "TextFile.h"

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
        constexpr int width = 30;
        const int filled = percent * width / 100;
        err_ << '\r' << what << " [" << std::string(filled, '#') << std::string(width - filled, ' ')
             << "] " << percent << "%" << std::flush;
        open_ = true;
    }
    void finish() {
        if (open_) err_ << '\n' << std::flush;
        open_ = false;
        last_ = -1;
    }

private:
    std::ostream& err_;
    bool shown_;
    bool open_ = false;
    int last_ = -1;
};

// The memo of a delivery holds the reports of problems (a heading such as "Error, ..."
// and the server's reply, a line each) and, besides them, the acceptances, reconnections
// and closing count, which the summary on stdout gives instead.
bool ReportsProblem(const std::string& memoLine) {
    if (memoLine.empty()) return false;
    for (const char* routine : {"Mail was sent to: ", "Reconnecting after ",
                                "All letters have been sent", "Some errors occurred!"})
        if (memoLine.starts_with(routine)) return false;
    return !(memoLine.front() >= '0' && memoLine.front() <= '9' &&
             memoLine.ends_with(" letters have been sent"));
}

// A line as the terminal shows it: a control byte the server sent (a lone CR, an escape
// sequence) is written out as \r or \xNN instead of acting on the terminal.
std::string Printable(const std::string& line) {
    std::string out;
    for (const char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
            out += hex;
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

class CommandLineListener : public RecordingListener {
public:
    explicit CommandLineListener(ProgressLine& progress) : progress_(progress) {}
    void setGauge(int value) override {
        RecordingListener::setGauge(value);
        progress_.show("Sending  ", value);
    }
    // Only the problems are kept: a long run would otherwise hold a line per message.
    void memoAppend(const std::string& line) override {
        if (ReportsProblem(line)) problems.push_back(Printable(line));
    }
    void setStatus(const std::string&) override {}
    void messageOutcome(std::size_t message, MessageOutcome outcome) override {
        if (results) results->record(message, RunResultOf(outcome));
    }

    std::unique_ptr<RunResultsWriter> results; // null: the run has no results file
    std::vector<std::string> problems;         // for stderr; the run log has them in full

private:
    ProgressLine& progress_;
};

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

std::string AskPasswordOnTerminal(const std::string& user) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty)
        throw Stop{"a password is needed for " + user +
                   ": remember it in the window's password prompt, or set TANDREL_PASSWORD"};
    std::fprintf(tty, "Password for %s: ", user.c_str());
    std::fflush(tty);
    termios saved{};
    const bool canHide = ::tcgetattr(fileno(tty), &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    std::string password;
    for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';)
        password.push_back(static_cast<char>(c));
    if (canHide) ::tcsetattr(fileno(tty), TCSAFLUSH, &saved);
    std::fputc('\n', tty);
    std::fclose(tty);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

// The variable first: a script that sets it means this run. Then the password the window
// remembered in the keyring for the same login and server; then the terminal.
RelayLogin ObtainLogin(const GlobalPrefs& prefs, PasswordKeeper* keyring) {
    RelayLogin login;
    login.user = prefs.user;
    if (login.user.empty()) return login;
    std::optional<std::string> stored;
    if (const char* env = std::getenv("TANDREL_PASSWORD"))
        login.password = env;
    else if (keyring && (stored = keyring->load(KeyringAccount(prefs))))
        login.password = *stored;
    else
        login.password = AskPasswordOnTerminal(login.user + " at " + prefs.smtp);
    // The password goes into a protocol command; a line break would end that command.
    if (login.password.find_first_of("\r\n") != std::string::npos)
        throw Stop{"the password holds a line break"};
    return login;
}

void LoadPeople(AppState& st, const SendOptions& o) {
    if (IsCsvPath(o.db)) {
        LoadCsvDatabase(st, o.db);
        return;
    }
    if (o.fields.empty())
        throw Stop{"the database " + o.db + " is not a .csv file, so it needs --fields FILE"};
    LoadFields(st, o.fields);
    if (!FileExists(o.db)) throw Stop{"Cannot open file " + o.db};
    LoadDatabase(st, o.db);
}

// Letters, digits and the harmless punctuation of addresses; the rest becomes '_'.
std::string FileNameSafe(const std::string& address) {
    std::string out;
    for (const char c : address.substr(0, 100)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '@' || c == '.' || c == '-' || c == '_' ||
                          c == '+';
        out.push_back(keep ? c : '_');
    }
    return out.empty() ? "no-address" : out;
}

// The number is padded to the width of the count (five digits at least), so that the
// files sort in the order of the people.
std::string MessageFileName(std::size_t index, std::size_t total, const std::string& address) {
    std::string number = std::to_string(index + 1);
    const std::size_t width = std::max<std::size_t>(5, std::to_string(total).size());
    number.insert(0, width - std::min(width, number.size()), '0');
    return number + "-" + FileNameSafe(address) + ".eml";
}

// The list of the files a dry run wrote, kept in its folder: only those are ever removed.
constexpr const char* kDryRunList = ".tandrel-dry-run";

// A name as MessageFileName makes them: five digits or more, a dash, ".eml"; no folder.
bool IsMessageFileName(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash < 5 || dash == std::string::npos || name.find('/') != std::string::npos) return false;
    if (!std::all_of(name.begin(), name.begin() + static_cast<long>(dash),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return name.size() >= dash + 1 + 4 && name.ends_with(".eml");
}

// An earlier run into the same folder would leave its people mixed with these. Only the
// files its list names are removed, so a user's own files there stay, whatever their
// names. Returns how many were removed.
std::size_t RemoveEarlierDryRun(const std::string& dir) {
    namespace fs = std::filesystem;
    const std::string list = dir + "/" + kDryRunList;
    if (!FileExists(list)) return 0;
    std::size_t removed = 0;
    for (const std::string& name : SplitAtLineEnds(ReadUserTextFile(list))) {
        if (!IsMessageFileName(name)) continue;
        std::error_code ec;
        const fs::path path = fs::path(dir) / name;
        if (!fs::is_regular_file(fs::symlink_status(path, ec))) continue;
        if (!fs::remove(path, ec) && ec)
            throw Stop{"Cannot remove " + path.string() + ": " + ec.message()};
        ++removed;
    }
    return removed;
}

int WriteDryRun(const AppState& st, const std::string& dir, std::ostream& out,
                ProgressLine& progress) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw Stop{"Cannot create folder " + dir + ": " + ec.message()};
    const std::size_t removed = RemoveEarlierDryRun(dir);
    const std::size_t total = st.outgoing.size();
    std::vector<std::string> names;
    names.reserve(total);
    for (std::size_t i = 0; i < total; ++i)
        names.push_back(MessageFileName(i, total, st.outgoing[i].address));
    // Listed before they are written, so that an interrupted run is cleared up as well.
    WriteTextFile(dir + "/" + kDryRunList, names);
    for (std::size_t i = 0; i < total; ++i) {
        WriteTextFile(dir + "/" + names[i], st.outgoing[i].lines.toVector());
        progress.show("Writing  ", static_cast<int>((i + 1) * 100 / total));
    }
    progress.finish();
    out << total << (total == 1 ? " message" : " messages") << " written to " << dir;
    if (removed > 0) out << ", replacing the " << removed << " of the earlier dry run";
    out << "; nothing was sent.\n";
    return ExitAllAccepted;
}

int Deliver(AppState& st, const std::vector<ReceipData*>& recipients, const RelayLogin& login,
            const std::string& subject, std::ostream& out, std::ostream& err,
            ProgressLine& progress) {
    std::vector<std::string> sentLog = {"Mailing started " + Rfc822Date(), "",
                                        "Subject: " + subject, "", "Mails sent to:"};
    std::vector<std::string> runLog;
    DeliveryConfig config = DeliveryConfigFor(st, login.password);
    // The dialogue would rewrite the whole log file from memory; this run's lines are
    // appended below instead, so a long log is neither read nor rewritten.
    config.runLogPath.clear();

    CommandLineListener listener(progress);
    try {
        listener.results = std::make_unique<RunResultsWriter>(st.runResultsPath(),
                                                              IdentifyPeople(*st.db, recipients));
    } catch (const std::exception& e) {
        err << "tandrel: " << e.what() << '\n'; // the run goes on without its results file
    }
    SmtpDialogue dialogue(listener, runLog, sentLog);
    // Stopped as the window's Cancel stops it: nothing more goes out, and what did is
    // logged below like at the end of any run. Kept until the logs are written.
    StopSignals stopSignals([&dialogue](int) {
        if (dialogue.running()) dialogue.cancel();
    });
    std::string startError;
    try {
        dialogue.start(st.outgoing, st.RecipientCount, config);
        WaitForRunEnd(dialogue, listener, INT_MAX);
    } catch (const std::exception& e) {
        startError = e.what();
    }
    dialogue.closeConnection();
    progress.finish();
    const std::string stoppedBy = stopSignals.received() ? SignalName(stopSignals.received()) : "";
    if (!stoppedBy.empty()) runLog.push_back("Stopped by " + stoppedBy + ", nothing more sent");
    const int accepted = dialogue.acceptedCount();
    const bool failed = dialogue.errorsOccurred() || !startError.empty() ||
                        accepted < static_cast<int>(st.outgoing.size());
    OutgoingList().swap(st.outgoing);

    sentLog.push_back("");
    sentLog.push_back("");
    for (const auto& [path, lines] :
         {std::pair{st.runLogPath(), &runLog}, std::pair{st.sentLogPath(), &sentLog}}) {
        try {
            if (!lines->empty()) AppendTextFile(path, *lines);
        } catch (const std::exception& e) {
            // Reported, but the status still tells what the server did: a script that
            // retries on failure must not send every accepted message a second time.
            err << "tandrel: " << e.what() << '\n';
        }
    }

    if (!startError.empty()) err << "tandrel: " << startError << '\n';
    // The problems only; the whole dialogue is in the run log, the accepted addresses
    // are in the sent log.
    for (const std::string& line : listener.problems)
        err << line << '\n';
    if (!stoppedBy.empty()) err << "tandrel: stopped by " << stoppedBy << ".\n";
    out << accepted << " of " << st.RecipientCount << " messages accepted by " << config.smtp
        << ".\n";
    return failed ? ExitSomeFailed : ExitAllAccepted;
}

} // namespace

bool CheckBeforeSendingOnCommandLine(const AppState& st, const std::vector<ReceipData*>& recipients,
                                     bool force, std::ostream& err) {
    const std::vector<SendProblem> problems = CheckBeforeSending(st, recipients);
    if (problems.empty()) return true;
    err << "Check before sending:\n";
    for (const SendProblem& problem : problems)
        err << (problem.severity == CheckSeverity::Blocking ? "  error:   " : "  warning: ")
            << problem.text << '\n';
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
        st.ProgramDir = dataDir;
        st.LocalComputerName = ComputeLocalComputerName();
        const Profile ini(st.iniPath());
        WindowGeometry geo;
        ReadSettings(ini, st.prefs, st.user, geo);

        LoadPeople(st, options);
        MailEditors eds;
        if (!LoadMail(st, options.mail, eds)) throw Stop{"Cannot open file " + options.mail};
        for (const std::string& path : options.attachments)
            st.attachments.push_back(MakeAttachment(path));

        std::vector<ReceipData*> recipients;
        if (st.db)
            for (const EntryPtr& entry : st.db->entries)
                recipients.push_back(entry.get());
        if (recipients.empty()) throw Stop{"the database " + options.db + " holds nobody"};

        if (!CheckBeforeSendingOnCommandLine(st, recipients, options.force, err))
            return ExitUsageOrFile;

        const RelayLogin login = options.dryRunDir ? RelayLogin{} : ObtainLogin(st.prefs, keyring);
        PrepareAllMails(st, recipients, [&](int v) { progress.show("Preparing", v); });
        progress.finish();

        if (options.dryRunDir) return WriteDryRun(st, *options.dryRunDir, out, progress);
        return Deliver(st, recipients, login, eds.subject, out, err, progress);
    } catch (const ComposeError& e) {
        progress.finish();
        err << "tandrel: the mails could not be prepared: " << e.what()
            << "\nNo mail has been sent.\n";
        return ExitUsageOrFile;
    } catch (const Stop& stop) {
        progress.finish();
        err << "tandrel: " << stop.text << '\n';
    } catch (const std::exception& e) {
        progress.finish();
        err << "tandrel: " << e.what() << '\n';
    }
    return ExitUsageOrFile;
}

} // namespace tandrel
