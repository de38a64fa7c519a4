// The mail text: the header block built from the editors, the mail file, New Mail.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "AppState.h"

namespace tandrel {

inline constexpr const char* kMailer = "Tandrel 1.1";
inline constexpr const char* kDefaultTo = "\"[name]\" <[email]>";

// "Tue, 05 Jan 1999 09:07:03 +0100": English names, zone from the C library's real
// offset for that moment (daylight saving included).
std::string Rfc822Date(std::time_t when);
std::string Rfc822Date();

// Appends the eight header lines (the eighth empty). A line break in an editor's text
// becomes one blank.
void AddHeader(MailText& mail, const MailEditors& eds, const std::string& date);

// Rebuilds st.mailText from the editors, stamped with the current time.
void BuildMailText(AppState& st, const MailEditors& eds);

// Sets the three header editors from the header block of `lines` (the lines before the
// first empty line, when that is not the first line) and removes the block with its
// closing empty line when a header line was recognised or mailHasHeader was already
// set. Editors whose line was not found are emptied. Does not touch eds.body.
void ParseMailHeader(std::vector<std::string>& lines, MailEditors& eds, bool& mailHasHeader);

// "\"name\" <fromaddy>"
std::string DefaultFrom(const GlobalPrefs& prefs);

// New Mail: clears the body, default From (when name and fromaddy are set), default
// To, empty Subject, then BuildMailText.
void NewMail(AppState& st, MailEditors& eds);

// Returns false (and does nothing) when no file exists at the path. Throws FileError
// when it cannot be read or holds NUL bytes; editors, MailText and lastmail then stay
// as they were, but MailHasHeader has been cleared. Sets MailText's encoding.
bool LoadMail(AppState& st, const std::string& path, MailEditors& eds);

// Save Mail: BuildMailText unless the preview is shown, write MailText, then lastmail.
// Throws FileError("Cannot create file ...").
void SaveMail(AppState& st, const std::string& path, const MailEditors& eds, bool previewShown);

} // namespace tandrel
