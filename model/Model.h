// SPDX-License-Identifier: GPL-3.0-or-later
// The mailing data shared by the whole program: fields, people, the recipient
// selection, attachments and the mail text. Plain data, no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/MessageLines.h"
#include "model/TextEncoding.h"

namespace tandrel {

// One field definition; its position in the field list is its column.
struct Field {
    std::string name;
};

// One person. Values are positional: values[k] belongs to field k. The list may be
// shorter or longer than the field list; nothing trims or pads it.
//
// Every entry has an identity of its own (its address, and `id`), so two people
// with the same name stay two people in every list of the program.
//
// The name and the address are what [name] and [email] merge and where messages go. A
// loaded entry takes them from its "name" and "email" columns and reads them there
// (nameIsValue/emailIsValue) rather than holding a copy: a database of a million people
// would otherwise hold every name and address twice. Written with setName/setEmail, they
// are the entry's own, apart from its values.
struct Person {
    std::uint64_t id = 0;
    std::vector<std::string> values;
    bool selected = false;
    // A row a spreadsheet cut short: the values it leaves out, up to the field count,
    // read as empty (their placeholders merge as nothing) without being stored.
    bool missingValuesEmpty = false;

    const std::string& name() const { return textAt(nameAt_, ownName_); }
    const std::string& email() const { return textAt(emailAt_, ownEmail_); }
    void setName(std::string name) {
        ownName_ = std::move(name);
        nameAt_ = kOwn;
    }
    void setEmail(std::string email) {
        ownEmail_ = std::move(email);
        emailAt_ = kOwn;
    }
    // From now on the name is values[k] (empty while there is none), whatever it becomes.
    void nameIsValue(std::size_t k) { bindTo(nameAt_, ownName_, k); }
    void emailIsValue(std::size_t k) { bindTo(emailAt_, ownEmail_, k); }
    // Before values[k] changes: a name or address read there keeps its text as its own.
    void keepOwnCopiesOf(std::size_t k) {
        if (nameAt_ != kOwn && nameAt_ == k) setName(values[k]);
        if (emailAt_ != kOwn && emailAt_ == k) setEmail(values[k]);
    }

    // Rewrites every text of the entry (its own name and address, and each value) once.
    template <class Convert> void convertTexts(Convert convert) {
        if (nameAt_ == kOwn) convert(ownName_);
        if (emailAt_ == kOwn) convert(ownEmail_);
        for (std::string& v : values)
            convert(v);
    }

private:
    static constexpr std::uint16_t kOwn = 0xFFFF;
    const std::string& textAt(std::uint16_t k, const std::string& own) const {
        static const std::string kNone;
        if (k == kOwn) return own;
        return k < values.size() ? values[k] : kNone;
    }
    // A column past what the index holds keeps a copy instead: same text, more memory.
    void bindTo(std::uint16_t& at, std::string& own, std::size_t k) {
        if (k < kOwn) {
            at = static_cast<std::uint16_t>(k);
            std::string().swap(own);
        } else {
            own = k < values.size() ? values[k] : std::string();
            at = kOwn;
        }
    }

    std::uint16_t nameAt_ = kOwn;
    std::uint16_t emailAt_ = kOwn;
    std::string ownName_;
    std::string ownEmail_;
};

// Value k of the entry as the merge reads it ("" for one a short row left out).
inline const std::string& ValueOf(const Person& entry, std::size_t k) {
    static const std::string kEmpty;
    return k < entry.values.size() ? entry.values[k] : kEmpty;
}

// How many fields pair with a value of the entry.
inline std::size_t PairedFields(std::size_t fieldCount, const Person& entry) {
    return entry.missingValuesEmpty || entry.values.size() >= fieldCount ? fieldCount
                                                                         : entry.values.size();
}

using EntryPtr = std::unique_ptr<Person>;

// The database. Whether a database exists at all is held by the owner
// (AppState::db is null when there is none), so "no database" and "empty database"
// are different states.
class Database {
public:
    std::vector<EntryPtr> entries; // database order
    std::vector<Field> fields;  // column order
    // The encoding of the file the names and values came from (new databases are UTF-8):
    // the windows show them through it and a save writes the same bytes back.
    TextEncoding encoding = TextEncoding::Utf8;

    // Creates an entry with a fresh id at the end of the entry list.
    Person& appendEntry();
    // Removes the given entry (by identity). Returns false when it is not in the list.
    bool removeEntry(const Person* entry);
    // Index of the entry in database order, or npos.
    std::size_t indexOf(const Person* entry) const;

