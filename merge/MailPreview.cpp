// SPDX-License-Identifier: GPL-3.0-or-later
// The preview of a mail for one person.
#include "merge/MailPreview.h"

#include "merge/Compose.h"
#include "merge/Formatted.h"
#include "model/MailFile.h"
#include "model/TextEncoding.h"

namespace tandrel {

MailPreview PreviewMail(const std::vector<Field>& fields, const MailText& mail, MailFormat format,
                        const Person& person, const std::string& mailPath) {
    MailPreview preview;
    std::vector<std::string> lines = MergeLines(fields, mail.lines, person);
    // The merged text is only looked at: it must not change what the mail is.
    bool hasHeader = mail.hasHeader;
    ParseMailHeader(lines, preview.shown, hasHeader);
    preview.shown.body = std::move(lines);
    // Shown by what the merged text holds, not by the mail's encoding.
    std::string merged = preview.shown.from + preview.shown.to + preview.shown.subject;
    for (const HeaderLine& h : preview.shown.headerLines)
        merged += h.value;
    for (const std::string& line : preview.shown.body)
        merged += line;
    preview.encoding = DetectTextEncoding(merged);
    if (format == MailFormat::Markdown) {
        preview.imageFolder = MailFolder(mailPath);
        preview.html = FormattedPreviewHtml(fields, mail, person);
    }
    return preview;
}

} // namespace tandrel
