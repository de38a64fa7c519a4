// SPDX-License-Identifier: GPL-3.0-or-later
// tandrel-bench: runs a mailing run through the program's own pipeline, without any
// window, and prints how long each stage took. Used by scripts/bench.sh against smtp-sink.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mailing/MailingRun.h"
#include "mailing/RunWords.h"
#include "merge/Preparation.h"
#include "model/AppState.h"
#include "model/DatabaseFile.h"
#include "model/FieldFile.h"
#include "model/MailFile.h"
#include "model/Settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of the whole process so far (user plus system), in seconds. On a busy
// machine this grows with the work done, where the wall clock also counts waiting.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss; // kilobytes on Linux
}

const char* const kUsage =
    "usage: tandrel-bench [--load-only | --prepare-only] [--timeout SECONDS] [--ehlo]\n"
    "                     [--connections N] [--ini FILE] FIELDS DB MAIL HOST PORT [ATTACHMENT...]\n"
    "\n"
    "Loads the field, database and mail files, selects every person, prepares one\n"
    "message per person (with the given attachments) and delivers them all to\n"
    "HOST:PORT, through the same mailing run as the program.\n"
    "\n"
    "  --load-only     stop after loading the three files (times the load alone,\n"
    "                  e.g. to compare 10 000 with 100 000 people); HOST and PORT\n"
    "                  are not used\n"
    "  --prepare-only  load and prepare, but deliver nothing (memory of a large run);\n"
    "                  HOST and PORT are not used\n"
    "  --timeout S     give up delivery after S seconds (default 900; 0: never)\n"
    "  --ehlo          as ehlo=yes in the settings: EHLO, PIPELINING when offered\n"
    "  --connections N as connections=N in the settings (1 to 10)\n"
    "  --ini FILE      the settings (Tandrel.ini) to run with: sender, security, login\n"
    "                  (password from TANDREL_PASSWORD), time-out, messages per\n"
    "                  connection, rate; HOST and PORT replace its server. Without it\n"
    "                  every setting is its default\n"
    "\n"
    "The last line is always\n"
    "  prepare_s=... deliver_s=... messages=... accepted=... peak_rss_kb=...\n"
    "Exit status: 0 run completed, 1 usage, 2 load or preparation failed,\n"
    "3 delivery failed to start or timed out.\n";

enum class Mode { Full, LoadOnly, PrepareOnly };

struct Options {
    Mode mode = Mode::Full;
    int timeoutSeconds = 900;
    bool ehlo = false;
    int connections = 0; // 0: as the settings say
    std::string ini;
    std::string fields, db, mail, host, port;
    std::vector<std::string> attachments;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    std::vector<std::string> pos;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--load-only") {
            o.mode = Mode::LoadOnly;
        } else if (a == "--prepare-only") {
            o.mode = Mode::PrepareOnly;
        } else if (a == "--ehlo") {
            o.ehlo = true;
        } else if (a == "--connections") {
            if (++i >= argc) return false;
            char* end = nullptr;
            const long v = std::strtol(argv[i], &end, 10);
            if (*end != '\0' || v < 1 || v > tandrel::kMaxConnections) return false;
            o.connections = static_cast<int>(v);
        } else if (a == "--ini") {
            if (++i >= argc) return false;
            o.ini = argv[i];
        } else if (a == "--timeout") {
            if (++i >= argc) return false;
            char* end = nullptr;
            const long v = std::strtol(argv[i], &end, 10);
            if (*end != '\0' || v < 0 || v > 86400) return false;
            o.timeoutSeconds = static_cast<int>(v);
        } else if (a == "-h" || a == "--help") {
            return false;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return false;
        } else {
            pos.emplace_back(a);
        }
    }
    if (pos.size() < 5) return false;
    o.fields = pos[0];
    o.db = pos[1];
    o.mail = pos[2];
    o.host = pos[3];
    o.port = pos[4];
    o.attachments.assign(pos.begin() + 5, pos.end());
    return true;
}

