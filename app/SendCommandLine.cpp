// `tandrel send`: loading the files like the window does, preparing every person's
// message, and writing them out or delivering them, with progress on stderr.
#include "SendCommandLine.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
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

class CommandLineListener : public RecordingListener {
public:
    explicit CommandLineListener(ProgressLine& progress) : progress_(progress) {}
    void setGauge(int value) override {
        RecordingListener::setGauge(value);
        progress_.show("Sending  ", value);
    }
    void messageOutcome(std::size_t message, MessageOutcome outcome) override {
        if (results) results->record(message, RunResultOf(outcome));
    }

    std::unique_ptr<RunResultsWriter> results; // null: the run has no results file

private:
    ProgressLine& progress_;
};

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

std::string MessageFileName(std::size_t index, const std::string& address) {
    char number[16];
    std::snprintf(number, sizeof number, "%05zu", index + 1);
    return std::string(number) + "-" + FileNameSafe(address) + ".eml";
}

int WriteDryRun(const AppState& st, const std::string& dir, std::ostream& out,
                ProgressLine& progress) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw Stop{"Cannot create folder " + dir + ": " + ec.message()};
    const std::size_t total = st.outgoing.size();
    for (std::size_t i = 0; i < total; ++i) {
        const MailNode& node = st.outgoing[i];
        WriteTextFile(dir + "/" + MessageFileName(i, node.address), node.lines.toVector());
        progress.show("Writing  ", static_cast<int>((i + 1) * 100 / total));
    }
    progress.finish();
    out << total << (total == 1 ? " message" : " messages") << " written to " << dir
        << "; nothing was sent.\n";
    return ExitAllAccepted;
}

int Deliver(AppState& st, const std::vector<ReceipData*>& recipients, const RelayLogin& login,
            const std::string& subject, std::ostream& out,
            std::ostream& err, ProgressLine& progress) {
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
    std::string startError;
    try {
        dialogue.start(st.outgoing, st.RecipientCount, config);
        WaitForRunEnd(dialogue, listener, INT_MAX);
    } catch (const std::exception& e) {
        startError = e.what();
    }
    dialogue.closeConnection();
    progress.finish();
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
    // The errors as the run log keeps them; the accepted addresses are in the sent log.
    for (const std::string& line : runLog)
        if (!line.starts_with("Mail was sent to: ")) err << line << '\n';
    out << accepted << " of " << st.RecipientCount << " messages accepted by " << config.smtp
        << ".\n";
    return failed ? ExitSomeFailed : ExitAllAccepted;
}

} // namespace

bool CheckBeforeSendingOnCommandLine(const AppState& st,
                                     const std::vector<ReceipData*>& recipients, bool force,
                                     std::ostream& err) {
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
