// SPDX-License-Identifier: GPL-3.0-or-later
// A Send through the real preparation and delivery windows (offscreen, unless
// QT_QPA_PLATFORM names another platform) beside the same run without windows, both
// against one smtp-sink: prints both times and their ratio, the processor time of each,
// and whether the windows' accessibility events went to a bridge.
//
//   bench_send_ui [MESSAGES] [RUNS]     (default 5000 messages, best of 3 runs)
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "benchmarks/BenchUtil.h"
#include "mailing/MailingRun.h"
#include "model/AppState.h"
#include "model/MailFile.h"
#include "ui/mailing/DeliveryWindow.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/SendLauncher.h"

namespace {

struct BenchMain {
    tandrel::AppState st;
    std::vector<tandrel::Person*> rows;
    QWidget widget;
    tandrel::MailEditors editorTexts() const {
        return {"\"Sender\" <sender@example.org>",
                "\"[name]\" <[email]>",
                "Hello [name]",
                {"Dear [name],", "", "a short note for you.", "", "Regards"}};
    }
};

void Fill(BenchMain& m, const std::string& dir, const std::string& port, int people) {
    tandrel::AppState& st = m.st;
    st.programDir = dir;
    st.computerName = "bench.example.org";
    st.prefs.smtp = "127.0.0.1";
    st.prefs.port = port;
    st.prefs.name = "Sender";
    st.prefs.fromAddress = "sender@example.org";
    st.newDatabase();
    for (int i = 0; i < people; ++i) {
        tandrel::Person& e = st.db->appendEntry();
        e.setName("Person " + std::to_string(i));
        e.setEmail("p" + std::to_string(i) + "@example.org");
        e.values = {e.name(), e.email()};
        m.rows.push_back(&e);
    }
}

// A loopback port nobody listens on (0 when none was found), or whether one is answered.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool Answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Seconds of one run: the whole of it, and its preparation (until the messages are ready;
// through the windows, until the delivery window is shown).
struct RunTimes {
    double total = 0, prepare = 0;
};

// The same mailing run without any window: what the command line does.
RunTimes Headless(const std::string& dir, const std::string& port, int people) {
    BenchMain m;
    Fill(m, dir, port, people);
    QElapsedTimer clock;
    clock.start();
    tandrel::BuildMailText(m.st, m.editorTexts());
    tandrel::MailingRun run(m.st, m.rows, m.editorTexts().subject);
    // Notes when the preparation is over, and ends the wait at the run's end.
    struct Timing : tandrel::MailingFrontEnd {
        QElapsedTimer* clock = nullptr;
        QEventLoop* loop = nullptr;
        double prepared = 0;
        void stateChanged(tandrel::RunState state) override {
            if (state == tandrel::RunState::Delivering) prepared = clock->nsecsElapsed() / 1e9;
        }
        void runEnded(const tandrel::MailingSummary&) override { loop->quit(); }
    } timing;
    QEventLoop loop;
    timing.clock = &clock;
    timing.loop = &loop;
    run.start(timing);
    if (!run.ended()) loop.exec();
    const double prepared = timing.prepared;
    const double s = clock.nsecsElapsed() / 1e9;
    const tandrel::MailingSummary summary = run.summary();
    if (summary.accepted != people) {
        std::fprintf(stderr, "headless: %d of %d accepted\n", summary.accepted, people);
        std::exit(2);
    }
    return {s, prepared};
}

// The delivery window, noting how many messages the run it showed delivered.
class CountingDeliveryWindow : public tandrel::DeliveryWindow {
public:
    using tandrel::DeliveryWindow::DeliveryWindow;
    int accepted = 0;
    void deliveryEnded(const tandrel::DeliverySummary& summary) override {
        accepted = summary.accepted;
        tandrel::DeliveryWindow::deliveryEnded(summary);
    }
};

// The Send command itself, through both windows; the clock stops when "Close" is enabled.
RunTimes ThroughWindows(const std::string& dir, const std::string& port, int people) {
    BenchMain m;
    Fill(m, dir, port, people);
    auto* delivery = new CountingDeliveryWindow(&m.widget);
    auto* preparation = new tandrel::PreparationWindow(&m.widget);
    // The preparation window waits a moment before it starts so that it is seen; that
    // pause is the same for every run size and not part of the work.
    tandrel::SendWindows windows{&m.widget, preparation, delivery};
    windows.settleMs = 0;
    QElapsedTimer clock;
    double seconds = 0, prepared = 0;
    QTimer closer;
    closer.setInterval(1);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (prepared == 0 && delivery->isVisible()) prepared = clock.nsecsElapsed() / 1e9;
        if (delivery->isVisible() && delivery->closeButton->isEnabled()) {
            seconds = clock.nsecsElapsed() / 1e9;
            delivery->closeButton->click();
        }
    });
    closer.start();
    clock.start();
    tandrel::RunMailing(windows, m.st, m.rows, m.editorTexts(), false);
    closer.stop();
    if (delivery->accepted != people) {
        std::fprintf(stderr, "windows: %d of %d accepted\n", delivery->accepted, people);
        std::exit(2);
    }
    return {seconds, prepared};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int people = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (people <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_send_ui [MESSAGES] [RUNS]\n");
        return 1;
    }

    const int portNumber = FreePort();
    const std::string port = std::to_string(portNumber);
    QStringList args;
    if (::geteuid() == 0) args << QStringLiteral("-u") << QStringLiteral("nobody"); // not as root
    args << QStringLiteral("127.0.0.1:") + QString::fromStdString(port) << QStringLiteral("256");
    QProcess sink;
    sink.start(QStringLiteral("/usr/sbin/smtp-sink"), args);
    if (portNumber == 0 || !sink.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start /usr/sbin/smtp-sink\n");
        return 3;
    }
    for (int i = 0; i < 100 && !Answers(portNumber); ++i)
        QThread::msleep(50);

    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    // Best of the runs, each figure on its own.
    RunTimes headless{1e300, 1e300}, windows{1e300, 1e300};
    double headlessCpu = 1e300, windowsCpu = 1e300;
    auto keepBest = [](RunTimes& best, const RunTimes& t) {
        best.total = std::min(best.total, t.total);
        best.prepare = std::min(best.prepare, t.prepare);
    };
    for (int i = 0; i < runs; ++i) {
        double cpu = tandrel::bench::ProcessCpuSeconds();
        keepBest(headless, Headless(path, port, people));
        headlessCpu = std::min(headlessCpu, tandrel::bench::ProcessCpuSeconds() - cpu);
        cpu = tandrel::bench::ProcessCpuSeconds();
        keepBest(windows, ThroughWindows(path, port, people));
        windowsCpu = std::min(windowsCpu, tandrel::bench::ProcessCpuSeconds() - cpu);
    }
    sink.terminate();
    sink.waitForFinished(3000);
    // Whether a bridge to the desktop's accessibility bus took the windows' events.
    const bool accessible = QAccessible::isActive();
    std::printf("messages=%d headless_s=%.3f windows_s=%.3f ratio=%.2f headless_prepare_s=%.3f "
                "windows_prepare_s=%.3f headless_cpu_s=%.3f windows_cpu_s=%.3f cpu_ratio=%.2f "
                "accessibility=%s peak_rss_kb=%ld\n",
                people, headless.total, windows.total, windows.total / headless.total,
                headless.prepare, windows.prepare, headlessCpu, windowsCpu,
                windowsCpu / headlessCpu, accessible ? "on" : "off", tandrel::bench::PeakRssKb());
    return 0;
}