// Counts what the delivery window would show, notes when the delivery began and ended,
// and lets the warnings of the check through (the benchmark's data is made for it).
class BenchObserver : public tandrel::MailingFrontEnd {
public:
    void confirmProblems(const std::vector<tandrel::SendProblem>&,
                         std::function<void(bool)> answer) override {
        answer(true);
    }
    void stateChanged(tandrel::RunState state) override {
        if (state == tandrel::RunState::Delivering && onDelivering) onDelivering();
    }
    void runEnded(const tandrel::MailingSummary&) override {
        endedRunAt = Clock::now();
        if (loop) loop->quit();
    }
    void preparationProgress(int) override { ++prepareGaugeChanges; }
    void deliveryProgress(int) override { ++gaugeChanges; }
    void deliveryEvent(const tandrel::DeliveryEvent& event) override {
        if (event.kind != tandrel::DeliveryEvent::Kind::Problem) return;
        ++errorReports;
        const std::vector<std::string> lines = tandrel::WordsFor(event).report;
        if (errorReports <= 5 && !lines.empty())
            std::fprintf(stderr, "delivery: %s\n", lines.front().c_str());
    }
    void deliveryEnded(const tandrel::DeliverySummary& summary) override {
        ended = true;
        logSaved = summary.runLogSaved;
        endedAt = Clock::now();
    }

    QEventLoop* loop = nullptr;
    std::function<void()> onDelivering;
    Clock::time_point deliveryStartedAt{};
    double deliveryCpuAtStart = 0;
    Clock::time_point endedRunAt{};
    bool ended = false;
    bool logSaved = false;
    long prepareGaugeChanges = 0;
    long gaugeChanges = 0;
    long errorReports = 0;
    Clock::time_point endedAt;
};

