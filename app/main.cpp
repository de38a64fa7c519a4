// SPDX-License-Identifier: GPL-3.0-or-later
// Tandrel: the command line when given a command, otherwise the windows and the event loop.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ui/main/AppWindows.h"
#include "app/CommandLine.h"
#include "app/DataDirectory.h"
#include "keyring/Keyring.h"
#include "ui/main/MainWindow.h"
#include "app/SendCommandLine.h"
#include "model/Settings.h"
#include "model/Version.h"

namespace {

constexpr const char* kNoDisplay =
    "tandrel: no display: use `tandrel send` to run a mailing without windows\n";

// True when nothing tells Qt where to show windows: no X or Wayland display and no
// platform chosen (offscreen, say) by variable or option.
bool DisplayMissing(int argc, char** argv) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value) return false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return false;
    return true;
}

// A display that is named but cannot be opened makes Qt give up with a fatal message
// and an abort while the application starts. That is a usage problem, not a crash: Qt's
// warnings before it give the reason, the fatal text's advice to reinstall is wrong here.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n",
                     qFormatLogMessage(type, context, text).toLocal8Bit().constData());
        return;
    }
    std::fputs(kNoDisplay, stderr);
    std::_Exit(tandrel::ExitUsageOrFile);
}

int RunWindows(int argc, char** argv, const std::string& dataDir) {
    if (DisplayMissing(argc, argv)) {
        std::cerr << kNoDisplay;
        return tandrel::ExitUsageOrFile;
    }
    qInstallMessageHandler(StartupMessages);
    // Qt takes its own options (-platform, -style ...) out of argc and argv.
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    // The program's title, for the taskbar and the window class. No display name is set:
    // the desktop would append it to every window title (its name after a dash).
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    // Lets a Wayland desktop match the windows to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TANDREL_APP_ID));

    tandrel::AppWindows windows(dataDir);
    windows.main().show();
    // What is left once Qt has taken its own options: the files the desktop entry or the
    // shell passed on, as bytes, since a file name need not be valid UTF-8. They are made
    // absolute because they become the last files, opened again from any folder.
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(argv[i], ec);
        files.push_back(ec ? std::string(argv[i]) : absolute.lexically_normal().string());
    }
    if (!files.empty()) windows.main().openFiles(files);
    return app.exec();
}

// Needs no display: only the socket's event loop.
int RunCommand(int argc, char** argv, const std::vector<std::string>& args,
               const std::string& dataDir) {
    using namespace tandrel;
    switch (ClassifyCommand(args)) {
    case CommandKind::ProgramHelp:
        std::cout << ProgramHelpText(dataDir);
        return ExitAllAccepted;
    case CommandKind::Version:
        std::cout << tandrel::kProgramAndVersion << '\n';
        return ExitAllAccepted;
    case CommandKind::Send: {
        SendOptions options;
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (const auto error = ParseSendOptions(rest, options)) {
            std::cerr << "tandrel send: " << *error << "\nTry 'tandrel send --help'.\n";
            return ExitUsageOrFile;
        }
        if (options.help) {
            std::cout << SendHelpText();
            return ExitAllAccepted;
        }
        QCoreApplication app(argc, argv);
        const std::unique_ptr<PasswordKeeper> keyring = MakeDesktopKeyring();
        return RunSendCommand(options, dataDir, std::cout, std::cerr, keyring.get());
    }
    default:
        std::cerr << "tandrel: unknown command '" << args.front() << "'\nTry 'tandrel --help'.\n";
        return ExitUsageOrFile;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::string dataDir = tandrel::ChooseDataDirectory(tandrel::ComputeProgramDir());
    if (tandrel::ClassifyCommand(args) == tandrel::CommandKind::Window)
        return RunWindows(argc, argv, dataDir);
    return RunCommand(argc, argv, args, dataDir);
}