    std::size_t entryCount() const { return entries.size(); }
    std::size_t fieldCount() const { return fields.size(); }
    std::size_t selectedCount() const;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    std::uint64_t nextId_ = 1;
};

// The first entry in database order whose name equals `name` exactly, or null.
// Only for the places that have nothing but a name; lists carry the entry itself.
Person* FindEntryByName(Database* db, const std::string& name);

// One attached file: the path as entered, and the part after its last "/" or "\".
struct Attachment {
    std::string path;
    std::string fileName;
};

// The part of a path after its last "/" or "\" (the whole path when it has neither).
std::string FileNameOfPath(const std::string& path);
Attachment MakeAttachment(const std::string& path);

// The mail as one text: header block, empty line, body lines; or the body alone.
// `encoding` is the loaded file's (new mails are UTF-8): the editors show the text
// through it and a save writes the same bytes back.
struct MailText {
    std::vector<std::string> lines;
    bool hasHeader = false;
    TextEncoding encoding = TextEncoding::Utf8;
};

// A header line of the mail besides From, To and Subject ("Cc", "Bcc", "Reply-To",
// "List-Unsubscribe", "X-..."): its name as written, and its value (placeholders
// unmerged, one line).
struct HeaderLine {
    std::string name;
    std::string value;
    bool operator==(const HeaderLine&) const = default;
};

// How the body is written: plain text, or Markdown sent as formatted mail.
enum class MailFormat { Plain, Markdown };

// The texts of the mail editors, passed in and out of the mail operations so the
// core never touches a widget. `headerLines` keeps the other header lines in their
// order; they go out after Subject.
struct MailEditors {
    std::string from;
    std::string to;
    std::string subject;
    std::vector<std::string> body;
    std::vector<HeaderLine> headerLines{};
    MailFormat format = MailFormat::Plain;
};

inline constexpr int kMaxConnections = 10;

// Settings in memory (see Settings.h for the file).
struct Preferences {
    std::string smtp;
    std::string port;
    std::string name;
    std::string fromAddress;
    std::int32_t fieldDelimiter = 59;
    char delimiterChar = ';';
    // "none" (plain HELO dialogue), "starttls" or "tls".
    std::string security = "none";
    std::string user{};     // login name; empty: no login
    int timeoutSeconds = 0; // 0: the standard time-out of each command
    int perConnection = 0;  // messages per connection; 0: unlimited
    int ratePerMinute = 0;  // 0: as fast as the server takes them
    // "yes": open with EHLO and use the relay's extensions (PIPELINING, SIZE) even
    // without encryption or login; "no": the plain HELO dialogue. Another word is kept
    // as written, for the check before sending to name.
    std::string ehlo = "no";
    int connections = 1; // connections at once to the relay, 1 to kMaxConnections
    // How the login proves itself: "password", or "oauth2" (a bearer token from the
    // token command or from the identity provider's sign-in in the browser).
    std::string auth = "password";
    std::string oauthCommand{};              // non-empty: its first output line is the token
    std::string oauthProvider = "microsoft"; // "microsoft", "google" or "custom"
    std::string oauthClientId{};
    std::string oauthClientSecret{};    // only for clients registered with one (desktop
                                        // clients of some providers); not a user secret
    std::string oauthTenant = "common"; // the directory the account belongs to
    std::string oauthAuthUrl{};         // custom provider: where the user signs in,
    std::string oauthTokenUrl{};        // where codes and refresh tokens are exchanged,
    std::string oauthScope{};           // and the permission asked for
};

struct RecentFiles {
    std::string lastMail;
    std::string lastFields;
    std::string lastDatabase;
    // The column of addresses the user chose for lastdb, a CSV file whose header row
    // calls none by a usual name; empty when it needed no choice.
    std::string lastDatabaseEmailColumn{};
};

// One prepared outgoing message.
struct OutgoingMessage {
    std::string address;
    MessageLines lines;
    // The merged Cc and Bcc addresses: more envelope recipients of the same message
    // (valid addresses only, each once, never the To address itself).
    std::vector<std::string> copyRecipients{};
    // Why the message cannot be sent after all: made only when its turn came, it found
    // a file changed since the preparation. Empty: it can.
    std::string unfit{};
};

using OutgoingList = std::vector<OutgoingMessage>;

} // namespace tandrel
