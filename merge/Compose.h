// SPDX-License-Identifier: GPL-3.0-or-later
// The merged, wrapped message of one recipient (before attachment parts).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/Encoding.h"
#include "merge/Merge.h"
#include "model/Model.h"

namespace tandrel {

// Splits lines longer than MaxLineLength; every line ends up at most that long.
// A line is cut at the last blank among its first MaxLineLength characters, the blank
// starting the continuation line; without such a blank it is cut after
// MaxLineLength - 1 characters, and when that blank is its very first character,
// after MaxLineLength characters.
void WrapLongLines(std::vector<std::string>& lines);

// Merges the entry into MailText and wraps long lines. The header lines are merged one
// by one and a line break in a merged value becomes a blank, so a value can never add
// a header line; the body is merged as one text, so a value with line breaks becomes
// several body lines. Values are quoted and charsets made one as MessageComposer says.
std::vector<std::string> ComposeMessage(const std::vector<Field>& fields, const MailText& mail,
                                        const Person& entry);

// The mail template as MessageComposer keeps it. A place in a From or To line where a
// value may need quoting: inside a quoted string, or where a display name stands
// (before the "<" of its address); or in the URL of a List- line, where it is
// %-escaped (PercentEncodeUrl, after OneLine), so that it stays inside the brackets.
struct AddressPlace {
    std::size_t begin, end;              // the placeholder in the template line
    std::size_t slot;                    // the value: 0 name, 1 email, 2 + k field k
    bool quoted;                         // inside a quoted string of the template
    std::optional<std::string> fallback; // "[field|text]": the text for a blank value
    bool url = false;                    // inside "<...>" of a List- line
};

struct HeaderTemplateLine {
    std::string text;
    std::vector<AddressPlace> places;
};

struct MailTemplate {
    std::vector<HeaderTemplateLine> header;
    std::string body; // the body lines joined with CR LF
};

class FormattedBodyBuilder;

// The messages of one run, from one MailText: merged as ComposeMessage does, then a
// Message-ID, and for a header or body with non-ASCII bytes a charset, a
// quoted-printable body (long lines kept whole) and encoded-words in the header; plain
// ASCII has its long lines wrapped as WrapLongLines does. Throws ComposeError when the
// merged text grows beyond kMaxMergedBytes.
// A message whose template and values mix UTF-8 with other non-ASCII text is built
// and sent as UTF-8, the other text taken for Windows-1252. In From and To lines a
// value is escaped inside a quoted string, and quoted where it stands as a display
// name and holds a character that would end one (so too in Cc, Bcc and Reply-To).
// The Bcc line is never part of the message; the merged Cc and Bcc addresses are
// handed out as copy recipients. A Markdown mail ("Content-type: text/markdown") goes
// as multipart/alternative (see Formatted.h), always in UTF-8.
class MessageComposer {
public:
    // fallbackHost: the Message-ID host when the merged From line has no domain;
    // imageFolder: where a Markdown mail's relative image paths start.
    MessageComposer(const std::vector<Field>& fields, const MailText& mail,
                    std::string fallbackHost, std::string imageFolder = ".");
    ~MessageComposer();

    // ComposeMessage for this entry.
    std::vector<std::string> plain(const Person& entry) const;
    // The complete message before attachment parts; `multipart`: attachments follow,
    // so a body line that looks like the boundary must be encoded. `copyRecipients`,
    // when given, receives the valid merged Cc and Bcc addresses, each once and never
    // the entry's own address.
    std::vector<std::string> compose(const Person& entry, bool multipart,
                                     std::vector<std::string>* copyRecipients = nullptr);

    // The header lines of the mail as written (none for a mail without a header block),
    // and the lines numbered in `which` merged for the entry into `merged`, exactly as
    // compose() merges them, before the Bcc line and lines left blank are taken out:
    // what the check before sending reads.
    std::size_t headerLineCount() const { return template_.header.size(); }
    const std::string& headerLine(std::size_t k) const { return template_.header.at(k).text; }
    void mergeHeaderLines(const Person& entry, const std::vector<std::size_t>& which,
                          std::vector<std::string>& merged) const;

private:
    // The template and values to merge: converted to UTF-8 where the message must be.
    const MailTemplate& templateFor(const Person& entry, Person& converted,
                                    const Person*& values) const;
    void merge(const Person& entry, std::vector<std::string>& header,
               std::vector<std::string>& body) const;
    std::string nextMessageId(const std::vector<std::string>& header);
    std::vector<std::string> composeFormatted(const Person& entry,
                                              std::vector<std::string> header,
                                              const std::vector<std::string>& plainBody);

    const std::vector<Field>& fields_;
    FieldIndex index_;
    bool hasHeader_;
    MailTemplate template_;
    MailTemplate utf8Template_; // a Windows-1252 template as UTF-8, for mixed messages
    unsigned templateKind_ = 0; // the non-ASCII text the template holds
    std::vector<bool> used_;    // by slot: the template holds the value's placeholder
    std::string fallbackHost_;
    MessageIdMaker ids_;
    std::unique_ptr<FormattedBodyBuilder> formatted_; // set for a Markdown mail
};

// The addresses of an address header value: "a@x, \"B, C\" <b@y>" gives a@x and
// b@y (commas inside quotes, comments or angle brackets do not separate).
std::vector<std::string> AddressesOf(std::string_view value);

// Join with CR LF, merge the entry, split again (no wrapping): the merged text of a
// list of lines, as the preview shows it. Mixed texts become UTF-8 as in a message.
std::vector<std::string> MergeLines(const std::vector<Field>& fields,
                                    const std::vector<std::string>& lines, const Person& entry);

} // namespace tandrel
