// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: which mode it starts in, the options of `send`, and the
// help texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tandrel {

// Exit status of a command.
enum ExitStatus : int {
    ExitAllAccepted = 0, // every message accepted (or written, for a dry run)
    ExitSomeFailed = 1,  // some refused or not reached
    ExitUsageOrFile = 2, // bad arguments, a file that cannot be read, preparation failed
};

struct SendOptions {
    std::string db;
    std::string mail;
    std::string fields;
    std::string emailColumn; // the CSV column of the addresses, by its header; empty: found
    std::vector<std::string> attachments;
    std::optional<std::string> dryRunDir;
    bool force = false;
    bool help = false;
};

enum class CommandKind {
    Window,      // no command: open the window (Qt's own options such as -platform pass on)
    ProgramHelp, // tandrel --help
    Version,     // tandrel --version
    Send,        // tandrel send ...
    Unknown,     // tandrel <something that is no command>
};

// The mode the arguments ask for; only the first argument decides.
CommandKind ClassifyCommand(const std::vector<std::string>& args);

// Parses the arguments after "send". Returns the message for a usage error.
std::optional<std::string> ParseSendOptions(const std::vector<std::string>& args,
                                            SendOptions& options);

std::string ProgramHelpText(const std::string& dataDir);
std::string SendHelpText();

} // namespace tandrel
