// SPDX-License-Identifier: GPL-3.0-or-later
// The mail as a document: what New, Open and Save do to it, whether it differs from its
// file, and which file it is. The window shows and edits its texts; this object decides
// what is loaded, written and remembered.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/AppState.h"

namespace tandrel {

class MailDocument {
public:
    // The mail text, its encoding and the last mail's path live in `st`, where the
    // mailing and the settings read them.
    explicit MailDocument(AppState& st) : st_(st) {}

    // New Mail from the texts shown: the default From (the shown one stays when the
    // sender is not known) and To, no subject and no text, UTF-8. Untitled, unchanged.
    MailEditors startNew(MailEditors shown = {});
    // Loads the file. Nothing when it does not exist; throws FileError when it cannot be
    // read (the document then keeps its texts and its file).
    std::optional<MailEditors> open(const std::string& path);
    // At start-up: the last mail when its file is there, else a new mail.
    MailEditors restoreLast();

    // Writes the mail to `path` (its own file when untitled() is false and the path is
    // empty) in the encoding it was read in; the file becomes the mail's own. With the
    // preview shown, the mail text built from the template when the preview began is
    // written. Throws FileError; the document keeps its file then.
    void saveAs(const std::string& path, const MailEditors& shownTemplate, bool previewShown);

    // The template as last loaded or saved counts as unchanged.
    void markSaved(const MailEditors& shownTemplate) { saved_ = shownTemplate; }
    bool changedFrom(const MailEditors& shownTemplate) const;

    // A new mail has no file yet: Save asks for a name.
    bool untitled() const { return untitled_; }
    // Empty while untitled.
    std::string path() const { return untitled_ ? std::string() : st_.user.lastMail; }
    TextEncoding encoding() const { return st_.mailText.encoding; }

    // A Windows-1252 mail stays Windows-1252 until text it cannot hold is typed or pasted;
    // from then on the whole mail is UTF-8. True when `addedUtf8` made that switch.
    bool acceptTyped(std::string_view addedUtf8);

private:
    AppState& st_;
    MailEditors saved_;
    bool untitled_ = true;
};

} // namespace tandrel
