// SPDX-License-Identifier: GPL-3.0-or-later
// Folder names between the user's text and the mailbox protocol: the checks that keep a
// value from becoming protocol, the modified UTF-7 the protocol names folders in, the
// folder list taken from LIST's answers, and which folder is the Sent folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::imap {

// One folder as LIST told it.
struct Folder {
    std::string name;                                    // as the user reads it (UTF-8)
    std::string wireName;                                // as the server spelt it (modified UTF-7)
    std::vector<std::string> attributes;                 // "\Sent", "\Noselect", ... as sent
    bool hasAttribute(std::string_view attribute) const; // case-insensitive
    bool selectable() const;                             // neither \Noselect nor \NonExistent
};

// A value that may go into a command: no CR, LF or NUL byte.
bool FitsOnOneLine(std::string_view value);

// The folder name in the protocol's modified UTF-7: printable ASCII stays ("&" becomes
// "&-"), every other run of characters becomes "&" base64(UTF-16) "-" with "," for "/".
// Nothing when the name is not valid UTF-8, is empty, or holds CR, LF or NUL.
std::optional<std::string> EncodeFolderName(std::string_view utf8);
// The reverse; a name that is not well-formed modified UTF-7 is kept as it came.
std::string DecodeFolderName(std::string_view wire);

// The folders of the untagged "* LIST" lines in `answer` (other lines are skipped, and
// so are names sent as literals, which no folder we can write to needs).
std::vector<Folder> ParseFolderList(std::string_view answer);

// The Sent folder: the selectable one marked \Sent, else one named "Sent" (any case,
// also under INBOX). `error` names the folders there are when there is none.
struct SentFolderChoice {
    std::optional<Folder> folder;
    std::string error;
};
SentFolderChoice FindSentFolder(const std::vector<Folder>& folders);

} // namespace tandrel::imap
