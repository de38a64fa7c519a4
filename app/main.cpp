// Tandrel: the command line when given a command, otherwise the windows and the event loop.
#include <QApplication>
#include <QCoreApplication>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AppWindows.h"
#include "CommandLine.h"
#include "DataDirectory.h"
#include "Keyring.h"
#include "MainWindow.h"
#include "SendCommandLine.h"
#include "Settings.h"

namespace {

int RunWindows(int argc, char** argv, const std::string& dataDir) {
    // Qt takes its own options (-platform, -style ...) out of argc and argv.
    QApplication app(argc, argv);
    // The program's title, for the taskbar and the window class. No display name is set:
    // the desktop would append it to every window title (" Tandrel 1.1 — Tandrel").
    QApplication::setApplicationName(QStringLiteral("Tandrel"));

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
        std::cout << "Tandrel 1.1\n";
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