void PrintLastLine(double prepare, double deliver, std::size_t messages, std::size_t accepted) {
    std::printf("prepare_s=%.3f deliver_s=%.3f messages=%zu accepted=%zu peak_rss_kb=%ld\n",
                prepare, deliver, messages, accepted, PeakRssKb());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!ParseOptions(argc, argv, opt)) {
        std::fputs(kUsage, stderr);
        return 1;
    }

    QCoreApplication app(argc, argv);
    // The program keeps its logs beside itself; the driver keeps them out of the way.
    QTemporaryDir programDir;
    if (!programDir.isValid()) {
        std::fprintf(stderr, "tandrel-bench: cannot create a temporary directory\n");
        return 2;
    }

    tandrel::AppState st;
    st.programDir = programDir.path().toStdString();
    st.computerName = tandrel::ComputeLocalComputerName();
    if (!opt.ini.empty() &&
        !QFile::copy(QString::fromStdString(opt.ini), QString::fromStdString(st.iniPath()))) {
        std::fprintf(stderr, "tandrel-bench: cannot read %s\n", opt.ini.c_str());
        return 2;
    }
    {
        // Without --ini there is no settings file in the fresh directory: every setting
        // is its default.
        const tandrel::Profile ini(st.iniPath());
        tandrel::WindowGeometry geo;
        tandrel::ReadSettings(ini, st.prefs, st.user, geo);
    }
    st.prefs.smtp = opt.host;
    st.prefs.port = opt.port;
    if (opt.ehlo) st.prefs.ehlo = "yes"; // as ehlo=yes in the settings
    if (opt.connections > 0) st.prefs.connections = opt.connections;

    tandrel::MailEditors editors;
    double loadSeconds = 0, loadCpu = 0;
    try {
        const auto t0 = Clock::now();
        const double c0 = CpuSeconds();
        tandrel::LoadFields(st, opt.fields);
        tandrel::LoadDatabase(st, opt.db);
        if (!tandrel::LoadMail(st, opt.mail, editors)) {
            std::fprintf(stderr, "tandrel-bench: no mail file at %s\n", opt.mail.c_str());
            return 2;
        }
        loadSeconds = SecondsBetween(t0, Clock::now());
        loadCpu = CpuSeconds() - c0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tandrel-bench: %s\n", e.what());
        return 2;
    }
    std::printf("load_s=%.3f load_cpu_s=%.3f people=%zu fields=%zu\n", loadSeconds, loadCpu,
                st.db->entryCount(), st.db->fieldCount());
    if (opt.mode == Mode::LoadOnly) {
        PrintLastLine(0, 0, 0, 0);
        return 0;
    }

    for (const auto& path : opt.attachments)
        st.attachments.push_back(tandrel::MakeAttachment(path));

    std::vector<tandrel::Person*> recipients;
    recipients.reserve(st.db->entryCount());
    for (auto& e : st.db->entries) {
        e->selected = true;
        recipients.push_back(e.get());
    }
    BenchObserver observer;
    tandrel::MailingRun run(st, std::move(recipients), editors.subject);
    tandrel::EnvironmentCredentials password; // TANDREL_PASSWORD, when the settings log in
    tandrel::RunOptions runOptions;
    runOptions.credentials = &password;
    runOptions.prepareOnly = opt.mode == Mode::PrepareOnly;
    QEventLoop loop;
    observer.loop = &loop;
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        run.cancel();
    });
    // The stages are timed as the run enters them: the preparation ends where the
    // delivery begins.
    observer.onDelivering = [&] {
        observer.deliveryStartedAt = Clock::now();
        observer.deliveryCpuAtStart = CpuSeconds();
        if (opt.timeoutSeconds > 0) watchdog.start(opt.timeoutSeconds * 1000);
    };
    const auto t0 = Clock::now();
    const double c0 = CpuSeconds();
    tandrel::BuildMailText(st, editors);
    run.start(observer, std::move(runOptions));
    if (!run.ended()) loop.exec();
    watchdog.stop();
    const tandrel::MailingSummary summary = run.summary();
    const bool delivered = observer.deliveryStartedAt != Clock::time_point{};
    const auto preparedAt = delivered ? observer.deliveryStartedAt : observer.endedRunAt;
    const double prepareSeconds = SecondsBetween(t0, preparedAt);
    const double prepareCpu = (delivered ? observer.deliveryCpuAtStart : CpuSeconds()) - c0;
    if (summary.ending == tandrel::RunEnding::PreparationFailed ||
        summary.ending == tandrel::RunEnding::CheckDeclined ||
        summary.ending == tandrel::RunEnding::CredentialsFailed) {
        std::fprintf(stderr, "tandrel-bench: preparation failed: %s\n",
                     summary.problem.empty() ? "the check before sending stopped the run"
                                             : summary.problem.c_str());
        return 2;
    }
    const tandrel::PreparedMailing* prepared = run.prepared();
    const std::size_t messages = prepared ? prepared->count() : 0;
    const std::uint64_t wireBytes = prepared ? prepared->wireBytes() : 0;
    std::printf(
        "prepare_s=%.3f prepare_cpu_s=%.3f messages=%zu attachments=%zu gauge_changes=%ld\n",
        prepareSeconds, prepareCpu, messages, st.attachments.size(), observer.prepareGaugeChanges);
    std::printf("message_bytes_avg=%llu wire_bytes=%llu\n",
                static_cast<unsigned long long>(messages ? wireBytes / messages : 0),
                static_cast<unsigned long long>(wireBytes));
    if (opt.mode == Mode::PrepareOnly || messages == 0) {
        PrintLastLine(prepareSeconds, 0, messages, 0);
        return 0;
    }
    if (!summary.startError.empty()) {
        std::fprintf(stderr, "tandrel-bench: cannot start delivery: %s\n",
                     summary.startError.c_str());
        PrintLastLine(prepareSeconds, 0, messages, 0);
        return 3;
    }
    const double deliverSeconds = SecondsBetween(
        observer.deliveryStartedAt, observer.ended ? observer.endedAt : observer.endedRunAt);
    const double deliverCpu = CpuSeconds() - observer.deliveryCpuAtStart;

    const auto accepted = static_cast<std::size_t>(summary.accepted);
    std::printf("deliver_s=%.3f deliver_cpu_s=%.3f accepted=%zu error_reports=%ld "
                "delivery_gauge_changes=%ld run_log_saved=%d\n",
                deliverSeconds, deliverCpu, accepted, observer.errorReports, observer.gaugeChanges,
                observer.logSaved ? 1 : 0);
    if (timedOut) std::fprintf(stderr, "tandrel-bench: delivery timed out\n");
    PrintLastLine(prepareSeconds, deliverSeconds, messages, accepted);
    return timedOut || !observer.ended ? 3 : 0;
}
