// SPDX-License-Identifier: GPL-3.0-or-later
// All program-wide state in one object. The main window owns it from start-up to
// exit and hands it to every window that needs it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/Model.h"

namespace tandrel {

// Keeps a remembered login password between runs of the program outside every file of
// ours (the desktop keyring); tests put a stand-in here.
class PasswordKeeper {
public:
    virtual ~PasswordKeeper() = default;
    // The stored password, or nothing when none is stored or no keyring answers.
    virtual std::optional<std::string> load(const std::string& account) = 0;
    // False when no keyring took it.
    virtual bool store(const std::string& account, const std::string& password) = 0;
    virtual void forget(const std::string& account) = 0;
};

struct AppState {
    std::unique_ptr<Database> db; // null: no database at all
    std::vector<Attachment> attachments;
    MailText mailText;
    Preferences prefs;
    RecentFiles user;
    std::vector<std::string> sentLog;
    std::vector<std::string> runLog;
    std::size_t runLogSaved = 0; // lines of runLog already in the run log file
    std::string computerName;
    std::string programDir; // no trailing separator

    // The login password of this session, kept in memory only and never written to a
    // file; it belongs to the login named by passwordAccount.
    std::string password;
    std::string passwordAccount;
    // "Remember password" was ticked for an OAuth 2.0 login: a refresh token that a
    // sign-in brings goes to the keyring (one taken from there is followed anyway).
    bool rememberTokenLogin = false;
    // The keyring; null until it is first needed (the windows then use the desktop's).
    std::unique_ptr<PasswordKeeper> keyring;

    std::string iniPath() const { return programDir + "/Tandrel.ini"; }
    std::string runLogPath() const { return programDir + "/Tandrel.log"; }
    std::string sentLogPath() const { return programDir + "/Tandrel.snt"; }
    std::string runResultsPath() const { return programDir + "/Tandrel.run"; }

    // Releases every entry, field and the root: afterwards there is no database.
    void freeDatabase() { db.reset(); }
    void freeAttachments() { attachments.clear(); }
    // New Database: fields "name" and "email", no entries.
    void newDatabase() {
        db = std::make_unique<Database>();
        db->fields = {Field{"name"}, Field{"email"}};
    }
};

} // namespace tandrel
