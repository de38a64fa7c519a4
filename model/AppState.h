// All program-wide state in one object. The main window owns it from start-up to
// exit and hands it to every window that needs it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Model.h"

namespace tandrel {

struct AppState {
    std::unique_ptr<DatabaseRoot> db; // null: no database at all
    std::vector<Attachment> attachments;
    MailText mailText;
    GlobalPrefs prefs;
    CurUserVals user;
    std::vector<std::string> SentLog;
    std::vector<std::string> RunLog;
    std::string LocalComputerName;
    std::string ProgramDir; // no trailing separator

    // The messages of the run in progress (empty outside a run).
    OutgoingList outgoing;
    int RecipientCount = 0;

    std::string iniPath() const { return ProgramDir + "/Tandrel.ini"; }
    std::string runLogPath() const { return ProgramDir + "/Tandrel.log"; }
    std::string sentLogPath() const { return ProgramDir + "/Tandrel.snt"; }

    // Releases every entry, field and the root: afterwards there is no database.
    void FreeDatabase() { db.reset(); }
    void FreeAttachments() { attachments.clear(); }
    // New Database: fields "name" and "email", no entries.
    void NewDatabase() {
        db = std::make_unique<DatabaseRoot>();
        db->fields = {VarIdent{"name"}, VarIdent{"email"}};
    }
};

} // namespace tandrel
