// SPDX-License-Identifier: GPL-3.0-or-later
// What the preview of a mail shows for one person: the mail merged for them, taken apart
// into header lines and body as the editors show them, and for a Markdown mail the page
// its body makes.
#pragma once

#include <string>
#include <vector>

#include "model/Model.h"

namespace tandrel {

struct MailPreview {
    // The merged From, To, Subject, other header lines and body.
    MailEditors shown;
    // What the merged text is in: values may bring UTF-8 into a Windows-1252 mail or the
    // other way round; the merge then made the whole text UTF-8.
    TextEncoding encoding = TextEncoding::Utf8;
    // For a Markdown mail: the whole HTML document of the merged body, and the folder
    // its relative image sources are read from (that of the mail file). Empty otherwise.
    std::string html;
    std::string imageFolder;
};

// The mail text `mail` (built from the editors, in `format`) merged for `person`.
// `mailPath` is the mail file's path ("" when unsaved). Throws ComposeError when the
// merge fails (values that refer to each other without end); the mail is only read.
MailPreview PreviewMail(const std::vector<Field>& fields, const MailText& mail, MailFormat format,
                        const Person& person, const std::string& mailPath);

} // namespace tandrel
