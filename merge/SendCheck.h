// SPDX-License-Identifier: GPL-3.0-or-later
// The check before sending: what in a mailing would go wrong or surprise, found before
// anything is prepared, for the window and the command line alike.
#pragma once

#include <string>
#include <vector>

#include "merge/Address.h"
#include "model/AppState.h"

namespace tandrel {

enum class CheckSeverity {
    Warning,  // the user may send anyway
    Blocking, // the run cannot be prepared as it is
};

struct SendProblem {
    CheckSeverity severity;
    std::string text; // one line, naming the person, field or file
};

// Problems of sending st.mailText with st.attachments to `recipients` (fields from
// st.db): placeholders that name no field, fallbacks that are not read as such, people
// without a valid e-mail address, an address used more than once, Cc, Bcc and Reply-To
// addresses that are not valid and values that add addresses to a To, Cc, Bcc or
// Reply-To line (each line read as composing merges it for the person), attachment
// files that values pick outside the folders of the mail (st.user.lastMail) and the
// database (st.user.lastDatabase), in a Markdown mail, link and image addresses that a
// value makes with a scheme its HTML leaves out, and port 465 without SSL/TLS or port
// 587 with it (warnings); attachment files and a
// Markdown mail's image files that cannot be read, image sources holding a control
// character, values that lead an attachment path out of its folder or make a path they
// choose whole name a hidden file (blocking). Each kind lists at most a screenful and
// then says how many more. Empty: nothing to report. st.mailText must
// already hold the editors' text.
std::vector<SendProblem> CheckBeforeSending(const AppState& st,
                                            const std::vector<Person*>& recipients);

bool HasBlockingProblem(const std::vector<SendProblem>& problems);


} // namespace tandrel
