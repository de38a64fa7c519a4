// SPDX-License-Identifier: GPL-3.0-or-later
// Main window at scale: loading a database with the people lists filled, "->>" and
// "<<-", for 10 000 and for 100 000 people. Growth should stay close to linear.
// Runs offscreen unless a display platform is set.
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ui/main/AppWindows.h"
#include "benchmarks/BenchUtil.h"
#include "ui/main/MainWindow.h"

namespace {

struct Figures {
    double load = 0;
    double moveAll = 0;
    double takeAll = 0;
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Figures Measure(int people) {
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("tandrel-bench-ui-" + std::to_string(people)))
            .string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    WriteFile(dir + "/fields.txt", "name\r\nemail\r\ncity\r\n");
    std::string peopleText;
    peopleText.reserve(static_cast<std::size_t>(people) * 40);
    for (int i = 0; i < people; ++i)
        peopleText +=
            "Person " + std::to_string(i) + ";p" + std::to_string(i) + "@example.org;Town\r\n";
    WriteFile(dir + "/people.txt", peopleText);

    Figures f;
    {
        tandrel::AppWindows app(dir);
        tandrel::MainWindow& w = app.main();
        w.show();
        QApplication::processEvents();
        QString next;
        w.setFileChooser([&](QFileDialog&) { return next; });
        next = QString::fromStdString(dir + "/fields.txt");
        w.openFields();
        QApplication::processEvents();
        next = QString::fromStdString(dir + "/people.txt");
        f.load = tandrel::bench::BestSeconds(1, [&] {
            w.openDatabase();
            QApplication::processEvents();
        });
        const auto* db = w.state().db.get();
        if (!db || db->entryCount() != static_cast<std::size_t>(people)) {
            std::fprintf(stderr, "the database did not load\n");
            std::exit(1);
        }
        f.moveAll = tandrel::bench::BestSeconds(1, [&] {
            w.moveAllToRecipients();
            QApplication::processEvents();
        });
        if (db->selectedCount() != static_cast<std::size_t>(people)) {
            std::fprintf(stderr, "not everybody was moved\n");
            std::exit(1);
        }
        std::printf("%d people: status bar reads \"%s\"\n", people,
                    w.statusPanelText(1).toLocal8Bit().constData());
        auto* takeAllBack = w.findChild<QPushButton*>(QStringLiteral("Button4"));
        if (!takeAllBack) {
            std::fprintf(stderr, "no <<- button\n");
            std::exit(1);
        }
        f.takeAll = tandrel::bench::BestSeconds(1, [&] {
            takeAllBack->click();
            QApplication::processEvents();
        });
        w.hide();
    }
    std::filesystem::remove_all(dir);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    const Figures small = Measure(10000);
    const Figures large = Measure(100000);
    std::printf("main window, seconds      10 000    100 000   ratio\n");
    auto row = [](const char* what, double a, double b) {
        std::printf("%-24s %8.3f   %8.3f   %5.1f\n", what, a, b, a > 0 ? b / a : 0.0);
    };
    row("load, lists filled", small.load, large.load);
    row("->> (move everybody)", small.moveAll, large.moveAll);
    row("<<- (take all back)", small.takeAll, large.takeAll);
    std::printf("peak_rss_kb=%ld\n", tandrel::bench::PeakRssKb());
    return 0;
}
