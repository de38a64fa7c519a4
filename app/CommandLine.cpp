// SPDX-License-Identifier: GPL-3.0-or-later
// Parsing the command line and the texts of --help.
#include "app/CommandLine.h"

#include <string_view>

#include "model/TextFile.h"

namespace tandrel {

CommandKind ClassifyCommand(const std::vector<std::string>& args) {
    if (args.empty()) return CommandKind::Window;
    const std::string& first = args.front();
    if (first == "send") return CommandKind::Send;
    if (first == "--help" || first == "-h" || first == "help") return CommandKind::ProgramHelp;
    if (first == "--version") return CommandKind::Version;
    // Qt's own options (-platform, -style, ...) and a file handed over by the desktop or
    // named in the shell; one that is gone is reported by the window like any other.
    if (first.starts_with('-') || FileExists(first) ||
        first.find_first_of("./") != std::string::npos)
        return CommandKind::Window;
    return CommandKind::Unknown;
}

std::optional<std::string> ParseSendOptions(const std::vector<std::string>& args,
                                            SendOptions& options) {
    auto valueOf = [&](std::size_t& i, std::string_view name,
                       std::string& value) -> std::optional<std::string> {
        const std::string& arg = args[i];
        if (arg.size() > name.size() && arg[name.size()] == '=') {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return "option " + std::string(name) + " needs a value";
        }
        if (value.empty()) return "option " + std::string(name) + " needs a value";
        return std::nullopt;
    };
    auto named = [](const std::string& arg, std::string_view name) {
        return arg == name ||
               (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
    };
    auto once = [&](std::size_t& i, std::string_view name,
                    std::string& slot) -> std::optional<std::string> {
        if (!slot.empty()) return "option " + std::string(name) + " is given twice";
        return valueOf(i, name, slot);
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string> error;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (named(arg, "--db")) {
            error = once(i, "--db", options.db);
        } else if (named(arg, "--mail")) {
            error = once(i, "--mail", options.mail);
        } else if (named(arg, "--fields")) {
            error = once(i, "--fields", options.fields);
        } else if (named(arg, "--email-column")) {
            error = once(i, "--email-column", options.emailColumn);
        } else if (named(arg, "--attach")) {
            std::string path;
            error = valueOf(i, "--attach", path);
            options.attachments.push_back(path);
        } else if (named(arg, "--dry-run")) {
            std::string dir;
            if (options.dryRunDir) return "option --dry-run is given twice";
            error = valueOf(i, "--dry-run", dir);
            options.dryRunDir = dir;
        } else if (arg.starts_with('-')) {
            return "unknown option " + arg;
        } else {
            return "unexpected argument " + arg;
        }
        if (error) return error;
    }
    if (options.help) return std::nullopt;
    if (options.db.empty()) return std::string("the database is missing (--db FILE)");
    if (options.mail.empty()) return std::string("the mail is missing (--mail FILE)");
    return std::nullopt;
}

std::string ProgramHelpText(const std::string& dataDir) {
    return "Usage: tandrel [FILE]...\n"
           "       tandrel send --db FILE --mail FILE [OPTION]...\n"
           "       tandrel --help | --version\n"
           "\n"
           "Without a command, Tandrel opens its window: a mail with placeholders such\n"
           "as [name] is merged with each chosen person of a database and sent to each.\n"
           "A .csv FILE given there is opened as the database, any other as the mail.\n"
           "\n"
           "Commands:\n"
           "  send    merge a mail with every person of a database and send it, or\n"
           "          write the messages to files (needs no display; see\n"
           "          'tandrel send --help')\n"
           "\n"
           "Settings (Tandrel.ini), the run log (Tandrel.log) and the sent log\n"
           "(Tandrel.snt) are kept in:\n"
           "  " +
           dataDir + "\n";
}

std::string SendHelpText() {
    return "Usage: tandrel send --db FILE --mail FILE [--fields FILE] [--email-column NAME]\n"
           "                    [--attach PATH]... [--dry-run DIR] [--force]\n"
           "\n"
           "Merges the mail with every person of the database and delivers one message\n"
           "to each over one connection to the relay set in Tandrel.ini, then adds this\n"
           "run to the run log and the sent log.\n"
           "\n"
           "  --db FILE       the people: a .csv file whose header row names the fields,\n"
           "                  with a column of addresses called email, e-mail, mail,\n"
           "                  email address or e-mail address (\"E-mail 1 - Value\" too;\n"
           "                  any letter case) and maybe one of names called name, full\n"
           "                  name or display name; or a database file of the program\n"
           "                  (also a .csv file whose first row is a person), which\n"
           "                  needs --fields\n"
           "  --fields FILE   the field file of a database that is not CSV\n"
           "  --email-column NAME\n"
           "                  the column of the .csv file that holds the addresses, by\n"
           "                  the name its header row gives it\n"
           "  --mail FILE     the mail: optional header lines (From:, To:, Subject:),\n"
           "                  an empty line, the body; placeholders such as [name]\n"
           "  --attach PATH   attach a file; the path may hold placeholders (repeatable)\n"
           "  --dry-run DIR   send nothing: write each message as it would go on the\n"
           "                  wire to DIR/00001-ADDRESS.eml, one file per person;\n"
           "                  the files an earlier dry run wrote there are removed\n"
           "                  first, nothing else\n"
           "  --force         send even when the check before sending finds problems\n"
           "  -h, --help      show this text\n"
           "\n"
           "When Tandrel.ini names a user for the relay, the password is taken from the\n"
           "environment variable TANDREL_PASSWORD, else from the desktop keyring (where\n"
           "the window keeps it when \"Remember password\" is ticked), else asked for on\n"
           "the terminal.\n"
           "\n"
           "Problems the relay reports are printed on stderr; the whole dialogue is in\n"
           "the run log. SIGINT (Ctrl-C) or SIGTERM stops the run: no further message is\n"
           "sent, and what was sent is logged as usual; a second signal ends at once.\n"
           "\n"
           "Exit status: 0 every message accepted (or written); 1 some refused or not\n"
           "reached (also when stopped); 2 a usage, file or preparation error.\n"
           "\n"
           "Example:\n"
           "  tandrel send --db people.csv --mail invitation.txt --dry-run out/\n";
}

} // namespace tandrel
