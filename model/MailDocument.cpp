// SPDX-License-Identifier: GPL-3.0-or-later
// New, open, save and the unsaved-change rule of the mail.
#include "model/MailDocument.h"

#include "model/MailFile.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

bool SameTexts(const MailEditors& a, const MailEditors& b) {
    return a.from == b.from && a.to == b.to && a.subject == b.subject && a.body == b.body &&
           a.headerLines == b.headerLines && a.format == b.format;
}

} // namespace

MailEditors MailDocument::startNew(MailEditors shown) {
    NewMail(st_, shown);
    untitled_ = true;
    saved_ = shown;
    return shown;
}

std::optional<MailEditors> MailDocument::open(const std::string& path) {
    MailEditors eds;
    if (!LoadMail(st_, path, eds)) return std::nullopt;
    untitled_ = false;
    saved_ = eds;
    return eds;
}

MailEditors MailDocument::restoreLast() {
    const std::string last = st_.user.lastMail;
    if (!last.empty() && FileExists(last))
        if (std::optional<MailEditors> eds = open(last)) return std::move(*eds);
    return startNew();
}

void MailDocument::saveAs(const std::string& path, const MailEditors& shownTemplate,
                          bool previewShown) {
    SaveMail(st_, path, shownTemplate, previewShown);
    untitled_ = false;
    saved_ = shownTemplate;
}

bool MailDocument::changedFrom(const MailEditors& shownTemplate) const {
    return !SameTexts(shownTemplate, saved_);
}

bool MailDocument::acceptTyped(std::string_view addedUtf8) {
    if (st_.mailText.encoding == TextEncoding::Utf8 || addedUtf8.empty()) return false;
    if (EncodeText(addedUtf8, st_.mailText.encoding)) return false;
    st_.mailText.encoding = TextEncoding::Utf8;
    return true;
}

} // namespace tandrel
