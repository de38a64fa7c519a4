// SPDX-License-Identifier: GPL-3.0-or-later
// The mail text: the header block built from the editors, the mail file, New Mail.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "model/AppState.h"
#include "model/Version.h"

namespace tandrel {

inline constexpr const char* kMailer = kProgramAndVersion;
inline constexpr const char* kDefaultTo = "\"[name]\" <[email]>";

// "Tue, 05 Jan 1999 09:07:03 +0100": English names, zone from the C library's real
// offset for that moment (daylight saving included).
std::string Rfc822Date(std::time_t when);
std::string Rfc822Date();

// Appends the header lines: Date, From, To, Subject, the other header lines in their
// order, MIME-Version, the type line ("text/markdown" for a Markdown mail), X-Mailer
// and the empty line. A line break in an editor's text or a header value becomes one
// blank; a header line whose name is not one (see IsHeaderName) or that the program
// writes itself is left out.
void AddHeader(MailText& mail, const MailEditors& eds, const std::string& date);

// A header name as a file may hold one: printable ASCII without blanks or a colon.
bool IsHeaderName(std::string_view name);
// Date, From, To, Subject, MIME-Version, Content-Type, Content-Transfer-Encoding,
// X-Mailer and Message-ID (any letter case): the lines every message gets from the
// program, never kept among the other header lines.
bool IsOwnHeaderName(std::string_view name);

// The value of the first header line with this name (any letter case), or null.
const std::string* FindHeaderValue(const MailEditors& eds, std::string_view name);
// Sets the value of the first header line with this name, or adds the line at the end.
void SetHeaderValue(MailEditors& eds, std::string_view name, std::string value);
// Removes every header line with this name.
void RemoveHeaderLines(MailEditors& eds, std::string_view name);

// Markdown when the mail's header block holds "Content-type: text/markdown".
MailFormat FormatOfMail(const MailText& mail);

// Rebuilds st.mailText from the editors, stamped with the current time.
void BuildMailText(AppState& st, const MailEditors& eds);

// Sets the three header editors from the header block of `lines` (the lines before the
// first empty line, when that is not the first line) and removes the block with its
// closing empty line when a header line was recognised or mailHasHeader was already
// set. Editors whose line was not found are emptied. The block's other header lines go
// to eds.headerLines in their order and its type line sets eds.format (both only when
// the block is removed; otherwise none and Plain). A line that begins with a blank
// continues the other header line before it. Does not touch eds.body.
void ParseMailHeader(std::vector<std::string>& lines, MailEditors& eds, bool& mailHasHeader);

// "\"name\" <fromAddress>"
std::string DefaultFrom(const Preferences& prefs);

// New Mail: clears the body and the other header lines (plain text), default From (when name and
// fromAddress are set), default To, empty Subject, then BuildMailText.
void NewMail(AppState& st, MailEditors& eds);

// Returns false (and does nothing) when no file exists at the path. Throws FileError
// when it cannot be read or holds NUL bytes; editors, MailText and lastmail then stay
// as they were, but MailHasHeader has been cleared. Sets MailText's encoding.
bool LoadMail(AppState& st, const std::string& path, MailEditors& eds);

// Save Mail: BuildMailText unless the preview is shown, write MailText, then lastmail.
// Throws FileError("Cannot create file ...").
void SaveMail(AppState& st, const std::string& path, const MailEditors& eds, bool previewShown);

} // namespace tandrel
